#include <algorithm>

#include "engine/byte_source.h"
#include "engine/group_worker.h"
#include "engine/table_rows.h"

// An operation writes every line of its result through Write or WriteShown: the order asked for
// comes from there, so a new operation needs nothing but its case here.
void GroupWorker::Make(uint32_t g, GroupResult& result) {
  Operate(g, result);
  PutKeptInOrder(result);
}

void GroupWorker::Operate(uint32_t g, GroupResult& result) {
  first_slot_ = g * SlotBuckets::kSlotsPerGroup;
  switch (operation_) {
    case Operation::ModeOnlyInSecond:
      OnlyInOne(1, result);
      break;
    case Operation::ModeInBoth:
      InBoth(result);
      break;
    case Operation::ModeDeduplicate:
      Deduplicate(result);
      break;
    case Operation::ModeCountUnique:
      CountUnique(result);
      break;
    case Operation::ModeOnlyInFirst:
      OnlyInOne(0, result);
      break;
    case Operation::ModeUnion:
      InEither(false, result);
      break;
    case Operation::ModeSymmetric:
      InEither(true, result);
      break;
    case Operation::ModeDuplicates:
      Duplicates(result);
      break;
    default:
      break;
  }
}

// The group's part of the order, to be merged with the others'.
void GroupWorker::PutKeptInOrder(GroupResult& result) {
  if (result.kept.size() > 1) {
    auto before = [&](const KeptItem& x, const KeptItem& y) {
      return KeptBefore(order_, result.out, x, y);
    };
    if (!std::is_sorted(result.kept.begin(), result.kept.end(), before)) {
      std::sort(result.kept.begin(), result.kept.end(), before);
      // Laid out again in their order, the lines are read one after the other as they are
      // merged, not from all over the group's memory. The result holds nothing else.
      reordered_.clear();
      for (KeptItem& line : result.kept) {
        const size_t at = reordered_.size();
        reordered_.append(result.out, line.offset, line.size).append(separator_);
        line.offset = at;
      }
      result.out.assign(reordered_);
    }
  }
}

// The line of entry e of source `source`'s table, begun at `start` in the result, ended here.
void GroupWorker::Write(GroupResult& result, const GroupEntry& e, int source, size_t start,
                        const unsigned char* data, size_t size) {
  const size_t skip = result.out.size() - start;
  result.out.append(reinterpret_cast<const char*>(data), size);
  if (order_ != ItemOrder::OrderTable) {
    // Ranked by the counter for the order of counts (nothing else has one: all rank alike) and
    // by the item's first bytes for code point order, then by where the entry's item first
    // stands, the first source's before the second's.
    uint32_t rank = 0;
    if (order_ == ItemOrder::OrderCount && HasCounts(operation_))
      rank = UINT32_MAX - static_cast<uint32_t>(std::max<int32_t>(e.count, 0));
    else if (order_ == ItemOrder::OrderSorted)
      rank = ItemPrefix(data, size);
    const uint64_t first_seen =
        records_[source].records[e.added].sequence | static_cast<uint64_t>(source) << 63;
    result.kept.push_back(
        {start, result.out.size() - start, rank, static_cast<uint32_t>(skip), first_seen});
  } else if (lines_ != nullptr) {
    // A table that takes both lists takes all of the first's records before the second's.
    const uint64_t place = places_[source][e.added] + (source == 1 ? first_records_ : 0);
    lines_->push_back({start, result.out.size() - start, first_slot_ + e.second_slot, 0, place});
  }
  result.out.append(separator_);
  ++result.count;
}

// What an entry shows: its key, or with folded keys its kept spelling.
std::string_view GroupWorker::Shown(const GroupEntry& e) const {
  if (!folds_ || e.shown_as_key) return {reinterpret_cast<const char*>(e.key), e.size};
  const ByteRecord& r = records_[e.source].records[e.shown];
  return {reinterpret_cast<const char*>(r.data), r.size};
}

void GroupWorker::WriteShown(GroupResult& result, const GroupEntry& e) {
  const std::string_view shown = Shown(e);
  Write(result, e, e.source, result.out.size(),
        reinterpret_cast<const unsigned char*>(shown.data()), shown.size());
}

namespace {

// The counter in decimal and one space, written into the end of `digits` (at most ten digits).
std::string_view CountPrefix(int32_t count, char (&digits)[16]) {
  char* end = digits + sizeof digits;
  char* at = end;
  *--at = ' ';
  uint32_t n = static_cast<uint32_t>(count);
  do {
    *--at = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0);
  return {at, static_cast<size_t>(end - at)};
}

}  // namespace

// The counter and its space, then the key (folded when keys are folded).
void GroupWorker::WriteCounted(GroupResult& result, const GroupEntry& e) {
  const size_t start = result.out.size();
  char digits[16];
  result.out.append(CountPrefix(e.count, digits));
  Write(result, e, 0, start, e.key, e.size);
}

// Every key of a source into table_, the last spelling of each kept, and counted. A key that the
// other source brought first keeps its entry and its spelling from there, and is marked as in
// both.
void GroupWorker::AddAll(int source) {
  const ScratchVector<GroupKey>& keys = keys_[source];
  const ScratchVector<ByteRecord>& records = records_[source].records;
  bool added;
  for (size_t i = 0; i < keys.size(); ++i) {
    GroupEntry& e = table_.Ensure(keys[i], SlotOf(records, i), static_cast<uint32_t>(i), added);
    ++e.count;
    if (added) e.source = static_cast<uint8_t>(source);
    if (e.source == source) {
      e.shown = static_cast<uint32_t>(i);
      e.shown_as_key =
          keys_only_ || (keys[i].data == records[i].data && keys[i].size == records[i].size);
    } else {
      e.mark = true;
    }
  }
}

