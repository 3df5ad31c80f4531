#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "core/key_hash.h"
#include "engine/byte_source.h"
#include "engine/group_worker.h"
#include "engine/table_rows.h"
#include "engine/temporary_space.h"

// A group too large for memory, a share of its keys at a time: the group's records are dealt
// into one temporary file a share (the keys whose hash leaves one remainder), each share is
// made as a group of its own, and its lines kept in a temporary file tagged with their place in
// the group's walk, to be merged into it as they are written.
bool GroupWorker::MakeInShares(uint32_t g, uint64_t bytes, GroupResult& result) {
  const bool two = UsesSecondSource(operation_);
  // Each share's records, keys and table take about three times its bytes.
  const uint64_t shares = std::clamp<uint64_t>(bytes * 3 / large_group_ + 1, 2, 256);
  std::vector<int> dealt[2];
  auto close_all = [&] {
    for (auto& files : dealt)
      for (int fd : files) close(fd);
  };
  first_records_ = 0;  // counted as the first list's records are dealt
  for (int k = 0; k < (two ? 2 : 1); ++k) {
    const DealResult dealing = Deal(k, g, shares, dealt[k]);
    if (dealing != DealResult::Dealt) {
      close_all();
      if (dealing == DealResult::NoRoom) throw TemporarySpaceExhausted();
      return false;
    }
  }
  auto large = std::make_shared<LargeGroupResult>(
      std::clamp<size_t>(large_group_ / shares, 4 << 10, 64 << 10));
  std::vector<KeptItem> lines;
  lines_ = &lines;
  bool made = true;
  for (uint64_t share = 0; share < shares && made; ++share) {
    made = TakeShare(0, dealt[0][share]) && (!two || TakeShare(1, dealt[1][share]));
    if (!made) break;
    GroupResult piece;
    lines.clear();
    Make(g, piece);
    result.count += piece.count;
    // Kept items (and lines in an order of their own) are many where a group is this large:
    // each share's go to a run on disk.
    if (!piece.kept.empty() && result.kept_runs == nullptr)
      result.kept_runs = std::make_unique<KeptRuns>();
    if (!large->AddShare(piece.out, lines) ||
        (!piece.kept.empty() && !result.kept_runs->Add(piece.kept, piece.out))) {
      lines_ = nullptr;
      close_all();
      throw TemporarySpaceExhausted();
    }
  }
  lines_ = nullptr;
  close_all();
  for (auto& kept : share_bytes_) kept.Clear();
  if (made) result.large = std::move(large);
  return made;
}

// Deals the records of a source in group g into `shares` temporary files by their key hash,
// each record with its place in the group.
GroupWorker::DealResult GroupWorker::Deal(int source, uint32_t g, uint64_t shares,
                                          std::vector<int>& files) {
  // A record in a share: its place (8 bytes), slot (4), size (4) and sequence (8), then bytes.
  constexpr size_t kHead = 24;
  const size_t buffer = std::clamp<size_t>(large_group_ / shares, 4 << 10, 64 << 10);
  std::vector<TemporaryWriter> pending;
  pending.reserve(shares);
  files.reserve(files.size() + shares);
  for (uint64_t k = 0; k < shares; ++k) {
    const int fd = UnnamedTemporaryFile();
    if (fd < 0) return DealResult::NoRoom;
    files.push_back(fd);
    pending.emplace_back(fd, buffer);
  }
  const KeyHashSeed& seed = ProcessKeyHashSeed();
  ScratchVector<unsigned char>& folded = folded_[source];
  bool written = true;
  const bool read = buckets_[source]->ForEachRecord(g, [&](const ByteRecord& r, size_t place) {
    if (folded.size() < r.size * 4 + 1) folded.resize(r.size * 4 + 1);
    const std::string_view key =
        RecordKey(rules_, source, std::string_view(reinterpret_cast<const char*>(r.data), r.size),
                  folded.data());
    const uint64_t hash = key_hash_detail::MixHash(
        reinterpret_cast<const unsigned char*>(key.data()), key.size(), seed);
    if (source == 0) first_records_ = place + 1;
    char head[kHead];
    const uint64_t at = place;
    const uint32_t size = static_cast<uint32_t>(r.size);
    std::memcpy(head, &at, 8);
    std::memcpy(head + 8, &r.slot, 4);
    std::memcpy(head + 12, &size, 4);
    std::memcpy(head + 16, &r.sequence, 8);
    written = pending[hash % shares].Append(
                  std::string_view(head, kHead),
                  std::string_view(reinterpret_cast<const char*>(r.data), r.size)) &&
              written;
  });
  for (uint64_t k = 0; k < shares; ++k)
    written = written && pending[k].Flush() && lseek(files[k], 0, SEEK_SET) == 0;
  if (!read) return DealResult::Unreadable;
  return written ? DealResult::Dealt : DealResult::NoRoom;
}

// The records of one share of a source, read back whole, with their places in the group.
bool GroupWorker::TakeShare(int source, int fd) {
  GroupRecords& records = records_[source];
  records.records.clear();
  records.keys.clear();
  records.keyed = false;
  records.bytes = 0;
  places_[source].clear();
  ShareBytes& kept = share_bytes_[source];
  const off_t size = lseek(fd, 0, SEEK_END);
  if (size < 0) return false;
  unsigned char* bytes = kept.Take(static_cast<size_t>(size));
  if (!ReadWholeAt(fd, bytes, static_cast<size_t>(size), 0)) return false;
  for (size_t at = 0; at + 24 <= static_cast<size_t>(size);) {
    uint64_t place, sequence;
    uint32_t slot, length;
    std::memcpy(&place, bytes + at, 8);
    std::memcpy(&slot, bytes + at + 8, 4);
    std::memcpy(&length, bytes + at + 12, 4);
    std::memcpy(&sequence, bytes + at + 16, 8);
    records.records.push_back({bytes + at + 24, length, slot, sequence});
    records.bytes += length;
    places_[source].push_back(place);
    at += 24 + length;
  }
  MakeKeys(source);
  return true;
}
