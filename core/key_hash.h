// The lookup hash of the tables' index: a 64-bit hash of the whole key under a secret seed drawn
// once per process.
//
// The slot hash that fixes the walk order (StringHash) is public and weak: distinct keys with one
// slot hash are easy to make, and a list of them would turn every lookup into a walk over all of
// them. Lookups therefore go by this hash, which an outsider cannot aim at without the seed.
//
// Every item of a run is hashed once, so the hash must cost little next to splitting it: each 16
// bytes are folded by one 64 x 64 -> 128-bit multiply whose halves are added by xor, both words
// keyed by the seed. It is not a cryptographic hash; it only has to keep keys
// chosen without the seed from piling up in one place of the index, and it hashed the benchmark
// lists several times faster than SipHash-1-3.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

struct KeyHashSeed {
  uint64_t k[8];
};

// The process's seed, from the system's random source on first use.
const KeyHashSeed& ProcessKeyHashSeed();

namespace key_hash_detail {

inline uint64_t Load64(const unsigned char* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline uint64_t Load32(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline uint64_t Fold(uint64_t a, uint64_t b) {
  const unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
  return static_cast<uint64_t>(p) ^ static_cast<uint64_t>(p >> 64);
}

// A key is read as 16-byte chunks, the last one ending at the key's end (so it may overlap the
// one before); each chunk is folded on its own under its own seed words, and the folds are
// combined by one more fold with the length. The folds of a key do not wait for each other, so a
// typical item of a list costs two multiplies one after the other, however many chunks it has.
inline uint64_t MixHash(const unsigned char* p, size_t n, const KeyHashSeed& seed) {
  uint64_t x, y;
  if (n <= 16) {
    uint64_t a, b;
    if (n >= 8) {
      a = Load64(p);
      b = Load64(p + n - 8);
    } else if (n >= 4) {
      a = Load32(p);
      b = Load32(p + n - 4);
    } else {
      a = n == 0 ? 0 : (uint64_t{p[0]} << 16) | (uint64_t{p[n / 2]} << 8) | p[n - 1];
      b = 0;
    }
    x = Fold(a ^ seed.k[0], b ^ seed.k[1]);
    y = 0;
  } else if (n <= 32) {
    x = Fold(Load64(p) ^ seed.k[0], Load64(p + 8) ^ seed.k[1]);
    y = Fold(Load64(p + n - 16) ^ seed.k[2], Load64(p + n - 8) ^ seed.k[3]);
  } else if (n <= 64) {
    x = Fold(Load64(p) ^ seed.k[0], Load64(p + 8) ^ seed.k[1]) ^
        Fold(Load64(p + 16) ^ seed.k[2], Load64(p + 24) ^ seed.k[3]);
    y = Fold(Load64(p + n - 32) ^ seed.k[4], Load64(p + n - 24) ^ seed.k[5]) ^
        Fold(Load64(p + n - 16) ^ seed.k[6], Load64(p + n - 8) ^ seed.k[7]);
  } else {
    // Longer keys: two running states, 32 bytes a step, each chained through its own fold.
    x = seed.k[4];
    y = seed.k[5];
    size_t rest = n;
    for (; rest > 32; rest -= 32, p += 32) {
      x = Fold(Load64(p) ^ seed.k[0], Load64(p + 8) ^ x);
      y = Fold(Load64(p + 16) ^ seed.k[2], Load64(p + 24) ^ y);
    }
    x ^= Fold(Load64(p + rest - 32) ^ seed.k[6], Load64(p + rest - 24) ^ seed.k[1]);
    y ^= Fold(Load64(p + rest - 16) ^ seed.k[7], Load64(p + rest - 8) ^ seed.k[3]);
  }
  return Fold(x ^ seed.k[2] ^ n, y ^ seed.k[7]);
}

}  // namespace key_hash_detail
