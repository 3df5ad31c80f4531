#include "core/key_hash.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

constexpr KeyHashSeed kSeed = {{0x0123456789ABCDEFull, 0xFEDCBA9876543210ull, 0x243F6A8885A308D3ull,
                                0x13198A2E03707344ull, 0xA4093822299F31D0ull, 0x082EFA98EC4E6C89ull,
                                0x452821E638D01377ull, 0xBE5466CF34E90C6Cull}};

uint64_t Hash(const std::string& key, const KeyHashSeed& seed) {
  return key_hash_detail::MixHash(reinterpret_cast<const unsigned char*>(key.data()), key.size(),
                                  seed);
}

// Every byte of a key, at every length and position (the short, the tail and the block paths),
// and the length itself must reach the hash.
TEST(KeyHash, EveryByteAndTheLengthCount) {
  std::set<uint64_t> of_lengths;
  for (size_t length = 0; length <= 80; ++length) {
    const std::string key(length, 'a');
    const uint64_t base = Hash(key, kSeed);
    of_lengths.insert(base);
    for (size_t at = 0; at < length; ++at) {
      for (char byte : {'b', '\xC5', '\xFF'}) {
        std::string changed = key;
        changed[at] = byte;
        EXPECT_NE(Hash(changed, kSeed), base) << "length " << length << " at " << at;
      }
    }
  }
  EXPECT_EQ(of_lengths.size(), 81u);
}

// Keys of every length class are keyed by the seed, so a list made against one seed says
// nothing of another.
TEST(KeyHash, DependsOnTheSeed) {
  for (size_t length : {0, 1, 5, 12, 30, 100}) {
    const std::string key(length, 'k');
    const uint64_t base = Hash(key, kSeed);
    int words_that_count = 0;
    for (int word = 0; word < 8; ++word) {
      KeyHashSeed other = kSeed;
      other.k[word] ^= 1;
      words_that_count += Hash(key, other) != base;
    }
    EXPECT_GE(words_that_count, 2) << "length " << length;
  }
}

}  // namespace
