// Work split over the cores a run may use.
#pragma once

#include <cstddef>
#include <functional>

// Bytes of work below which parts are not worth waking threads for.
constexpr size_t kWorthSpreading = size_t{256} << 10;

// Runs fn(0) to fn(parts - 1) at once, fn(0) on the caller's thread; an exception of any is
// raised here. The other parts run on threads kept from one call to the next: starting a thread
// costs more than a short list's work, and a run splits its work many times. Parts for which no
// thread can be had run on the caller's, after fn(0). Without `spread`, all run there, in order:
// for work too small to be worth waking a thread.
void OnCores(int parts, const std::function<void(int)>& fn, bool spread = true);
