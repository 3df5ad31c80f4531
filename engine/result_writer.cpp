#include "engine/result_writer.h"

#include "core/utf8.h"

#include <pwd.h>
#include <unistd.h>
#include <cerrno>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {
constexpr size_t kFirstChunkBytes = 1 << 12;
constexpr size_t kChunkBytes = 1 << 18;
}  // namespace

Utf8FileSink::Utf8FileSink(TextFile& file)
    : file_(file),
      bytes_(new char[kFirstChunkBytes]),
      capacity_(kFirstChunkBytes),
      end_(bytes_.get()) {}

Utf8FileSink::~Utf8FileSink() {
  if (held_high_) PutRaw(std::string_view(reinterpret_cast<const char*>(held_), 3));
  Flush();
}

void Utf8FileSink::AppendUtf8Block(std::string_view block, std::string_view final_separator) {
  Put(pending_bytes_);
  Put(block.substr(0, block.size() - final_separator.size()));
  pending_bytes_.assign(final_separator);
}

// A lone surrogate is kept as its 3 bytes. A high one ending a record and a low one starting the
// next were one character in the text the result stands for: written as such.
void Utf8FileSink::Put(std::string_view bytes) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  size_t from = 0;
  if (held_high_ && n > 0) {
    held_high_ = false;
    if (n >= 3 && IsLowHalfAt(b)) {
      unsigned char joined[4];
      PutJoinedHalves(held_, b, joined);
      PutRaw(std::string_view(reinterpret_cast<const char*>(joined), 4));
      from = 3;
    } else {
      PutRaw(std::string_view(reinterpret_cast<const char*>(held_), 3));
    }
  }
  // Pieces hold whole characters, so a 0xED byte always leads one.
  for (size_t at = from; at < n;) {
    const void* found = std::memchr(b + at, 0xED, n - at);
    if (found == nullptr) break;
    at = static_cast<size_t>(static_cast<const unsigned char*>(found) - b);
    if (at + 3 > n || !IsHighHalfAt(b + at)) {
      at += 1;
      continue;
    }
    if (at + 3 == n) {
      PutRaw(bytes.substr(from, at - from));
      std::memcpy(held_, b + at, 3);
      held_high_ = true;
      return;
    }
    if (at + 6 <= n && IsLowHalfAt(b + at + 3)) {
      PutRaw(bytes.substr(from, at - from));
      unsigned char joined[4];
      PutJoinedHalves(b + at, b + at + 3, joined);
      PutRaw(std::string_view(reinterpret_cast<const char*>(joined), 4));
      from = at += 6;
      continue;
    }
    at += 3;
  }
  PutRaw(bytes.substr(from));
}

void Utf8FileSink::PutRaw(std::string_view bytes) {
  if (bytes.size() >= kChunkBytes) {
    // Large blocks go straight to the file.
    Flush();
    WriteBytes(file_, bytes.data(), bytes.size());
    return;
  }
  while (!bytes.empty()) {
    size_t room = static_cast<size_t>(bytes_.get() + capacity_ - end_);
    if (room < bytes.size() && capacity_ < kChunkBytes) {
      Grow(bytes.size());
      room = static_cast<size_t>(bytes_.get() + capacity_ - end_);
    }
    if (room == 0) {
      Flush();
      room = capacity_;
    }
    const size_t n = std::min(room, bytes.size());
    std::memcpy(end_, bytes.data(), n);
    end_ += n;
    bytes.remove_prefix(n);
  }
}

void Utf8FileSink::Grow(size_t more) {
  const auto used = static_cast<size_t>(end_ - bytes_.get());
  size_t capacity = capacity_;
  while (capacity < kChunkBytes && capacity - used < more) capacity *= 2;
  std::unique_ptr<char[]> bytes(new char[capacity]);
  std::memcpy(bytes.get(), bytes_.get(), used);
  bytes_ = std::move(bytes);
  capacity_ = capacity;
  end_ = bytes_.get() + used;
}

void Utf8FileSink::Flush() {
  if (end_ == bytes_.get()) return;
  WriteBytes(file_, bytes_.get(), static_cast<size_t>(end_ - bytes_.get()));
  end_ = bytes_.get();
}

std::string PersonalResultPath(const std::string& path) {
  std::string user;
  const uid_t uid = geteuid();
  passwd entry;
  passwd* found = nullptr;
  char strings[4096];
  if (getpwuid_r(uid, &entry, strings, sizeof strings, &found) == 0 && found != nullptr) {
    user = found->pw_name;
  }
  if (user.empty() || user.find('/') != std::string::npos) user = std::to_string(uid);
  const size_t name_start = path.rfind('/') + 1;  // 0 when there is no directory
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot <= name_start) dot = path.size();
  return path.substr(0, dot) + "-" + user + path.substr(dot);
}

ResultFile::ResultFile(const std::string& path) : path_(path) {
  file_ = CreateFreshForWriting(path, temp_name_);
  if (file_ == nullptr) {
    error_ = errno;
    return;
  }
  WriteByteOrderMark(*file_, FormatUtf8);
  sink_ = std::make_unique<Utf8FileSink>(*file_);
}

ResultFile::~ResultFile() {
  sink_.reset();
  if (file_ != nullptr) {
    CloseTextFile(std::move(file_));
    unlink(temp_name_.c_str());
  }
}

bool ResultFile::Commit() {
  if (file_ == nullptr) return false;
  sink_.reset();  // flushes what it holds
  if (!CloseTextFile(std::move(file_))) {
    error_ = errno;
    unlink(temp_name_.c_str());
    return false;
  }
  if (ReplaceFile(temp_name_, path_)) return true;
  // The first user's result stays in /tmp, whose sticky bit lets no one else replace it; were
  // that the end, no other user would get a result until it went. A name of the user's own lies
  // in the same directory, so the finished file only changes its name once more.
  path_ = PersonalResultPath(path_);
  if (ReplaceFile(temp_name_, path_)) return true;
  error_ = errno;
  unlink(temp_name_.c_str());
  return false;
}
