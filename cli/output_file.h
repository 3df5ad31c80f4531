// The file named by --output, replaced only by a complete result: the result goes to a fresh file
// in the same directory, which is renamed over the target once every byte is written. A full disk,
// a lack of memory or a kill midway leaves the earlier file as it was (a kill, at worst, also a
// stray fresh file beside it).
#pragma once

#include <functional>
#include <string>

#include "core/text_file.h"

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();  // an uncommitted fresh file is removed

  // Prepares writing to `path`. A symbolic link is followed: the file it points to is replaced and
  // the link stays. A target that is no regular file (/dev/null, a pipe) is written directly, as
  // there is nothing to keep. False, with `problem` set, when nothing can be written. A named pipe
  // with no reader yet is waited for, asking `keep_waiting` every few milliseconds; false, with
  // `problem` empty, when it said no.
  bool Open(const std::string& path, std::string& problem,
            const std::function<bool()>& keep_waiting = {});
  TextFile& file() { return *file_; }
  // Writes out what is pending and puts the file in place; false, with `problem` set, when anything
  // failed (the earlier file then stays as it was).
  bool Commit(std::string& problem);
  // For a stopped run: what is still pending is dropped rather than written, as a pipe nobody
  // reads would hold that write forever. The fresh file goes as it would anyway.
  void Abandon();

 private:
  std::string target_;     // where the result ends up, links resolved
  std::string temp_name_;  // the fresh file; empty when the target is written directly
  TextFilePtr file_;
};