void GroupWorker::Deduplicate(GroupResult& result) {
  table_.Reset(keys_[0].size());
  AddAll(0);
  if (WritesInPlace()) {
    // Each entry shows one record of its own: their bytes and a separator each bound the lines.
    LineWriter lines(result.out, records_[0].bytes + table_.entries.size() * separator_.size());
    table_.Walk([&](const GroupEntry& e) {
      if (e.size == 0) return;  // an empty item never reaches the result
      lines.Put(Shown(e));
      lines.Put(separator_);
      ++result.count;
    });
    return;
  }
  table_.Walk([&](const GroupEntry& e) {
    if (e.size != 0) WriteShown(result, e);  // an empty item never reaches the result
  });
}

void GroupWorker::CountUnique(GroupResult& result) {
  const ScratchVector<GroupKey>& keys = keys_[0];
  const ScratchVector<ByteRecord>& records = records_[0].records;
  table_.Reset(keys.size());
  bool added;
  for (size_t i = 0; i < keys.size(); ++i)
    ++table_.Ensure(keys[i], SlotOf(records, i), static_cast<uint32_t>(i), added).count;
  if (WritesInPlace()) {
    // A key of its own for each entry, a count of at most ten digits and a space, a separator.
    size_t most = 0;
    for (const GroupEntry& e : table_.entries) most += e.size;
    LineWriter lines(result.out, most + table_.entries.size() * (11 + separator_.size()));
    table_.Walk([&](const GroupEntry& e) {
      char digits[16];
      lines.Put(CountPrefix(e.count, digits));
      lines.Put(e.key, e.size);
      lines.Put(separator_);
      ++result.count;
    });
    return;
  }
  table_.Walk([&](const GroupEntry& e) { WriteCounted(result, e); });
}

// The items that occur more than once, each shown as dedupe shows it; never the empty item,
// which a list's blank lines and its final line end repeat.
void GroupWorker::Duplicates(GroupResult& result) {
  table_.Reset(keys_[0].size());
  AddAll(0);
  table_.Walk([&](const GroupEntry& e) {
    if (e.count > 1 && e.size != 0) WriteShown(result, e);
  });
}

void GroupWorker::InBoth(GroupResult& result) {
  if (keys_[1].empty()) return;
  table_.Reset(keys_[0].size());
  AddAll(0);
  for (const GroupKey& key : keys_[1])
    if (GroupEntry* e = table_.Find(key)) e->mark = true;
  table_.Walk([&](const GroupEntry& e) {
    if (e.mark) WriteShown(result, e);
  });
}

// Only-in-second (source 1) and its mirror only-in-first (source 0): the keys of the source that
// the other lacks, in the walk of a table of their own, each written as at its first occurrence.
void GroupWorker::OnlyInOne(int source, GroupResult& result) {
  const ScratchVector<GroupKey>& keys = keys_[source];
  const ScratchVector<ByteRecord>& records = records_[source].records;
  if (keys.empty()) return;
  table_.Reset(keys_[1 - source].size());
  AddAll(1 - source);
  found_.Reset(keys.size());
  // With folded keys the table's walk goes by the spelling kept, whose slot may lie in any
  // group: those items are put in order across groups. Any other order takes the lines as they
  // come.
  const bool keep_spelling = rules_.folds() && order_ == ItemOrder::OrderTable;
  bool added;
  for (size_t i = 0; i < keys.size(); ++i) {
    // An empty item always counts as present in the other list.
    if (keys[i].size == 0 || table_.Find(keys[i]) != nullptr) continue;
    GroupEntry& e = found_.Ensure(keys[i], SlotOf(records, i), static_cast<uint32_t>(i), added);
    if (!added) continue;
    e.source = static_cast<uint8_t>(source);
    if (keep_spelling) {
      const ByteRecord& r = records[i];
      // A whole row is filed under its item's spelling, as the item would be.
      if (spelling_.size() < r.size) spelling_.resize(r.size);
      const std::string_view item = RecordItem(
          rules_, source, std::string_view(reinterpret_cast<const char*>(r.data), r.size),
          spelling_.data());
      const uint32_t slot =
          Utf8Slot(reinterpret_cast<const unsigned char*>(item.data()), item.size());
      result.kept.push_back({result.out.size(), r.size, slot, 0, r.sequence});
      result.out.append(reinterpret_cast<const char*>(r.data), r.size);
      ++result.count;
    }
  }
  if (keep_spelling) return;
  // The spelling of an item's first occurrence in its source.
  found_.Walk([&](const GroupEntry& e) {
    if (keys_only_) {
      Write(result, e, source, result.out.size(), keys[e.added].data, keys[e.added].size);
      return;
    }
    const ByteRecord& r = records[e.added];
    Write(result, e, source, result.out.size(), r.data, r.size);
  });
}

// Union, and with in_one_only the symmetric difference: one table of the keys of both lists, the
// first's added before the second's. A key keeps the spelling of its last occurrence in the list
// that brought it first, as dedupe and in-both keep the first list's. The empty item never
// reaches the result, as in dedupe.
void GroupWorker::InEither(bool in_one_only, GroupResult& result) {
  table_.Reset(keys_[0].size() + keys_[1].size());
  AddAll(0);
  AddAll(1);
  table_.Walk([&](const GroupEntry& e) {
    if (e.size != 0 && !(in_one_only && e.mark)) WriteShown(result, e);
  });
}
