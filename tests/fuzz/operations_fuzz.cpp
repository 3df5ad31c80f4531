// The splitters and the five operations against a plain model of the splitting rules and the
// set properties each operation promises. The first byte picks the operation and the flags;
// the rest holds the read separator, the result separator and the two sources.
#include <algorithm>
#include <iterator>
#include <map>
#include <set>
#include <vector>

#include "core/item_list.h"
#include "core/text.h"
#include "engine/operations.h"
#include "engine/split.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/operation_texts.h"

namespace {

std::vector<Text> ModelSplit(const Text& text, const Text& separator, bool whole) {
  std::vector<Text> items;
  size_t start = 0;
  if (whole) {
    for (;;) {
      const size_t found = text.find(separator, start);
      if (found == Text::npos) break;
      items.push_back(text.substr(start, found - start));
      start = found + separator.size();
    }
  } else {
    for (size_t i = 0; i < text.size(); ++i) {
      if (separator.find(text[i]) == Text::npos) continue;
      if (i > start) items.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  items.push_back(text.substr(start));
  return items;
}

std::vector<Text> ListItems(ItemList<Text>& list) {
  std::vector<Text> items;
  ListReset(list);
  while (Text* item = ListNext(list)) items.push_back(*item);
  return items;
}

// A result as its records, each with the separator that ended it.
struct RecordSink : ResultSink {
  void Append(TextView piece) override { current.append(piece); }
  void EndRecord(TextView separator) override {
    records.push_back(current);
    joined.append(current).append(separator);
    current.clear();
  }
  std::vector<Text> records;
  Text joined;
  Text current;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto operation = static_cast<Operation>(data[0] % 5);
  const bool whole = (data[0] >> 3) & 1;
  const bool case_sensitive = (data[0] >> 4) & 1;
  std::vector<Text> fields = TextFields(data + 1, size - 1, 4);
  if (fields[0].empty()) fields[0] = u";";  // the run never lets an empty read separator through
  const Text& read_separator = fields[0];
  const Text& result_separator = fields[1];
  const Text& first = fields[2];
  const Text& second = fields[3];

  const std::vector<Text> items1 = ModelSplit(first, read_separator, whole);
  const std::vector<Text> items2 = ModelSplit(second, read_separator, whole);
  {
    auto list = NewItemList<Text>();
    (whole ? SplitWholeToList : SplitCharsToList)(first, *list, read_separator);
    FUZZ_CHECK(ListItems(*list) == items1);
  }

  const OperationInput input{first, second,        read_separator, result_separator,
                             whole, case_sensitive};
  RecordSink sink;
  const int32_t count = RunOperation(operation, input, sink);
  FUZZ_CHECK(count == FoundCount && sink.current.empty());
  const std::vector<Text>& records = sink.records;

  // The named procedure gives the same text as the sink.
  Text named;
  switch (operation) {
    case Operation::ModeOnlyInSecond:
      named = OnlyInSecond(first, second, read_separator, result_separator, whole, case_sensitive);
      break;
    case Operation::ModeInBoth:
      named = InBoth(first, second, read_separator, result_separator, whole, case_sensitive);
      break;
    case Operation::ModeDeduplicate:
      named = Deduplicate(first, read_separator, result_separator, whole, case_sensitive);
      break;
    case Operation::ModeCountUnique:
      named = CountUnique(first, read_separator, result_separator, whole, case_sensitive);
      break;
    case Operation::ModeMerge:
      named = Merge(first, second, read_separator, result_separator, whole);
      break;
  }
  FUZZ_CHECK(named == sink.joined);

  auto key = [&](const Text& item) { return case_sensitive ? item : TextLower(item); };
  std::set<Text> keys1, keys2;
  for (const Text& item : items1) keys1.insert(key(item));
  for (const Text& item : items2) keys2.insert(key(item));
  // The last occurrence of each key in the first source, and the first in the second.
  std::map<Text, Text> last1, first2;
  for (const Text& item : items1) last1[key(item)] = item;
  for (const Text& item : items2) first2.emplace(key(item), item);
  std::set<Text> emitted;
  if (operation != Operation::ModeCountUnique && operation != Operation::ModeMerge) {
    for (const Text& record : records) FUZZ_CHECK(emitted.insert(key(record)).second);
    FUZZ_CHECK(count == static_cast<int32_t>(records.size()));
  }

  switch (operation) {
    case Operation::ModeOnlyInSecond: {  // items of the second source that the first lacks, never
                                         // the empty one
      std::set<Text> expected;
      for (const Text& k : keys2) {
        if (!k.empty() && !keys1.count(k)) expected.insert(k);
      }
      FUZZ_CHECK(emitted == expected);
      for (const Text& record : records) FUZZ_CHECK(record == first2[key(record)]);
      break;
    }
    case Operation::ModeInBoth: {  // the entries of the first source whose key the second source
                                   // has
      std::set<Text> expected;
      std::set_intersection(keys1.begin(), keys1.end(), keys2.begin(), keys2.end(),
                            std::inserter(expected, expected.end()));
      FUZZ_CHECK(emitted == expected);
      for (const Text& record : records) FUZZ_CHECK(record == last1[key(record)]);
      break;
    }
    case Operation::ModeDeduplicate: {  // each item once, never the empty one, written as at its
                                        // last occurrence
      keys1.erase(Text());
      FUZZ_CHECK(emitted == keys1);
      for (const Text& record : records) FUZZ_CHECK(record == last1[key(record)]);
      break;
    }
    case Operation::ModeCountUnique: {  // the counters add up to all items, the empty ones included
      std::map<Text, int64_t> expected;
      for (const Text& item : items1) ++expected[key(item)];
      std::map<Text, int64_t> counted;
      for (const Text& record : records) {
        const size_t space = record.find(u' ');
        FUZZ_CHECK(space != Text::npos && space > 0 && record[0] != u'0');
        int64_t n = 0;
        for (size_t i = 0; i < space; ++i) {
          FUZZ_CHECK(record[i] >= u'0' && record[i] <= u'9');
          n = n * 10 + (record[i] - u'0');
        }
        FUZZ_CHECK(counted.emplace(record.substr(space + 1), n).second);
      }
      FUZZ_CHECK(counted == expected);
      FUZZ_CHECK(count == static_cast<int32_t>(expected.size()));
      break;
    }
    case Operation::ModeMerge: {  // max(|A|, |B|) lines, min(|A|, |B|) of them pairs
      const size_t pairs = std::min(items1.size(), items2.size());
      const std::vector<Text>& longer = items1.size() > items2.size() ? items1 : items2;
      FUZZ_CHECK(records.size() == longer.size());
      FUZZ_CHECK(count == static_cast<int32_t>(pairs));
      for (size_t i = 0; i < records.size(); ++i) {
        const Text line = i < pairs ? items1[i] + result_separator + items2[i] : longer[i];
        FUZZ_CHECK(records[i] == line);
      }
      break;
    }
  }
  return 0;
}
