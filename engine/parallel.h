// Work split over the cores a run may use, with the standard library's threads.
#pragma once

#include <exception>
#include <system_error>
#include <thread>
#include <vector>

// Runs fn(0) to fn(parts - 1), each on a thread of its own, the caller's among them; an
// exception of any is raised here. Parts whose thread cannot be started run on the caller's.
template <typename Fn>
void OnCores(int parts, Fn&& fn) {
  if (parts <= 1) {
    if (parts == 1) fn(0);
    return;
  }
  std::vector<std::exception_ptr> errors(static_cast<size_t>(parts));
  int started = 0;
  {
    std::vector<std::jthread> others;
    others.reserve(static_cast<size_t>(parts - 1));
    try {
      for (int part = 1; part < parts; ++part) {
        others.emplace_back([&fn, &errors, part] {
          try {
            fn(part);
          } catch (...) {
            errors[static_cast<size_t>(part)] = std::current_exception();
          }
        });
        started = part;
      }
    } catch (const std::system_error&) {
      // No room for more threads: the caller takes the parts that have none.
    }
    try {
      fn(0);
      for (int part = started + 1; part < parts; ++part) fn(part);
    } catch (...) {
      errors[0] = std::current_exception();
    }
  }
  for (const std::exception_ptr& error : errors)
    if (error) std::rethrow_exception(error);
}
