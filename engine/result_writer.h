// Writing a result as it is produced: the final separator cut off by count, UTF-8 encoding
// streamed into a file, and the result file put in place without ever writing through a link.
#pragma once

#include <string>

#include "core/text.h"
#include "core/text_file.h"
#include "core/utf8.h"
#include "engine/operations.h"

// How many final units the report cuts off a result: 2 (CR LF) for Merge, else the length of
// the result separator.
size_t FinalCut(int operation, TextView result_separator);

// Passes everything on but the last `cut` units, which are dropped when the result ends (all of
// it when the result is shorter): the cut is by count and never looks at what it removes.
class TrimmingSink : public ResultSink {
 public:
  TrimmingSink(ResultSink& target, size_t cut) : target_(target), cut_(cut) {}
  void Append(TextView piece) override;

 private:
  ResultSink& target_;
  size_t cut_;
  Text held_;
};

// Encodes to UTF-8 and writes through a TextFile in large pieces.
class Utf8FileSink : public ResultSink {
 public:
  explicit Utf8FileSink(TextFile& file) : file_(file) {}
  ~Utf8FileSink() override;
  void Append(TextView piece) override;
  void Flush();

 private:
  TextFile& file_;
  Utf8Encoder encoder_;
  std::string bytes_;
};

// The result file of the window: a fresh file next to `path` (exclusive create, mode 0600) that
// replaces `path` by a rename once it is complete, so a link or a file planted under that name in
// a shared directory is replaced, never written through.
class ResultFile {
 public:
  explicit ResultFile(const std::string& path);
  ~ResultFile();  // an uncommitted file is removed
  bool ok() const { return file_ != nullptr; }
  // Valid while ok(): where the result's UTF-8 goes (the byte-order mark is written already).
  ResultSink& sink() { return *sink_; }
  // Completes the file and renames it into place; false when anything failed (the old file at
  // `path` then stays as it was).
  bool Commit();

 private:
  std::string path_;
  std::string temp_name_;
  TextFilePtr file_;
  std::unique_ptr<Utf8FileSink> sink_;
};
