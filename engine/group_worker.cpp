#include "engine/group_worker.h"

#include <algorithm>

#include "core/key_hash.h"
#include "engine/byte_source.h"
#include "engine/slot_buckets.h"

bool GroupWorker::Run(uint32_t g, GroupResult& result) {
  const bool two = UsesSecondSource(operation_);
  // No items, no result: most groups of a short list are empty, and making their tables would
  // cost a short run most of its time.
  if (buckets_[0]->GroupItems(g) == 0 && (!two || buckets_[1]->GroupItems(g) == 0)) return true;
  uint64_t bytes = 0;
  bool spilled = false;
  for (int k = 0; k < (two ? 2 : 1); ++k) {
    bytes += buckets_[k]->GroupBytes(g);
    spilled = spilled || buckets_[k]->spilled();
  }
  const bool made = large_group_ > 0 && spilled && bytes > large_group_
                        ? MakeInShares(g, bytes, result)
                        : MakeWhole(g, result);
  for (int k = 0; k < (two ? 2 : 1); ++k) {
    buckets_[k]->Release(g);
    for (auto& loaded : records_[k].loaded) loaded.reset();
  }
  return made;
}

bool GroupWorker::MakeWhole(uint32_t g, GroupResult& result) {
  const bool two = UsesSecondSource(operation_);
  if (!buckets_[0]->Load(g, records_[0])) return false;
  if (two && !buckets_[1]->Load(g, records_[1])) return false;
  MakeKeys(0);
  if (two) MakeKeys(1);
  // Room for the longest result the group can have, so that writing never copies it.
  const GroupRecords& shown = operation_ == Operation::ModeOnlyInSecond ? records_[1] : records_[0];
  const size_t room = shown.bytes + shown.records.size() * (separator_.size() + 12);
  if (room > result.out.capacity()) result.out.reserve(room + room / 4);
  // A line a record at most: the kept lines never move as they grow.
  if (order_ != ItemOrder::OrderTable) result.kept.reserve(shown.records.size());
  Make(g, result);
  return true;
}

void GroupWorker::MakeKeys(int source) {
  const GroupRecords& records = records_[source];
  ScratchVector<GroupKey>& keys = keys_[source];
  keys.clear();
  ReserveScratch(keys, records.records.size());
  const KeyHashSeed& seed = ProcessKeyHashSeed();
  if (case_sensitive_) {
    for (const ByteRecord& r : records.records)
      keys.push_back({r.data, r.size, key_hash_detail::MixHash(r.data, r.size, seed)});
    return;
  }
  ScratchVector<unsigned char>& folded = folded_[source];
  folded.resize(records.bytes * 3 + 1);
  unsigned char* at = folded.data();
  for (const ByteRecord& r : records.records) {
    const size_t n = FoldUtf8(r.data, r.size, at);
    keys.push_back({at, n, key_hash_detail::MixHash(at, n, seed)});
    at += n;
  }
}

GroupMaker::GroupMaker(Operation operation, bool case_sensitive, ItemOrder order,
                       SlotBuckets* const buckets[2], std::string_view separator,
                       uint64_t large_group)
    : worker_(std::make_unique<GroupWorker>(operation, case_sensitive, order, buckets, separator,
                                            large_group)) {}

GroupMaker::~GroupMaker() = default;

bool GroupMaker::Run(uint32_t g, GroupResult& result) {
  return worker_->Run(g, result);
}

bool LargeGroupResult::WriteTo(ResultSink& sink, std::string_view separator) const {
  KeptMerge merge;
  merge.Add(runs_);
  uint64_t written = 0;
  return merge.Write(
      buffer_ * std::max<size_t>(shares_, 1), sink, separator,
      [](uint64_t, uint64_t) { return true; }, written);
}
