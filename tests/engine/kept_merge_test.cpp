#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/kept_runs.h"
#include "tests/support/byte_sink.h"

namespace {

struct Lists {
  std::vector<std::string> bytes;
  std::vector<std::vector<KeptItem>> items;
};

// Lists of lines with counters before some items, ranks that tie and items that tie, each list in
// the order asked for, as a group leaves them; their lines are more than one thread merges.
Lists RandomLists(std::mt19937& rng, ItemOrder order, size_t count) {
  static const char* const pieces[] = {
      "a", "B", "ж", "\xED\xA0\x80", "\xEF\xBF\xBD", "\xF0\x9F\x98\x80"};
  Lists lists;
  lists.bytes.resize(count);
  lists.items.resize(count);
  uint64_t sequence = 0;
  for (int line = 0; line < 90000; ++line) {
    const size_t k = rng() % count;
    std::string& bytes = lists.bytes[k];
    const size_t start = bytes.size();
    const uint32_t skip = rng() % 3 == 0 ? 2 : 0;
    if (skip != 0) bytes += "7 ";
    for (int n = static_cast<int>(rng() % 4); n >= 0; --n) bytes += pieces[rng() % 6];
    const auto* item = reinterpret_cast<const unsigned char*>(bytes.data() + start + skip);
    const size_t size = bytes.size() - start - skip;
    const uint32_t rank = order == ItemOrder::OrderSorted ? ItemPrefix(item, size) : rng() % 4;
    lists.items[k].push_back({start, bytes.size() - start, rank, skip, sequence += 1 + rng() % 5});
    bytes += ",";
  }
  for (size_t k = 0; k < count; ++k)
    std::sort(lists.items[k].begin(), lists.items[k].end(),
              [&](const KeptItem& x, const KeptItem& y) {
                return KeptBefore(order, lists.bytes[k], x, y);
              });
  return lists;
}

// However the lists are merged (on one thread, in parts on several, some read back from disk),
// the lines come in the one order the comparison gives.
TEST(KeptMerge, WritesEveryOrderAlikeOnAnyThreadsAndFromDisk) {
  std::mt19937 rng(20261209);
  for (ItemOrder order : {ItemOrder::OrderTable, ItemOrder::OrderFirst, ItemOrder::OrderSorted,
                          ItemOrder::OrderCount}) {
    const Lists lists = RandomLists(rng, order, 9);
    struct Line {
      std::string bytes;
      KeptItem item;
    };
    std::vector<Line> all;
    for (size_t k = 0; k < lists.items.size(); ++k)
      for (const KeptItem& item : lists.items[k])
        all.push_back({lists.bytes[k].substr(item.offset, item.size), item});
    std::stable_sort(all.begin(), all.end(), [&](const Line& x, const Line& y) {
      return LineBefore(order, x.item.slot, x.item.sequence,
                        std::string_view(x.bytes).substr(x.item.skip), y.item.slot, y.item.sequence,
                        std::string_view(y.bytes).substr(y.item.skip));
    });
    std::string expected;
    for (const Line& line : all) expected += line.bytes + ",";

    KeptRuns on_disk;
    for (size_t k = 0; k < 3; ++k) ASSERT_TRUE(on_disk.Add(lists.items[k], lists.bytes[k]));
    for (int threads : {1, 2, 3}) {
      for (bool disk : {false, true}) {
        KeptMerge merge(order);
        for (size_t k = disk ? 3 : 0; k < lists.items.size(); ++k)
          merge.Add(KeptList{&lists.items[k], lists.bytes[k]});
        if (disk) merge.Add(on_disk);
        ByteSink sink;
        uint64_t written = 0;
        ASSERT_TRUE(merge.Write(
            1 << 20, sink, ",", [](uint64_t, uint64_t) { return true; }, written, threads));
        EXPECT_EQ(written, all.size());
        EXPECT_EQ(sink.bytes() + ",", expected)
            << "order " << static_cast<int>(order) << ", threads " << threads << ", disk " << disk;
      }
    }
  }
}

}  // namespace
