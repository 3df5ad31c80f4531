#include "engine/kept_runs.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <queue>
#include <string>

#include "engine/temporary_space.h"

namespace {

// A kept item in a run: its slot (4 bytes), size (4) and sequence (8), then its bytes.
constexpr size_t kHead = 16;

// The items of one sorted list or run, one at a time.
class KeptCursor {
 public:
  virtual ~KeptCursor() = default;
  // The next item; false at the end, with `failed` set when a file cannot be read.
  virtual bool Next() = 0;
  uint32_t slot = 0;
  uint64_t sequence = 0;
  std::string_view bytes;
  bool failed = false;
};

class ListCursor : public KeptCursor {
 public:
  explicit ListCursor(const KeptList& list) : list_(list) {}
  bool Next() override {
    if (at_ >= list_.items->size()) return false;
    const KeptItem& item = (*list_.items)[at_++];
    slot = item.slot;
    sequence = item.sequence;
    bytes = list_.bytes.substr(item.offset, item.size);
    return true;
  }

 private:
  KeptList list_;
  size_t at_ = 0;
};

// Reads one run back.
class RunReader : public KeptCursor {
 public:
  RunReader(int fd, uint64_t begin, uint64_t end, size_t buffer)
      : fd_(fd), at_file_(begin), end_(end), piece_(buffer) {}
  bool Next() override {
    if (!Want(kHead)) return false;
    uint32_t size;
    std::memcpy(&slot, buffer_.data() + at_, 4);
    std::memcpy(&size, buffer_.data() + at_ + 4, 4);
    std::memcpy(&sequence, buffer_.data() + at_ + 8, 8);
    at_ += kHead;
    if (!Want(size)) {
      failed = true;
      return false;
    }
    bytes = std::string_view(buffer_.data() + at_, size);
    at_ += size;
    return true;
  }

 private:
  // At least n unread bytes in the buffer, unless the run ends first.
  bool Want(size_t n) {
    if (held_ - at_ >= n) return true;
    buffer_.erase(0, at_);
    held_ -= at_;
    at_ = 0;
    const uint64_t left = end_ - at_file_;
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(std::max(n, piece_), left));
    if (buffer_.size() < held_ + piece) buffer_.resize(held_ + piece);
    while (held_ < n) {
      if (at_file_ >= end_) return false;
      const size_t want =
          static_cast<size_t>(std::min<uint64_t>(buffer_.size() - held_, end_ - at_file_));
      const ssize_t got = pread(fd_, buffer_.data() + held_, want, static_cast<off_t>(at_file_));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        failed = true;
        return false;
      }
      held_ += static_cast<size_t>(got);
      at_file_ += static_cast<uint64_t>(got);
    }
    return true;
  }
  int fd_;
  uint64_t at_file_;
  uint64_t end_;
  size_t piece_;
  std::string buffer_;
  size_t held_ = 0;
  size_t at_ = 0;
};

}  // namespace

KeptRuns::~KeptRuns() {
  if (fd_ >= 0) close(fd_);
}

bool KeptRuns::Add(const std::vector<KeptItem>& items, std::string_view bytes) {
  if (items.empty()) return true;
  if (fd_ < 0 && (fd_ = UnnamedTemporaryFile()) < 0) return false;
  const uint64_t begin = size_;
  std::string block;
  for (const KeptItem& item : items) {
    char head[kHead];
    const uint32_t size = static_cast<uint32_t>(item.size);
    std::memcpy(head, &item.slot, 4);
    std::memcpy(head + 4, &size, 4);
    std::memcpy(head + 8, &item.sequence, 8);
    block.append(head, kHead).append(bytes.substr(item.offset, item.size));
    if (block.size() >= (size_t{1} << 20)) {
      if (!WriteWhole(fd_, block.data(), block.size())) return false;
      size_ += block.size();
      block.clear();
    }
  }
  if (!WriteWhole(fd_, block.data(), block.size())) return false;
  size_ += block.size();
  runs_.emplace_back(begin, size_);
  items_ += items.size();
  return true;
}

bool KeptMerge::Write(size_t memory, ResultSink& sink, std::string_view separator,
                      const std::function<bool(uint64_t, uint64_t)>& go_on,
                      uint64_t& written) const {
  written = 0;
  uint64_t total = 0;
  size_t files = 0;
  for (const KeptList& list : lists_) total += list.items->size();
  for (const KeptRuns* runs : runs_) {
    total += runs->items_;
    files += runs->runs_.size();
  }
  const size_t buffer = std::clamp<size_t>(memory / std::max<size_t>(files, 1), 4 << 10, 1 << 20);
  std::vector<std::unique_ptr<KeptCursor>> cursors;
  for (const KeptList& list : lists_) cursors.push_back(std::make_unique<ListCursor>(list));
  for (const KeptRuns* runs : runs_)
    for (const auto& [begin, end] : runs->runs_)
      cursors.push_back(std::make_unique<RunReader>(runs->fd_, begin, end, buffer));
  auto later = [&](size_t a, size_t b) {
    const KeptCursor& x = *cursors[a];
    const KeptCursor& y = *cursors[b];
    if (x.slot != y.slot) return x.slot > y.slot;
    return x.sequence < y.sequence;
  };
  std::priority_queue<size_t, std::vector<size_t>, decltype(later)> next(later);
  for (size_t k = 0; k < cursors.size(); ++k) {
    if (cursors[k]->Next()) next.push(k);
    if (cursors[k]->failed) return false;
  }
  std::string block;
  while (!next.empty()) {
    const size_t k = next.top();
    next.pop();
    KeptCursor& cursor = *cursors[k];
    block.append(cursor.bytes).append(separator);
    ++written;
    if (cursor.Next()) next.push(k);
    if (cursor.failed) return false;
    if (block.size() >= (size_t{1} << 20)) {
      sink.AppendUtf8Block(block, separator);
      block.clear();
      if (!go_on(written, total)) return true;
    }
  }
  if (!block.empty()) sink.AppendUtf8Block(block, separator);
  return true;
}
