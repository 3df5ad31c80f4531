#include "core/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/utf8.h"

namespace {

constexpr size_t kBufferSize = 4096;

}  // namespace

struct TextFile {
  std::FILE* stream = nullptr;
  bool owns_stream = true;
  bool failed = false;
  int error = 0;  // errno of the first failed write: later calls may set errno to anything
  unsigned char buffer[kBufferSize];
  size_t held = 0;  // bytes in the buffer, not yet written
};

void TextFileCloser::operator()(TextFile* file) const {
  if (file != nullptr) CloseTextFile(TextFilePtr(file));
}

namespace {

void MarkFailed(TextFile& file) {
  if (!file.failed) file.error = errno;
  file.failed = true;
}

bool FlushPending(TextFile& file) {
  if (file.held == 0) return true;
  // After a failed write the file is incomplete whatever follows; trying on would only wait
  // again on a pipe that an interrupt broke into, or on one that nobody reads.
  if (file.failed) {
    file.held = 0;
    return false;
  }
  const bool complete = std::fwrite(file.buffer, 1, file.held, file.stream) == file.held;
  if (!complete) MarkFailed(file);
  file.held = 0;
  return complete;
}

TextFilePtr MakeFile(std::FILE* stream, bool owns) {
  auto* file = new TextFile;
  file->stream = stream;
  file->owns_stream = owns;
  return TextFilePtr(file);
}

}  // namespace

int64_t QueryFileSize(TextView path) {
  const std::string name = Utf8FromText(path);
  if (name.empty()) return -1;
  struct stat st;
  if (stat(name.c_str(), &st) != 0) return -1;
  if (S_ISDIR(st.st_mode)) return -2;
  return st.st_size;
}

Text TempDirectory() {
  return u"/tmp/";
}

TextFilePtr WrapForWriting(std::FILE* stream, bool owns_stream) {
  if (stream == nullptr) return nullptr;
  return MakeFile(stream, owns_stream);
}

TextFilePtr CreateFreshForWriting(const std::string& path_prefix, std::string& created_name) {
  std::string pattern = path_prefix + ".XXXXXX";
  const int fd = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return nullptr;
  std::FILE* stream = fdopen(fd, "w+");
  if (stream == nullptr) {
    const int error = errno;
    close(fd);
    unlink(pattern.c_str());
    errno = error;
    return nullptr;
  }
  created_name = pattern;
  return MakeFile(stream, true);
}

bool ReplaceFile(const std::string& fresh, const std::string& target) {
#if defined(RENAME_EXCHANGE)
  struct stat st;
  const auto swap = [&] {
    return renameat2(AT_FDCWD, fresh.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0;
  };
  if (lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) && swap()) {
    if (unlink(fresh.c_str()) == 0) return true;
    // What was swapped out cannot be removed (a directory put there meanwhile): it goes back,
    // and the rename below tells why the fresh file cannot take its place.
    if (!swap()) return false;
  }
#endif
  return std::rename(fresh.c_str(), target.c_str()) == 0;
}

int TextFileDescriptor(const TextFile& file) {
  return fileno(file.stream);
}

int64_t WriteBytes(TextFile& file, const void* bytes, size_t count) {
  const auto* src = static_cast<const unsigned char*>(bytes);
  if (count < kBufferSize - file.held) {
    std::memcpy(file.buffer + file.held, src, count);
    file.held += count;
    return static_cast<int64_t>(count);
  }
  FlushPending(file);
  if (file.failed) return 0;
  if (count >= kBufferSize) {
    const size_t put = std::fwrite(src, 1, count, file.stream);
    if (put != count) MarkFailed(file);
    return static_cast<int64_t>(put);
  }
  std::memcpy(file.buffer, src, count);
  file.held = count;
  return static_cast<int64_t>(count);
}

void WriteByteOrderMark(TextFile& file, TextFormat format) {
  const std::string_view mark = ByteOrderMarkBytes(format);
  if (!mark.empty()) WriteBytes(file, mark.data(), mark.size());
}

bool CloseTextFile(TextFilePtr owned) {
  TextFile* file = owned.release();
  if (file == nullptr) return true;
  FlushPending(*file);
  bool ok = !file->failed;
  if (file->owns_stream) {
    if (std::fclose(file->stream) != 0) ok = false;
  } else if (std::fflush(file->stream) != 0) {
    ok = false;
  }
  const int error = file->error;
  delete file;
  if (error != 0) errno = error;
  return ok;
}
