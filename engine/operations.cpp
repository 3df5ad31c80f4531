#include "engine/operations.h"

#include "core/item_table.h"
#include "engine/split.h"

int32_t FoundCount = 0;

namespace {

constexpr int32_t kSlots = 512;
constexpr TextView kLineEnd = u"\r\n";

void EmitWithSeparator(ResultSink& sink, TextView text, TextView separator) {
  sink.Append(text);
  sink.EndRecord(separator);
}

// Reads the items of a source in batches, prefetching the table slots they will look up.
template <typename Fn, typename... Tables>
void ForEachKeyedItem(const OperationInput& in, TextView text, Fn&& fn, const Tables&... ahead) {
  KeyedItemReader reader(text, in.read_separator, in.whole_separator_flag != 0,
                         in.case_flag != 0);
  ItemBatch batch;
  while (reader.Read(batch)) {
    ForEachPrefetched(
        batch, [&](int k) { fn(batch.items[k], batch.keys[k], batch.hashes[k]); }, ahead...);
  }
}

// Tables whose values are never read, or read only as a mark.
using KeyTable = ItemTable<uint32_t>;

int32_t DoOnlyInSecond(const OperationInput& in, ResultSink& sink) {
  // The first list's table usually is the largest; declared first, it is released last, when it
  // alone holds slots of the shared pool and can drop them all at once.
  auto first = NewItemTable<uint32_t>(kSlots);
  auto found = NewItemTable<uint32_t>(kSlots);
  SplitToTable(in.first, *first, in.read_separator, in.whole_separator_flag != 0, in.case_flag);
  // An empty item of the second source always counts as present in the first.
  Required(TableAdd(*first, TextView()));
  if (in.case_flag != 0) {
    ForEachKeyedItem(
        in, in.second,
        [&](TextView item, TextView, uint32_t hash) {
          if (first->Find(item, hash) == nullptr) Required(found->Add(item, hash, false));
        },
        *first, *found);
  } else {
    // Each folded form enters once, written as at its first occurrence in the second source.
    auto seen_folded = NewItemTable<uint32_t>(kSlots);
    ForEachKeyedItem(
        in, in.second,
        [&](TextView item, TextView key, uint32_t hash) {
          if (first->Find(key, hash) != nullptr || seen_folded->Find(key, hash) != nullptr) return;
          Required(seen_folded->AddNew(key, hash, true));
          Required(found->AddNew(item, StringHash(item), false));
        },
        *first, *seen_folded);
  }
  first->ReleaseLookupIndex();
  found->ReleaseLookupIndex();
  found->ForEach([&](const auto& e) { EmitWithSeparator(sink, e.Key(), in.result_separator); });
  return TableCount(*found);
}

uint32_t& Mark(uint32_t& value) { return value; }
uint32_t& Mark(TextRef& value) { return value.mark; }
TextView Shown(const TableEntry<uint32_t>& e) { return e.Key(); }
TextView Shown(const TableEntry<TextRef>& e) { return e.value.view(); }

// With case told apart the keys are shown; without, the unfolded spelling kept as the value.
template <typename Value>
int32_t InBothWith(const OperationInput& in, ResultSink& sink) {
  auto table = NewItemTable<Value>(kSlots);
  SplitToTable(in.first, *table, in.read_separator, in.whole_separator_flag != 0, in.case_flag);
  // The filter keeps the entries whose key occurs among the second source's items and drops the
  // others; marking and then emitting the marked entries is the same as removing the rest.
  int32_t kept = 0;
  ForEachKeyedItem(
      in, in.second,
      [&](TextView, TextView key, uint32_t hash) {
        Value* value = table->Find(key, hash);
        if (value != nullptr && Mark(*value) == 0) {
          Mark(*value) = 1;
          ++kept;
        }
      },
      *table);
  table->ReleaseLookupIndex();
  table->ForEach([&](const auto& e) {
    if (Mark(const_cast<Value&>(e.value)) == 0) return;
    EmitWithSeparator(sink, Shown(e), in.result_separator);
  });
  return kept;
}

int32_t DoInBoth(const OperationInput& in, ResultSink& sink) {
  return in.case_flag != 0 ? InBothWith<uint32_t>(in, sink) : InBothWith<TextRef>(in, sink);
}

template <typename Value>
int32_t DeduplicateWith(const OperationInput& in, ResultSink& sink) {
  auto table = NewItemTable<Value>(kSlots);
  SplitToTable(in.first, *table, in.read_separator, in.whole_separator_flag != 0, in.case_flag);
  TableRemove(*table, TextView());  // an empty item never reaches the result
  table->ReleaseLookupIndex();
  table->ForEach([&](const auto& e) { EmitWithSeparator(sink, Shown(e), in.result_separator); });
  return TableCount(*table);
}

int32_t DoDeduplicate(const OperationInput& in, ResultSink& sink) {
  return in.case_flag != 0 ? DeduplicateWith<uint32_t>(in, sink)
                           : DeduplicateWith<TextRef>(in, sink);
}

int32_t DoCountUnique(const OperationInput& in, ResultSink& sink) {
  auto counts = NewItemTable<int32_t>(kSlots);
  const bool case_sensitive = in.case_flag != 0;
  KeyedItemReader reader(in.first, in.read_separator, in.whole_separator_flag != 0,
                         case_sensitive);
  ItemBatch batch;
  while (reader.Read(batch)) {
    ForEachPrefetched(
        batch,
        [&](int k) {
          if (int32_t* counter = counts->Find(batch.keys[k], batch.hashes[k])) {
            ++*counter;
          } else {
            *Required(counts->AddNew(batch.keys[k], batch.hashes[k], !case_sensitive)) = 1;
          }
        },
        *counts);
  }
  counts->ReleaseLookupIndex();
  counts->ForEach([&](const auto& e) {
    // The counter in decimal and one space, then the key.
    char16_t digits[16];
    char16_t* end = digits + 16;
    char16_t* at = end;
    *--at = u' ';
    uint32_t n = static_cast<uint32_t>(e.value);
    do {
      *--at = static_cast<char16_t>(u'0' + n % 10);
      n /= 10;
    } while (n != 0);
    sink.Append(TextView(at, static_cast<size_t>(end - at)));
    EmitWithSeparator(sink, e.Key(), in.result_separator);
  });
  return TableCount(*counts);
}

int32_t DoMerge(const OperationInput& in, ResultSink& sink) {
  const bool whole = in.whole_separator_flag != 0;
  ItemSplitter first(in.first, in.read_separator, whole);
  ItemSplitter second(in.second, in.read_separator, whole);
  TextView a, b;
  bool has_a = first.Next(a);
  bool has_b = second.Next(b);
  int32_t pairs = 0;
  while (has_a && has_b) {
    sink.Append(a);
    sink.Append(in.result_separator);
    sink.Append(b);
    sink.EndRecord(kLineEnd);
    ++pairs;
    has_a = first.Next(a);
    has_b = second.Next(b);
  }
  // The rest of the longer list, line by line, with nothing to mark the missing partner.
  for (; has_a; has_a = first.Next(a)) EmitWithSeparator(sink, a, kLineEnd);
  for (; has_b; has_b = second.Next(b)) EmitWithSeparator(sink, b, kLineEnd);
  return pairs;
}

}  // namespace

