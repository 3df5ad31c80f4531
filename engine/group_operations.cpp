#include <algorithm>

#include "engine/byte_source.h"
#include "engine/group_worker.h"

void GroupWorker::Make(uint32_t g, GroupResult& result) {
  switch (operation_) {
    case Operation::ModeOnlyInSecond:
      OnlyInOne(g, 1, result);
      break;
    case Operation::ModeInBoth:
      InBoth(g, result);
      break;
    case Operation::ModeDeduplicate:
      Deduplicate(g, result);
      break;
    case Operation::ModeCountUnique:
      CountUnique(g, result);
      break;
    case Operation::ModeOnlyInFirst:
      OnlyInOne(g, 0, result);
      break;
    case Operation::ModeUnion:
      InEither(g, false, result);
      break;
    case Operation::ModeSymmetric:
      InEither(g, true, result);
      break;
    case Operation::ModeDuplicates:
      Duplicates(g, result);
      break;
    default:
      break;
  }
}

// The line of entry e of source `source`'s table, begun at `start` in the result, ended here.
void GroupWorker::Write(GroupResult& result, const GroupEntry& e, int source, size_t start,
                        const unsigned char* data, size_t size) {
  result.out.append(reinterpret_cast<const char*>(data), size);
  if (lines_ != nullptr) {
    // A table that takes both lists takes all of the first's records before the second's.
    const uint64_t place = places_[source][e.added] + (source == 1 ? first_records_ : 0);
    lines_->push_back({start, result.out.size() - start, e.slot, place});
  }
  result.out.append(separator_);
  ++result.count;
}

// What an entry shows: its key, or with folded keys its kept spelling.
void GroupWorker::WriteShown(GroupResult& result, const GroupEntry& e) {
  if (!folds_ || e.shown_as_key) {
    Write(result, e, e.source, result.out.size(), e.key, e.size);
  } else {
    const ByteRecord& r = records_[e.source].records[e.shown];
    Write(result, e, e.source, result.out.size(), r.data, r.size);
  }
}

// The counter in decimal and one space, then the key (folded when keys are folded).
void GroupWorker::WriteCounted(GroupResult& result, const GroupEntry& e) {
  const size_t start = result.out.size();
  char digits[16];
  char* end = digits + sizeof digits;
  char* at = end;
  *--at = ' ';
  uint32_t n = static_cast<uint32_t>(e.count);
  do {
    *--at = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0);
  result.out.append(at, static_cast<size_t>(end - at));
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
    GroupEntry& e = table_.Ensure(keys[i], records[i].slot, static_cast<uint32_t>(i), added);
    ++e.count;
    if (added) e.source = static_cast<uint8_t>(source);
    if (e.source == source) {
      e.shown = static_cast<uint32_t>(i);
      e.shown_as_key = keys[i].data == records[i].data;
    } else {
      e.mark = true;
    }
  }
}

void GroupWorker::Deduplicate(uint32_t g, GroupResult& result) {
  table_.Reset(keys_[0].size());
  AddAll(0);
  table_.Walk(g, [&](const GroupEntry& e) {
    if (e.size != 0) WriteShown(result, e);  // an empty item never reaches the result
  });
}

void GroupWorker::CountUnique(uint32_t g, GroupResult& result) {
  const ScratchVector<GroupKey>& keys = keys_[0];
  const ScratchVector<ByteRecord>& records = records_[0].records;
  table_.Reset(keys.size());
  bool added;
  for (size_t i = 0; i < keys.size(); ++i)
    ++table_.Ensure(keys[i], records[i].slot, static_cast<uint32_t>(i), added).count;
  table_.Walk(g, [&](const GroupEntry& e) { WriteCounted(result, e); });
}

// The items that occur more than once, each shown as dedupe shows it; never the empty item,
// which a list's blank lines and its final line end repeat.
void GroupWorker::Duplicates(uint32_t g, GroupResult& result) {
  table_.Reset(keys_[0].size());
  AddAll(0);
  table_.Walk(g, [&](const GroupEntry& e) {
    if (e.count > 1 && e.size != 0) WriteShown(result, e);
  });
}

void GroupWorker::InBoth(uint32_t g, GroupResult& result) {
  if (keys_[1].empty()) return;
  table_.Reset(keys_[0].size());
  AddAll(0);
  for (const GroupKey& key : keys_[1])
    if (GroupEntry* e = table_.Find(key)) e->mark = true;
  table_.Walk(g, [&](const GroupEntry& e) {
    if (e.mark) WriteShown(result, e);
  });
}

// Only-in-second (source 1) and its mirror only-in-first (source 0): the keys of the source that
// the other lacks, in the walk of a table of their own, each written as at its first occurrence.
void GroupWorker::OnlyInOne(uint32_t g, int source, GroupResult& result) {
  const ScratchVector<GroupKey>& keys = keys_[source];
  const ScratchVector<ByteRecord>& records = records_[source].records;
  if (keys.empty()) return;
  table_.Reset(keys_[1 - source].size());
  AddAll(1 - source);
  found_.Reset(keys.size());
  // Room for every item, so that the kept bytes are never copied as they grow.
  if (folds_) result.kept_bytes.reserve(records_[source].bytes);
  bool added;
  for (size_t i = 0; i < keys.size(); ++i) {
    // An empty item always counts as present in the other list.
    if (keys[i].size == 0 || table_.Find(keys[i]) != nullptr) continue;
    GroupEntry& e = found_.Ensure(keys[i], records[i].slot, static_cast<uint32_t>(i), added);
    if (!added) continue;
    e.source = static_cast<uint8_t>(source);
    if (folds_) {
      // The table of these items is one of their spellings: its walk goes by the slot of the
      // spelling, which lies in any group. They are written once all groups are made.
      const ByteRecord& r = records[i];
      result.kept.push_back(
          {result.kept_bytes.size(), r.size, Utf8Slot(r.data, r.size), r.sequence});
      result.kept_bytes.append(reinterpret_cast<const char*>(r.data), r.size);
    }
  }
  if (!folds_)
    found_.Walk(g, [&](const GroupEntry& e) {
      Write(result, e, source, result.out.size(), e.key, e.size);
    });
  else
    std::sort(result.kept.begin(), result.kept.end(), KeptBefore);
}

// Union, and with in_one_only the symmetric difference: one table of the keys of both lists, the
// first's added before the second's. A key keeps the spelling of its last occurrence in the list
// that brought it first, as dedupe and in-both keep the first list's. The empty item never
// reaches the result, as in dedupe.
void GroupWorker::InEither(uint32_t g, bool in_one_only, GroupResult& result) {
  table_.Reset(keys_[0].size() + keys_[1].size());
  AddAll(0);
  AddAll(1);
  table_.Walk(g, [&](const GroupEntry& e) {
    if (e.size != 0 && !(in_one_only && e.mark)) WriteShown(result, e);
  });
}
