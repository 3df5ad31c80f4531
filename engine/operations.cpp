#include "engine/operations.h"

#include <algorithm>
#include <span>
#include <vector>

#include "core/item_table.h"
#include "core/utf8.h"
#include "engine/slot_partition.h"
#include "engine/split.h"

int32_t FoundCount = 0;

void ResultSink::AppendUtf8Block(std::string_view block, std::string_view final_separator) {
  Append(TextFromUtf8(block.substr(0, block.size() - final_separator.size())));
  block_separator_ = TextFromUtf8(final_separator);
  EndRecord(block_separator_);
}

namespace {

void EmitWithSeparator(ResultSink& sink, TextView text, TextView separator) {
  sink.Append(text);
  sink.EndRecord(separator);
}

// Every operation but Merge builds its tables one slot at a time (see SlotPartition): a table of
// one slot walks its entries newest first, exactly as the chain of that slot in a 512-slot table.
// Such a table takes every key into its one slot, whatever the key's StringHash.
constexpr int32_t kOneSlot = 1;
constexpr uint32_t kAnyHash = 0;

// Visits the items of one slot in the order of the source with their keys (folded into a scratch
// buffer when case does not count) and the keys' LookupHash, fetching the items' text some way
// ahead: the items of a slot lie all over the source.
class SlotReader {
 public:
  explicit SlotReader(bool case_sensitive) : case_sensitive_(case_sensitive) {}

  template <typename Fn>
  void ForEach(const SlotPartition& partition, uint32_t slot, Fn&& fn) {
    const std::span<const SlotItem> items = partition.Slot(slot);
    constexpr size_t kAhead = 16;
    const size_t n = items.size();
    for (size_t k = 0; k < n && k < kAhead; ++k) __builtin_prefetch(items[k].data);
    for (size_t k = 0; k < n; ++k) {
      if (k + kAhead < n) __builtin_prefetch(items[k + kAhead].data);
      const TextView item = partition.View(items[k]);
      if (case_sensitive_) {
        fn(item, item, items[k].lookup);
      } else {
        if (folded_.size() < item.size()) folded_.resize(item.size() * 2 + 16);
        TextLowerInto(item, folded_.data());
        fn(item, TextView(folded_.data(), item.size()), items[k].lookup);
      }
    }
  }

