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
  // Room for the longest result the group can have, so that writing never copies it. The items
  // that only-in-second and only-in-first keep with folded keys are written later.
  const bool kept = folds_ && (operation_ == Operation::ModeOnlyInSecond ||
                               operation_ == Operation::ModeOnlyInFirst);
  if (!kept) {
    const bool both = operation_ == Operation::ModeUnion || operation_ == Operation::ModeSymmetric;
    size_t room = 0;
    for (int k = 0; k < 2; ++k) {
      const bool shown = both || (k == 1) == (operation_ == Operation::ModeOnlyInSecond);
      if (shown && (k == 0 || two))
        room += records_[k].bytes + records_[k].records.size() * (separator_.size() + 12);
    }
    if (room > result.out.capacity()) result.out.reserve(room + room / 4);
  }
  first_records_ = records_[0].records.size();
  Make(g, result);
  return true;
}

void GroupWorker::MakeKeys(int source) {
  const GroupRecords& records = records_[source];
  ScratchVector<GroupKey>& keys = keys_[source];
  keys.clear();
  ReserveScratch(keys, records.records.size());
  const KeyHashSeed& seed = ProcessKeyHashSeed();
  if (!folds_) {
    for (const ByteRecord& r : records.records)
      keys.push_back({r.data, r.size, key_hash_detail::MixHash(r.data, r.size, seed)});
    return;
  }
  ScratchVector<unsigned char>& folded = folded_[source];
  // ё folding alone keeps the length; case folding may take three bytes for one.
  folded.resize(rules_.case_sensitive ? records.bytes + 1 : records.bytes * 3 + 1);
  unsigned char* at = folded.data();
  for (const ByteRecord& r : records.records) {
    const std::string_view key =
        ItemKey(rules_, std::string_view(reinterpret_cast<const char*>(r.data), r.size), at);
    const auto* data = reinterpret_cast<const unsigned char*>(key.data());
    keys.push_back({data, key.size(), key_hash_detail::MixHash(data, key.size(), seed)});
    if (data == at) at += key.size();
  }
}

GroupMaker::GroupMaker(Operation operation, const ItemRules& rules, SlotBuckets* const buckets[2],
                       std::string_view separator, uint64_t large_group)
    : worker_(std::make_unique<GroupWorker>(operation, rules, buckets, separator, large_group)) {}

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
