// Writing a result as it is produced: the final separator cut off by count, UTF-8 encoding
// streamed into a file, and the result file put in place without ever writing through a link.
#pragma once

#include <memory>
#include <string>

#include "core/text.h"
#include "core/text_file.h"
#include "engine/result_sink.h"

// Writes a result's UTF-8 through a TextFile in large pieces, leaving out its final separator.
class Utf8FileSink : public ResultSink {
 public:
  explicit Utf8FileSink(TextFile& file);
  ~Utf8FileSink() override;
  void AppendUtf8Block(std::string_view block, std::string_view final_separator) override;
  void Flush();

 private:
  // The bytes with surrogate halves that meet across records joined.
  void Put(std::string_view bytes);
  void PutRaw(std::string_view bytes);
  // Makes room for `more` bytes, doubling the buffer up to its full size.
  void Grow(size_t more);
  std::string pending_bytes_;   // the final separator of the last block, in UTF-8
  unsigned char held_[3] = {};  // a high surrogate that ended the last bytes put
  bool held_high_ = false;
  TextFile& file_;
  // Starts small: most results are short, and a full buffer cost a short run more than its work.
  std::unique_ptr<char[]> bytes_;
  size_t capacity_;
  char* end_;  // where the next encoded byte goes
};

// `path` with the user's name added to its file name, before the extension:
// "/tmp/~ListwiseData.txt" becomes "/tmp/~ListwiseData-anna.txt". A user without a name (or with
// a name that cannot be part of a file name) is given by number.
std::string PersonalResultPath(const std::string& path);

// The result file of the window: a fresh file next to `path` (exclusive create, mode 0600) that
// replaces `path` by a rename once it is complete, so a link or a file planted under that name in
// a shared directory is replaced, never written through. When `path` cannot be replaced (another
// user's result in a sticky directory such as /tmp, a directory of that name), the result takes
// PersonalResultPath(path) instead.
class ResultFile {
 public:
  explicit ResultFile(const std::string& path);
  ~ResultFile();  // an uncommitted file is removed
  bool ok() const { return file_ != nullptr; }
  // Valid while ok(): where the result's UTF-8 goes (the byte-order mark is written already).
  ResultSink& sink() { return *sink_; }
  // Completes the file and renames it into place; false when anything failed (the old files
  // then stay as they were).
  bool Commit();
  // Where the result went; after a failed Commit, the last place it was meant to go.
  const std::string& path() const { return path_; }
  // After a failure: the system's error number of it (0 when it gave none).
  int error() const { return error_; }

 private:
  std::string path_;
  std::string temp_name_;
  int error_ = 0;
  TextFilePtr file_;
  std::unique_ptr<Utf8FileSink> sink_;
};
