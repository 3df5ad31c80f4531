#include <algorithm>

#include "engine/byte_source.h"
#include "engine/group_worker.h"

void GroupWorker::Make(uint32_t g, GroupResult& result) {
  switch (operation_) {
    case Operation::ModeOnlyInSecond:
      OnlyInSecond(g, result);
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
    default:
      break;
  }
}

// The line of entry e of source `source`'s table, begun at `start` in the result, ended here.
void GroupWorker::Write(GroupResult& result, const GroupEntry& e, int source, size_t start,
                        const unsigned char* data, size_t size) {
  result.out.append(reinterpret_cast<const char*>(data), size);
  if (lines_ != nullptr)
    lines_->push_back({start, result.out.size() - start, e.slot, places_[source][e.added]});
  result.out.append(separator_);
  ++result.count;
}
// What an entry shows: its key, or without case its kept spelling in the first source.
void GroupWorker::WriteShown(GroupResult& result, const GroupEntry& e) {
  if (case_sensitive_) {
    Write(result, e, 0, result.out.size(), e.key, e.size);
  } else {
    const ByteRecord& r = records_[0].records[e.shown];
    Write(result, e, 0, result.out.size(), r.data, r.size);
  }
}

// Every key of the first source, the last spelling of each kept.
void GroupWorker::AddFirst() {
  const ScratchVector<GroupKey>& keys = keys_[0];
  const ScratchVector<ByteRecord>& records = records_[0].records;
  table_.Reset(keys.size());
  bool added;
  for (size_t i = 0; i < keys.size(); ++i)
    table_.Ensure(keys[i], records[i].slot, static_cast<uint32_t>(i), added).shown =
        static_cast<uint32_t>(i);
}

void GroupWorker::Deduplicate(uint32_t g, GroupResult& result) {
  AddFirst();
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
  table_.Walk(g, [&](const GroupEntry& e) {
    // The counter in decimal and one space, then the key (folded when case does not count).
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
  });
}

void GroupWorker::InBoth(uint32_t g, GroupResult& result) {
  if (keys_[1].empty()) return;
  AddFirst();
  for (const GroupKey& key : keys_[1])
    if (GroupEntry* e = table_.Find(key)) e->mark = true;
  table_.Walk(g, [&](const GroupEntry& e) {
    if (e.mark) WriteShown(result, e);
  });
}

void GroupWorker::OnlyInSecond(uint32_t g, GroupResult& result) {
  const ScratchVector<GroupKey>& keys = keys_[1];
  const ScratchVector<ByteRecord>& records = records_[1].records;
  if (keys.empty()) return;
  AddFirst();
  found_.Reset(keys.size());
  // Room for every item, so that the kept bytes are never copied as they grow.
  if (!case_sensitive_) result.kept_bytes.reserve(records_[1].bytes);
  bool added;
  for (size_t i = 0; i < keys.size(); ++i) {
    // An empty item of the second source always counts as present in the first.
    if (keys[i].size == 0 || table_.Find(keys[i]) != nullptr) continue;
    found_.Ensure(keys[i], records[i].slot, static_cast<uint32_t>(i), added);
    if (added && !case_sensitive_) {
      const ByteRecord& r = records[i];
      result.kept.push_back(
          {result.kept_bytes.size(), r.size, Utf8Slot(r.data, r.size), r.sequence});
      result.kept_bytes.append(reinterpret_cast<const char*>(r.data), r.size);
    }
  }
  if (case_sensitive_)
    found_.Walk(
        g, [&](const GroupEntry& e) { Write(result, e, 1, result.out.size(), e.key, e.size); });
  else
    std::sort(result.kept.begin(), result.kept.end(), KeptBefore);
}
