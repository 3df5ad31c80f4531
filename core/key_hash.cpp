#include "core/key_hash.h"

#include <sys/random.h>

#include <cerrno>
#include <chrono>

namespace {

KeyHashSeed DrawSeed() {
  KeyHashSeed seed{};
  auto* bytes = reinterpret_cast<unsigned char*>(&seed);
  size_t got = 0;
  while (got < sizeof seed) {
    const ssize_t n = getrandom(bytes + got, sizeof seed - got, 0);
    if (n > 0) {
      got += static_cast<size_t>(n);
    } else if (n < 0 && errno != EINTR) {
      break;
    }
  }
  if (got < sizeof seed) {
    // No random source at all (a very old kernel or a sandbox that forbids the call): a seed
    // that at least differs from run to run beats a fixed one.
    uint64_t x =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        reinterpret_cast<uintptr_t>(&seed);
    for (uint64_t& k : seed.k) {
      x += 0x9E3779B97F4A7C15ull;  // splitmix64
      uint64_t z = x;
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      k ^= z ^ (z >> 31);
    }
  }
  return seed;
}

}  // namespace

const KeyHashSeed& ProcessKeyHashSeed() {
  static const KeyHashSeed seed = DrawSeed();
  return seed;
}
