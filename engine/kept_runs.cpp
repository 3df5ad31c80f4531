#include "engine/kept_runs.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <queue>
#include <string>

#include "engine/temporary_space.h"

namespace {

// A kept item in a run: its slot (4 bytes), size (4), skip (4) and sequence (8), then its bytes.
constexpr size_t kHead = 20;

// The items of one sorted list or run, one at a time.
class KeptCursor {
 public:
  virtual ~KeptCursor() = default;
  // The next item; false at the end, with `failed` set when a file cannot be read.
  virtual bool Next() = 0;
  uint32_t slot = 0;
  uint32_t skip = 0;
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
    skip = item.skip;
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
      : reader_(fd, begin, end, buffer) {}
  bool Next() override {
    const char* head = reader_.Take(kHead);
    if (head == nullptr) {
      failed = reader_.failed();
      return false;
    }
    uint32_t size;
    std::memcpy(&slot, head, 4);
    std::memcpy(&size, head + 4, 4);
    std::memcpy(&skip, head + 8, 4);
    std::memcpy(&sequence, head + 12, 8);
    const char* data = reader_.Take(size);
    if (data == nullptr) {
      failed = true;
      return false;
    }
    bytes = std::string_view(data, size);
    return true;
  }

 private:
  TemporaryReader reader_;
};

}  // namespace

KeptRuns::~KeptRuns() {
  if (fd_ >= 0) close(fd_);
}

bool KeptRuns::Add(const std::vector<KeptItem>& items, std::string_view bytes) {
  if (items.empty()) return true;
  if (fd_ < 0 && (fd_ = UnnamedTemporaryFile()) < 0) return false;
  TemporaryWriter out(fd_);
  for (const KeptItem& item : items) {
    char head[kHead];
    const uint32_t size = static_cast<uint32_t>(item.size);
    std::memcpy(head, &item.slot, 4);
    std::memcpy(head + 4, &size, 4);
    std::memcpy(head + 8, &item.skip, 4);
    std::memcpy(head + 12, &item.sequence, 8);
    if (!out.Append(std::string_view(head, kHead), bytes.substr(item.offset, item.size)))
      return false;
  }
  if (!out.Flush()) return false;
  runs_.emplace_back(size_, size_ + out.size());
  size_ += out.size();
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
    return LineBefore(order_, y.slot, y.sequence, y.bytes.substr(y.skip), x.slot, x.sequence,
                      x.bytes.substr(x.skip));
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
