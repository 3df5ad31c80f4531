#include "engine/kept_runs.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

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
  // The items [begin, end) of the list.
  ListCursor(const KeptList& list, size_t begin, size_t end) : list_(list), at_(begin), end_(end) {}
  bool Next() override {
    const std::vector<KeptItem>& items = *list_.items;
    if (at_ >= end_) return false;
    // A merge of many lists draws on each only now and then, too seldom for the processor to
    // see a stream in it: what the next two calls read is asked for ahead, or every line would
    // wait for memory.
    if (at_ + 2 < end_) __builtin_prefetch(&items[at_ + 2]);
    if (at_ + 1 < end_) __builtin_prefetch(list_.bytes.data() + items[at_ + 1].offset);
    const KeptItem& item = items[at_++];
    slot = item.slot;
    skip = item.skip;
    sequence = item.sequence;
    bytes = list_.bytes.substr(item.offset, item.size);
    return true;
  }

 private:
  KeptList list_;
  size_t at_;
  size_t end_;
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

namespace {

// Merges the cursors' lines into blocks of about a megabyte, each ended by `separator` and handed
// to `emit`, which returns false to stop. `written`: the lines merged. False when a file cannot
// be read back.
bool MergeCursors(ItemOrder order, std::vector<std::unique_ptr<KeptCursor>>& cursors,
                  std::string_view separator, const std::function<bool(std::string_view)>& emit,
                  uint64_t& written) {
  // A tournament of the cursors: the tree keeps the loser of each match, so the next line
  // costs one comparison a level on the way from the winner's leaf to the root, half what a heap
  // takes. Each cursor's slot (or rank) and sequence stand in one number that compares as
  // LineBefore does; leaves past the cursors, and cursors run dry, hold one above them all.
  using Key = unsigned __int128;
  constexpr Key kDry = Key{1} << 96;
  const size_t count = cursors.size();
  const bool sorted = order == ItemOrder::OrderSorted;
  std::vector<Key> keys(count + 1, kDry);
  std::vector<std::string_view> items(count + 1);
  auto advance = [&](size_t k) {
    KeptCursor& cursor = *cursors[k];
    if (!cursor.Next()) {
      keys[k] = kDry;
      return;
    }
    const uint64_t sequence = order == ItemOrder::OrderTable ? ~cursor.sequence : cursor.sequence;
    keys[k] = Key{cursor.slot} << 64 | sequence;
    if (sorted) items[k] = cursor.bytes.substr(cursor.skip);
  };
  auto before = [&](size_t a, size_t b) {
    // Items of one rank in code point order: their bytes tell, then their sequence.
    if (sorted && keys[a] >> 64 == keys[b] >> 64 && keys[a] != kDry && items[a] != items[b])
      return LineBefore(order, 0, 0, items[a], 0, 0, items[b]);
    return keys[a] < keys[b];
  };
  for (size_t k = 0; k < count; ++k) {
    advance(k);
    if (cursors[k]->failed) return false;
  }
  const size_t leaves = std::bit_ceil(std::max<size_t>(count, 1));
  std::vector<size_t> loser(leaves), winner(2 * leaves, count);
  for (size_t k = 0; k < count; ++k) winner[leaves + k] = k;
  for (size_t n = leaves - 1; n >= 1; --n) {
    size_t a = winner[2 * n], b = winner[2 * n + 1];
    if (before(b, a)) std::swap(a, b);
    winner[n] = a;
    loser[n] = b;
  }
  size_t top = winner[1];
  // Lines are copied straight into a block of fixed size, one copy a line and its separator.
  constexpr size_t kBlock = size_t{1} << 20;
  std::string block;
  size_t used = 0;
  auto flush = [&] {
    const bool go_on = emit(std::string_view(block).substr(0, used));
    used = 0;
    return go_on;
  };
  while (keys[top] != kDry) {
    const std::string_view line = cursors[top]->bytes;
    const size_t need = line.size() + separator.size();
    if (block.size() - used < need) {
      // The block grows to its full size by doubling, so a short result costs a short block.
      if (block.size() >= kBlock * 2 && used > 0 && !flush()) return true;
      if (block.size() - used < need)
        block.resize(
            std::max(used + need, std::min(kBlock * 2, std::max<size_t>(4096, block.size() * 2))));
    }
    std::memcpy(block.data() + used, line.data(), line.size());
    std::memcpy(block.data() + used + line.size(), separator.data(), separator.size());
    used += need;
    ++written;
    advance(top);
    if (cursors[top]->failed) return false;
    // Which way a match goes is a coin toss to the processor: chosen without a branch.
    for (size_t n = (leaves + top) / 2; n >= 1; n /= 2) {
      const size_t other = loser[n];
      const bool wins = before(other, top);
      loser[n] = wins ? top : other;
      top = wins ? other : top;
    }
    if (used >= kBlock && !flush()) return true;
  }
  if (used > 0) flush();
  return true;
}

}  // namespace

