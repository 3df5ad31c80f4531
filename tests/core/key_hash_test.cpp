#include "core/key_hash.h"

#include <gtest/gtest.h>

#include <set>

namespace {

constexpr KeyHashSeed kSeed = {{0x0123456789ABCDEFull, 0xFEDCBA9876543210ull, 0x243F6A8885A308D3ull,
                                0x13198A2E03707344ull, 0xA4093822299F31D0ull, 0x082EFA98EC4E6C89ull,
                                0x452821E638D01377ull, 0xBE5466CF34E90C6Cull}};

// Every unit of a key, at every length and position (the short, the tail and the block paths),
// and the length itself must reach the hash.
TEST(KeyHash, EveryUnitAndTheLengthCount) {
  std::set<uint64_t> of_lengths;
  for (size_t length = 0; length <= 40; ++length) {
    Text key(length, u'a');
    const uint64_t base = KeyHash(key, kSeed);
    of_lengths.insert(base);
    for (size_t at = 0; at < length; ++at) {
      for (char16_t unit : {u'b', char16_t{0x0161}, char16_t{0xFFFF}}) {
        Text changed = key;
        changed[at] = unit;
        EXPECT_NE(KeyHash(changed, kSeed), base) << "length " << length << " at " << at;
      }
    }
  }
  EXPECT_EQ(of_lengths.size(), 41u);
}

// Keys of every length class are keyed by the seed, so a list made against one seed says
// nothing of another.
TEST(KeyHash, DependsOnTheSeed) {
  for (size_t length : {0, 1, 5, 12, 30, 100}) {
    const Text key(length, u'k');
    const uint64_t base = KeyHash(key, kSeed);
    int words_that_count = 0;
    for (int word = 0; word < 8; ++word) {
      KeyHashSeed other = kSeed;
      other.k[word] ^= 1;
      words_that_count += KeyHash(key, other) != base;
    }
    EXPECT_GE(words_that_count, 2) << "length " << length;
  }
}

}  // namespace
