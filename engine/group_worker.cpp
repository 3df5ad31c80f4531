#include "engine/group_worker.h"

#include <algorithm>

#include "core/key_hash.h"
#include "engine/byte_source.h"
#include "engine/slot_buckets.h"
#include "engine/table_rows.h"

bool GroupWorker::Run(uint32_t g, GroupResult& result) {
  // Only groups that hold records come here: the result passes over the others.
  const bool two = UsesSecondSource(operation_);
  uint64_t bytes = 0;
  bool spilled = false;
  for (int k = 0; k < (two ? 2 : 1); ++k) {
    bytes += buckets_[k]->GroupBytes(g);
    spilled = spilled || buckets_[k]->spilled();
  }
  // Folded keys take room of their own, up to three bytes a byte of the items.
  const uint64_t room = folds_ ? bytes * 4 : bytes;
  keys_only_ = false;
  const bool made = large_group_ > 0 && spilled && room > large_group_
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
  // In the table's order the group's two slots are made one after the other, each with a table
  // of its own: the walk takes all of the first slot's entries before the second's anyway, and
  // half a group's keys and entries stay in the core's cache where all of them would not. Equal
  // keys are always in one slot.
  const bool apart = order_ == ItemOrder::OrderTable;
  // Keys that are the items themselves, in a slot of their own, are all an operation needs in
  // the table's order: the records are not made.
  keys_only_ = apart && !folds_;
  const LoadAs as{apart, !folds_, !keys_only_};
  if (!buckets_[0]->Load(g, records_[0], as)) return false;
  if (two && !buckets_[1]->Load(g, records_[1], as)) return false;
  // Room for the longest result the group can have, so that writing never copies it. The items
  // that only-in-second and only-in-first keep in their spelling take no separators.
  const bool both = operation_ == Operation::ModeUnion || operation_ == Operation::ModeSymmetric;
  const bool only_in_one =
      operation_ == Operation::ModeOnlyInSecond || operation_ == Operation::ModeOnlyInFirst;
  const bool kept = only_in_one && rules_.folds() && order_ == ItemOrder::OrderTable;
  size_t room = 0, lines = 0;
  for (int k = 0; k < 2; ++k) {
    const bool shown = both || (k == 1) == (operation_ == Operation::ModeOnlyInSecond);
    if (shown && (k == 0 || two)) {
      const GroupRecords& source = records_[k];
      const size_t count = keys_only_ ? source.keys.size() + source.second_keys.size()
                                      : source.records.size() + source.second_slot.size();
      room += source.bytes + source.second_bytes;
      if (!kept) room += count * (separator_.size() + 12);
      lines += count;
    }
  }
  if (room > result.out.capacity()) result.out.reserve(kept ? room : room + room / 4);
  // A line a record at most: the kept lines never move as they grow.
  if (order_ != ItemOrder::OrderTable || kept) result.kept.reserve(lines);
  for (int slot = 0; slot < (apart ? 2 : 1); ++slot) {
    if (slot == 1) {
      for (GroupRecords& source : records_) {
        std::swap(source.records, source.second_slot);
        std::swap(source.bytes, source.second_bytes);
        std::swap(source.keys, source.second_keys);
      }
    }
    part_slot_ = g * SlotBuckets::kSlotsPerGroup + static_cast<uint32_t>(slot);
    MakeKeys(0);
    if (two) MakeKeys(1);
    first_records_ = records_[0].records.size();
    Operate(g, result);
  }
  PutKeptInOrder(result);
  return true;
}

void GroupWorker::MakeKeys(int source) {
  GroupRecords& records = records_[source];
  ScratchVector<GroupKey>& keys = keys_[source];
  // The items as keys, hashed as Load parsed them: taken over, and the buffer given back.
  if (!folds_ && records.keyed) {
    std::swap(keys, records.keys);
    return;
  }
  keys.clear();
  ReserveScratch(keys, records.records.size());
  const KeyHashSeed& seed = ProcessKeyHashSeed();
  if (!folds_) {
    for (const ByteRecord& r : records.records)
      keys.push_back({r.data, r.size, key_hash_detail::MixHash(r.data, r.size, seed)});
    return;
  }
  ScratchVector<unsigned char>& folded = folded_[source];
  // ё folding alone keeps the length; case folding may take three bytes for one; the field of a
  // whole row may need its quotes taken out first.
  if (rules_.whole_rows)
    folded.resize(records.bytes * 4 + 1);
  else
    folded.resize(rules_.case_sensitive ? records.bytes + 1 : records.bytes * 3 + 1);
  unsigned char* at = folded.data();
  for (const ByteRecord& r : records.records) {
    const std::string_view record(reinterpret_cast<const char*>(r.data), r.size);
    std::string_view key;
    if (rules_.whole_rows) {
      // The row's value and the key folded from it have room of their own: four bytes a byte.
      key = RecordKey(rules_, source, record, at);
      at += r.size * 4;
    } else {
      key = ItemKey(rules_, record, at);
      if (reinterpret_cast<const unsigned char*>(key.data()) == at) at += key.size();
    }
    const auto* data = reinterpret_cast<const unsigned char*>(key.data());
    keys.push_back({data, key.size(), key_hash_detail::MixHash(data, key.size(), seed)});
  }
}

GroupMaker::GroupMaker(Operation operation, const ItemRules& rules, ItemOrder order,
                       SlotBuckets* const buckets[2], std::string_view separator,
                       uint64_t large_group)
    : worker_(std::make_unique<GroupWorker>(operation, rules, order, buckets, separator,
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
