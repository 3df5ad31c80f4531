// Text files: reading whole sources (the bytes go to core/decoders) and writing results.
// A TextFile buffers 4096 bytes; it is owned by whoever opened it until CloseTextFile.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "core/decoders.h"
#include "core/text.h"

struct TextFile;

struct TextFileCloser {
  void operator()(TextFile* file) const;
};
// CloseTextFile is what the deleter calls; a TextFilePtr going out of scope closes the file.
using TextFilePtr = std::unique_ptr<TextFile, TextFileCloser>;

// Size in bytes; -1 when there is no such file or its status cannot be read, -2 for a directory.
// Symbolic links are followed.
int64_t QueryFileSize(TextView path);
// "/tmp/", with its trailing slash; the environment is not consulted.
Text TempDirectory();

TextFilePtr OpenForReading(TextView path);
// Wraps an already open stream (standard input, for instance) for reading; the stream is not
// closed by CloseTextFile when owns_stream is false.
TextFilePtr WrapForReading(std::FILE* stream, bool owns_stream);
// Wraps an open stream for writing (standard output, or a file the caller opened).
TextFilePtr WrapForWriting(std::FILE* stream, bool owns_stream);
TextFormat DetectByteOrderMark(TextFile& file);
// What reading showed besides the text.
struct ReadReport {
  bool failed = false;         // a read error: the text stops short of the file's end
  bool ended_at_zero = false;  // the text ends at a zero character; nothing after it was read
  bool not_utf8 = false;       // read as UTF-8, the bytes are not well-formed UTF-8
};
// Everything from the current position to the end of the file, or to its first zero character
// (reading stops there). The size the system reports is never trusted: /proc files and files
// that change while read hold more or less than it says.
// Throws std::bad_alloc when the text does not fit in memory (never a silently shorter text).
Text ReadRest(TextFile& file, TextFormat format, ReadReport* report = nullptr);

// Creates or truncates the file ("w+"): follows symbolic links, so never use it in a directory
// that others can write to; see CreateFreshForWriting.
TextFilePtr CreateForWriting(TextView path);
// Creates a new file with a unique name next to path_prefix (exclusive create, mode 0600) and
// reports its name; the caller renames it into place when it is complete.
TextFilePtr CreateFreshForWriting(const std::string& path_prefix, std::string& created_name);
// The descriptor under the file's stream, for what only the system can do to an open file
// (its mode and owner); the TextFile keeps owning it.
int TextFileDescriptor(const TextFile& file);
void WriteByteOrderMark(TextFile& file, TextFormat format);
// Returns the number of bytes accepted.
int64_t WriteText(TextFile& file, TextView text, TextFormat format);
// Raw bytes through the file's buffer (the result writer streams its own encoding this way).
int64_t WriteBytes(TextFile& file, const void* bytes, size_t count);
// Flushes what is pending, closes the stream and releases the file. Returns false when a write
// or the close failed (the caller may ignore it), with errno set to the first failure's.
bool CloseTextFile(TextFilePtr file);
