// Result files: a TextFile is written through a buffer of 4096 bytes; it is owned by whoever
// opened it until CloseTextFile.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "core/text.h"
#include "core/text_format.h"

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

// Wraps an open stream for writing (standard output, or a file the caller opened).
TextFilePtr WrapForWriting(std::FILE* stream, bool owns_stream);
// Creates a new file with a unique name next to path_prefix (exclusive create, mode 0600) and
// reports its name; the caller renames it into place when it is complete.
TextFilePtr CreateFreshForWriting(const std::string& path_prefix, std::string& created_name);
// Puts the file named `fresh` in place of `target`, as a rename does; false with errno telling
// why not (`fresh` is then left as it was). A regular file in the way is swapped with the fresh
// one and then removed: a rename over an existing file makes ext4 start writing the new file's
// data back before it returns, which for a result of a few hundred megabytes takes a tenth of a
// second or more, while the swap and the removal take a few milliseconds.
bool ReplaceFile(const std::string& fresh, const std::string& target);
// The descriptor under the file's stream, for what only the system can do to an open file
// (its mode and owner); the TextFile keeps owning it.
int TextFileDescriptor(const TextFile& file);
void WriteByteOrderMark(TextFile& file, TextFormat format);
// Bytes through the file's buffer; returns how many were accepted.
int64_t WriteBytes(TextFile& file, const void* bytes, size_t count);
// Flushes what is pending, closes the stream and releases the file. Returns false when a write
// or the close failed (the caller may ignore it), with errno telling why the first one failed.
bool CloseTextFile(TextFilePtr file);