int32_t RunOperation(int operation, const OperationInput& input, ResultSink& sink) {
  int32_t count = 0;
  switch (operation) {
    case 0: count = DoOnlyInSecond(input, sink); break;
    case 1: count = DoInBoth(input, sink); break;
    case 2: count = DoDeduplicate(input, sink); break;
    case 3: count = DoCountUnique(input, sink); break;
    case 4: count = DoMerge(input, sink); break;
    default: break;
  }
  FoundCount = count;
  return count;
}

namespace {

Text RunToText(int operation, const OperationInput& input) {
  TextSink sink;
  RunOperation(operation, input, sink);
  return std::move(sink.text);
}

}  // namespace

Text OnlyInSecond(TextView first, TextView second, TextView read_separator,
                  TextView result_separator, int whole_separator_flag, int case_flag) {
  return RunToText(0, {first, second, read_separator, result_separator, whole_separator_flag,
                       case_flag});
}

Text InBoth(TextView first, TextView second, TextView read_separator, TextView result_separator,
            int whole_separator_flag, int case_flag) {
  return RunToText(1, {first, second, read_separator, result_separator, whole_separator_flag,
                       case_flag});
}

Text Deduplicate(TextView first, TextView read_separator, TextView result_separator,
                 int whole_separator_flag, int case_flag) {
  return RunToText(2, {first, {}, read_separator, result_separator, whole_separator_flag,
                       case_flag});
}

Text CountUnique(TextView first, TextView read_separator, TextView result_separator,
                 int whole_separator_flag, int case_flag) {
  return RunToText(3, {first, {}, read_separator, result_separator, whole_separator_flag,
                       case_flag});
}

Text Merge(TextView first, TextView second, TextView read_separator, TextView result_separator,
           int whole_separator_flag) {
  return RunToText(4, {first, second, read_separator, result_separator, whole_separator_flag, 1});
}
