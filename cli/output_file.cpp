#include "cli/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cli/messages.h"

namespace {

struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Follows a chain of links that ends nowhere, so that "-o link" creates the file the link names, as
// a shell redirection would. Sets errno and returns false for a loop or a broken chain.
bool ResolveDanglingLinks(std::string& path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISLNK(st.st_mode)) return true;
    char target[PATH_MAX];
    const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    if (length < 0) return false;
    const std::string next(target, static_cast<size_t>(length));
    path = next.starts_with('/') ? next : DirectoryOf(path) + "/" + next;
  }
  errno = ELOOP;
  return false;
}

mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

constexpr int kNotWaiting = -2;
constexpr int kReaderWaitMs = 50;

// Opens a target that is no regular file for writing, truncated as "wb" would. A named pipe is
// opened without waiting and tried again until a reader comes: open(2) would wait with no way
// to stop. -1 with errno on failure, kNotWaiting when `keep_waiting` said no.
int OpenForWriting(const std::string& path, const std::function<bool()>& keep_waiting) {
  for (;;) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd >= 0) {
      // Writing to the pipe waits for its reader as a plain write would.
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      return fd;
    }
    if (errno != ENXIO) return -1;  // ENXIO: a named pipe that nobody reads yet
    if (keep_waiting && !keep_waiting()) return kNotWaiting;
    poll(nullptr, 0, kReaderWaitMs);  // an interrupt ends the wait at once
  }
}

std::string SystemError(int error) {
  return std::strerror(error != 0 ? error : EIO);
}

}  // namespace

OutputFile::~OutputFile() {
  if (file_ != nullptr) CloseTextFile(std::move(file_));
  if (!temp_name_.empty()) unlink(temp_name_.c_str());
}

bool OutputFile::Open(const std::string& path, std::string& problem,
                      const std::function<bool()>& keep_waiting) {
  struct stat st;
  const bool exists = stat(path.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) {
    problem = SystemError(errno);
    return false;
  }
  if (exists && S_ISDIR(st.st_mode)) {
    problem = SystemError(EISDIR);
    return false;
  }
  if (exists && !S_ISREG(st.st_mode)) {
    const int fd = OpenForWriting(path, keep_waiting);
    if (fd == kNotWaiting) {
      problem.clear();
      return false;
    }
    std::FILE* stream = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (stream == nullptr) {
      problem = SystemError(errno);
      if (fd >= 0) close(fd);
      return false;
    }
    target_ = path;
    file_ = WrapForWriting(stream, true);
    errno = 0;
    return true;
  }

  mode_t mode = NewFileMode();
  if (exists) {
    std::unique_ptr<char, FreeDeleter> real(realpath(path.c_str(), nullptr));
    if (real == nullptr) {
      problem = SystemError(errno);
      return false;
    }
    target_ = real.get();
    // Replacing goes by the directory's permission; a write-protected file is refused as a plain
    // write to it would be.
    if (access(target_.c_str(), W_OK) != 0) {
      problem = SystemError(errno);
      return false;
    }
    mode = st.st_mode & 07777;
  } else {
    target_ = path;
    if (!ResolveDanglingLinks(target_)) {
      problem = SystemError(errno);
      return false;
    }
  }

  file_ = CreateFreshForWriting(target_, temp_name_);
  if (file_ == nullptr) {
    // The bare reason would be about a file the user never named: for /proc/version, "No such
    // file or directory" of a file that exists.
    const std::string reason = SystemError(errno);
    problem = Formatted(Translated("no new file can be made in %s: %s"),
                        DirectoryOf(target_).c_str(), reason.c_str());
    return false;
  }
  const int fd = TextFileDescriptor(*file_);
  // Best effort, for root writing someone else's file; a user keeps the file as their own.
  if (exists && (st.st_uid != geteuid() || st.st_gid != getegid()))
    (void)!fchown(fd, st.st_uid, st.st_gid);
  if (fchmod(fd, mode) != 0) {
    problem = SystemError(errno);
    return false;  // the destructor removes the fresh file
  }
  errno = 0;  // what is set from here on tells why writing failed
  return true;
}

bool OutputFile::Commit(std::string& problem) {
  if (file_ == nullptr) return false;
  if (!CloseTextFile(std::move(file_))) {
    problem = SystemError(errno);
    return false;
  }
  if (temp_name_.empty()) return true;
  if (!ReplaceFile(temp_name_, target_)) {
    problem = SystemError(errno);
    return false;
  }
  temp_name_.clear();
  return true;
}

void OutputFile::Abandon() {
  if (file_ == nullptr) return;
  const int fd = TextFileDescriptor(*file_);
  // The description is this program's own: a pipe's other users are not touched.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}