 private:
  bool case_sensitive_;
  std::vector<char16_t> folded_;
};

// Walks the slots in the order a 512-slot table walks them, passing over those where `source`
// has no items: there the operation has nothing to emit. Stops early when the run is stopped.
template <typename Fn>
void ForEachSlotWithItems(const SlotPartition& source, RunProgress* progress, Fn&& fn) {
  for (uint32_t s = 0; s < SlotPartition::kSlots; ++s) {
    if (!GoOn(progress, RunPhase::Working, s, SlotPartition::kSlots)) return;
    if (!source.Slot(s).empty()) fn(s);
  }
}

bool Stopped(const OperationInput& in) {
  return in.progress != nullptr && in.progress->stopped();
}

SlotPartition Partition(const OperationInput& in, TextView text) {
  return SlotPartition(text, in.read_separator, in.whole_separator, in.case_sensitive);
}

// Makes the table ready for the items of the next slot.
template <typename Value>
void StartSlot(ItemTable<Value>& table, size_t items) {
  TableClear(table);
  table.ReserveKeys(items);
}

// Adds the items of one slot of the first source as keys; with case not told apart the key is
// folded (and copied) and a TextRef value keeps the last occurrence as it is written.
template <typename Value>
void AddSlotKeys(ItemTable<Value>& table, SlotReader& reader, const SlotPartition& partition,
                 uint32_t slot, bool case_sensitive) {
  reader.ForEach(partition, slot, [&](TextView item, TextView key, uint32_t lookup) {
    Value* value = Required(table.Add(key, kAnyHash, lookup, !case_sensitive));
    if constexpr (std::is_same_v<Value, TextRef>) {
      if (!case_sensitive) {
        value->data = item.data();
        value->size = item.size();
      }
    }
  });
}

uint32_t& Mark(uint32_t& value) {
  return value;
}
uint32_t& Mark(TextRef& value) {
  return value.mark;
}
TextView Shown(const TableEntry<uint32_t>& e) {
  return e.Key();
}
TextView Shown(const TableEntry<TextRef>& e) {
  return e.value.view();
}

int32_t DoOnlyInSecond(const OperationInput& in, ResultSink& sink) {
  const bool case_sensitive = in.case_sensitive;
  const SlotPartition first(Partition(in, in.first));
  const SlotPartition second(Partition(in, in.second));
  SlotReader reader(case_sensitive);
  auto present = NewItemTable<uint32_t>(kOneSlot);
  auto found = NewItemTable<uint32_t>(kOneSlot);
  int32_t count = 0;
  if (case_sensitive) {
    // B's keys are the items themselves, so B's slots are the lookup slots.
    ForEachSlotWithItems(second, in.progress, [&](uint32_t s) {
      StartSlot(*present, first.Slot(s).size() + 1);
      AddSlotKeys(*present, reader, first, s, true);
      // An empty item of the second source always counts as present in the first.
      if (s == 0) Required(TableAdd(*present, TextView()));
      StartSlot(*found, second.Slot(s).size());
      reader.ForEach(second, s, [&](TextView item, TextView, uint32_t lookup) {
        if (present->Find(item, kAnyHash, lookup) == nullptr)
          Required(found->Add(item, kAnyHash, lookup, false));
      });
      found->ForEach([&](const auto& e) { EmitWithSeparator(sink, e.Key(), in.result_separator); });
      count += TableCount(*found);
    });
    return count;
  }
  // Without case, lookups go by the folded form, but B keeps each item as first written and
  // walks by the hash of that spelling: the items found are gathered, then ordered as B's slots
  // and chains would hold them (a later item of the second source is a newer entry).
  struct Kept {
    TextView item;
    uint32_t hash;  // StringHash of the item as written: its slot in B
  };
  std::vector<Kept> kept;
  ForEachSlotWithItems(second, in.progress, [&](uint32_t s) {
    StartSlot(*present, first.Slot(s).size() + 1);
    AddSlotKeys(*present, reader, first, s, false);
    if (s == 0) Required(TableAdd(*present, TextView()));
    StartSlot(*found, second.Slot(s).size());  // here: the folded forms met so far
    reader.ForEach(second, s, [&](TextView item, TextView key, uint32_t lookup) {
      if (present->Find(key, kAnyHash, lookup) != nullptr ||
          found->Find(key, kAnyHash, lookup) != nullptr)
        return;
      Required(found->AddNew(key, kAnyHash, lookup, true));
      kept.push_back({item, StringHash(item)});
    });
  });
  if (Stopped(in)) return 0;
  std::vector<size_t> start(SlotPartition::kSlots + 1, 0);
  for (const Kept& item : kept) ++start[item.hash % SlotPartition::kSlots + 1];
  for (uint32_t s = 0; s < SlotPartition::kSlots; ++s) start[s + 1] += start[s];
  std::vector<const Kept*> ordered(kept.size());
  std::vector<size_t> next(start.begin(), start.end() - 1);
  for (const Kept& item : kept) ordered[next[item.hash % SlotPartition::kSlots]++] = &item;
  for (uint32_t s = 0; s < SlotPartition::kSlots; ++s) {
    // Newest first: the item standing later in the second source was added later.
    std::sort(ordered.begin() + static_cast<std::ptrdiff_t>(start[s]),
              ordered.begin() + static_cast<std::ptrdiff_t>(start[s + 1]),
              [](const Kept* a, const Kept* b) { return a->item.data() > b->item.data(); });
  }
  for (const Kept* item : ordered) EmitWithSeparator(sink, item->item, in.result_separator);
  return static_cast<int32_t>(kept.size());
}

// With case told apart the keys are shown; without, the unfolded spelling kept as the value.
template <typename Value>
int32_t InBothWith(const OperationInput& in, ResultSink& sink) {
  const bool case_sensitive = in.case_sensitive;
  const SlotPartition first(Partition(in, in.first));
  const SlotPartition second(Partition(in, in.second));
  SlotReader reader(case_sensitive);
  auto table = NewItemTable<Value>(kOneSlot);
  int32_t kept = 0;
  ForEachSlotWithItems(first, in.progress, [&](uint32_t s) {
    if (second.Slot(s).empty()) return;
    StartSlot(*table, first.Slot(s).size());
    AddSlotKeys(*table, reader, first, s, case_sensitive);
    // The filter keeps the entries whose key occurs among the second source's items and drops
    // the others; marking and then emitting the marked entries is the same as removing the rest.
    reader.ForEach(second, s, [&](TextView, TextView key, uint32_t lookup) {
      Value* value = table->Find(key, kAnyHash, lookup);
      if (value != nullptr && Mark(*value) == 0) {
        Mark(*value) = 1;
        ++kept;
      }
    });
    table->ForEach([&](const auto& e) {
      if (Mark(const_cast<Value&>(e.value)) != 0)
        EmitWithSeparator(sink, Shown(e), in.result_separator);
    });
  });
  return kept;
}

int32_t DoInBoth(const OperationInput& in, ResultSink& sink) {
  return in.case_sensitive ? InBothWith<uint32_t>(in, sink) : InBothWith<TextRef>(in, sink);
}

template <typename Value>
int32_t DeduplicateWith(const OperationInput& in, ResultSink& sink) {
  const bool case_sensitive = in.case_sensitive;
  const SlotPartition first(Partition(in, in.first));
  SlotReader reader(case_sensitive);
  auto table = NewItemTable<Value>(kOneSlot);
  int32_t count = 0;
  ForEachSlotWithItems(first, in.progress, [&](uint32_t s) {
    StartSlot(*table, first.Slot(s).size());
    AddSlotKeys(*table, reader, first, s, case_sensitive);
    if (s == 0) TableRemove(*table, TextView());  // an empty item never reaches the result
    table->ForEach([&](const auto& e) { EmitWithSeparator(sink, Shown(e), in.result_separator); });
    count += TableCount(*table);
  });
  return count;
}

int32_t DoDeduplicate(const OperationInput& in, ResultSink& sink) {
  return in.case_sensitive ? DeduplicateWith<uint32_t>(in, sink)
                           : DeduplicateWith<TextRef>(in, sink);
}

int32_t DoCountUnique(const OperationInput& in, ResultSink& sink) {
  const bool case_sensitive = in.case_sensitive;
  const SlotPartition first(Partition(in, in.first));
  SlotReader reader(case_sensitive);
  auto counts = NewItemTable<int32_t>(kOneSlot);
  int32_t distinct = 0;
  ForEachSlotWithItems(first, in.progress, [&](uint32_t s) {
    StartSlot(*counts, first.Slot(s).size());
    reader.ForEach(first, s, [&](TextView, TextView key, uint32_t lookup) {
      if (int32_t* counter = counts->Find(key, kAnyHash, lookup)) {
        ++*counter;
      } else {
        *Required(counts->AddNew(key, kAnyHash, lookup, !case_sensitive)) = 1;
      }
    });
    counts->ForEach([&](const auto& e) {
      // The counter in decimal and one space, then the key (folded when case does not count).
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
    distinct += TableCount(*counts);
  });
  return distinct;
}

int32_t DoMerge(const OperationInput& in, ResultSink& sink) {
  const bool whole = in.whole_separator;
  ItemSplitter first(in.first, in.read_separator, whole);
  ItemSplitter second(in.second, in.read_separator, whole);
  TextView a, b;
  bool has_a = first.Next(a);
  bool has_b = second.Next(b);
  int32_t pairs = 0;
  // Lines are cheap: the run hears of every so many of them.
  constexpr uint64_t kLinesAStep = uint64_t{1} << 16;
  uint64_t lines = 0;
  auto go_on = [&] {
    return ++lines % kLinesAStep != 0 || GoOn(in.progress, RunPhase::Working, lines, 0);
  };
  while (has_a && has_b && go_on()) {
    sink.Append(a);
    sink.Append(in.result_separator);
    sink.Append(b);
    sink.EndRecord(in.line_end);
    ++pairs;
    has_a = first.Next(a);
    has_b = second.Next(b);
  }
  // The rest of the longer list, line by line, with nothing to mark the missing partner.
  for (; has_a && go_on(); has_a = first.Next(a)) EmitWithSeparator(sink, a, in.line_end);
  for (; has_b && go_on(); has_b = second.Next(b)) EmitWithSeparator(sink, b, in.line_end);
  return pairs;
}

}  // namespace

int32_t RunOperation(Operation operation, const OperationInput& input, ResultSink& sink) {
  int32_t count = 0;
  switch (operation) {
    case Operation::ModeOnlyInSecond:
      count = DoOnlyInSecond(input, sink);
      break;
    case Operation::ModeInBoth:
      count = DoInBoth(input, sink);
      break;
    case Operation::ModeDeduplicate:
      count = DoDeduplicate(input, sink);
      break;
    case Operation::ModeCountUnique:
      count = DoCountUnique(input, sink);
      break;
    case Operation::ModeMerge:
      count = DoMerge(input, sink);
      break;
    default:
      break;
  }
  if (Stopped(input)) return -1;
  FoundCount = count;
  return count;
}
