#include "engine/result_writer.h"

#include <unistd.h>

#include <cstdio>

size_t FinalCut(int operation, TextView result_separator) {
  return operation == 4 ? 2 : result_separator.size();
}

void TrimmingSink::Append(TextView piece) {
  if (cut_ == 0) {
    target_.Append(piece);
    return;
  }
  if (piece.size() >= cut_) {
    // Everything held so far and the piece's head are certain to stay.
    if (!held_.empty()) target_.Append(held_);
    target_.Append(piece.substr(0, piece.size() - cut_));
    held_.assign(piece.substr(piece.size() - cut_));
    return;
  }
  held_.append(piece);
  if (held_.size() > cut_) {
    const size_t spill = held_.size() - cut_;
    target_.Append(TextView(held_).substr(0, spill));
    held_.erase(0, spill);
  }
}

namespace {
constexpr size_t kChunk = 1 << 16;
}  // namespace

Utf8FileSink::~Utf8FileSink() { Flush(); }

void Utf8FileSink::Append(TextView piece) {
  encoder_.Encode(piece, bytes_);
  if (bytes_.size() >= kChunk) Flush();
}

void Utf8FileSink::Flush() {
  if (bytes_.empty()) return;
  WriteBytes(file_, bytes_.data(), bytes_.size());
  bytes_.clear();
}

ResultFile::ResultFile(const std::string& path) : path_(path) {
  file_ = CreateFreshForWriting(path, temp_name_);
  if (file_ == nullptr) return;
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
  const bool written = CloseTextFile(std::move(file_));
  if (!written || std::rename(temp_name_.c_str(), path_.c_str()) != 0) {
    unlink(temp_name_.c_str());
    return false;
  }
  return true;
}