bool KeptMerge::Write(size_t memory, ResultSink& sink, std::string_view separator,
                      const std::function<bool(uint64_t, uint64_t)>& go_on, uint64_t& written,
                      int threads) const {
  written = 0;
  uint64_t total = 0;
  size_t files = 0;
  for (const KeptList& list : lists_) total += list.items->size();
  for (const KeptRuns* runs : runs_) {
    total += runs->items_;
    files += runs->runs_.size();
  }
  auto emit = [&](std::string_view block) {
    sink.AppendUtf8Block(block, separator);
    return go_on(written, total);
  };
  if (runs_.empty() && threads > 1 && total >= kPartLines)
    return WriteInParts(sink, separator, go_on, total, written, threads);
  const size_t buffer = std::clamp<size_t>(memory / std::max<size_t>(files, 1), 4 << 10, 1 << 20);
  std::vector<std::unique_ptr<KeptCursor>> cursors;
  for (const KeptList& list : lists_)
    cursors.push_back(std::make_unique<ListCursor>(list, 0, list.items->size()));
  for (const KeptRuns* runs : runs_)
    for (const auto& [begin, end] : runs->runs_)
      cursors.push_back(std::make_unique<RunReader>(runs->fd_, begin, end, buffer));
  return MergeCursors(order_, cursors, separator, emit, written);
}

// Lists in memory are merged a part of the order on each thread: the lines before a splitter
// taken from the longest list, those after it up to the next, and so on, found in each list by
// binary search. This thread writes its part as it merges it, then the others' as they come.
bool KeptMerge::WriteInParts(ResultSink& sink, std::string_view separator,
                             const std::function<bool(uint64_t, uint64_t)>& go_on, uint64_t total,
                             uint64_t& written, int threads) const {
  const size_t parts = static_cast<size_t>(threads);
  const KeptList* longest = &lists_.front();
  for (const KeptList& list : lists_)
    if (list.items->size() > longest->items->size()) longest = &list;
  // bounds[p][l]: where part p begins in list l.
  std::vector<std::vector<size_t>> bounds(parts + 1, std::vector<size_t>(lists_.size(), 0));
  for (size_t l = 0; l < lists_.size(); ++l) bounds[parts][l] = lists_[l].items->size();
  for (size_t p = 1; p < parts; ++p) {
    const KeptItem& split = (*longest->items)[longest->items->size() * p / parts];
    const std::string_view split_item =
        longest->bytes.substr(split.offset + split.skip, split.size - split.skip);
    for (size_t l = 0; l < lists_.size(); ++l) {
      const KeptList& list = lists_[l];
      const auto at =
          std::partition_point(list.items->begin(), list.items->end(), [&](const KeptItem& x) {
            return LineBefore(order_, x.slot, x.sequence,
                              list.bytes.substr(x.offset + x.skip, x.size - x.skip), split.slot,
                              split.sequence, split_item);
          });
      bounds[p][l] = static_cast<size_t>(at - list.items->begin());
    }
  }
  auto cursors_of = [&](size_t p) {
    std::vector<std::unique_ptr<KeptCursor>> cursors;
    for (size_t l = 0; l < lists_.size(); ++l)
      cursors.push_back(std::make_unique<ListCursor>(lists_[l], bounds[p][l], bounds[p + 1][l]));
    return cursors;
  };
  std::atomic<bool> stop{false};
  // Each helper's blocks as it merged them, each ending just after a line.
  std::vector<std::vector<std::string>> merged(parts);
  std::vector<uint64_t> counts(parts, 0);
  std::vector<std::jthread> helpers;
  for (size_t p = 1; p < parts; ++p) {
    try {
      helpers.emplace_back([&, p] {
        auto cursors = cursors_of(p);
        MergeCursors(
            order_, cursors, separator,
            [&](std::string_view block) {
              merged[p].emplace_back(block);
              return !stop.load(std::memory_order_relaxed);
            },
            counts[p]);
      });
    } catch (const std::system_error&) {
      break;  // the parts without a thread are merged here
    }
  }
  const size_t helped = helpers.size();
  uint64_t done = 0;
  bool go = true;
  for (size_t p = 0; p < parts && go; ++p) {
    if (p == 0 || p > helped) {
      auto cursors = cursors_of(p);
      uint64_t count = 0;
      MergeCursors(
          order_, cursors, separator,
          [&](std::string_view block) {
            sink.AppendUtf8Block(block, separator);
            return go = go_on(done + count, total);
          },
          count);
      done += count;
      continue;
    }
    helpers[p - 1].join();
    uint64_t lines = 0;
    for (std::string& block : merged[p]) {
      sink.AppendUtf8Block(block, separator);
      std::string().swap(block);
      lines += counts[p] / merged[p].size();
      if (!(go = go_on(done + lines, total))) break;
    }
    done += counts[p];
  }
  stop = true;
  helpers.clear();
  written = done;
  return true;
}
