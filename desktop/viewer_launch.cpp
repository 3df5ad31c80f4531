#include "desktop/viewer_launch.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "core/utf8.h"

namespace {

// One end of a pipe, closed when it goes out of scope on every path out of the launch.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }
  int get() const { return fd_; }
  void Reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n';
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// A located program with a relative name is made absolute, so that entering the working
// directory in the started process cannot make it run something else.
std::string Absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char buffer[4096];
  if (getcwd(buffer, sizeof buffer) == nullptr) return path;
  std::string result = buffer;
  if (result.back() != '/') result += '/';
  return result + path;
}

// Everything below runs in a child of a process that may have threads (GTK starts some), so it
// uses only async-signal-safe calls: no allocation, no streams, no locks.
[[noreturn]] void RunGrandchild(const char* file, char* const* argv, const char* directory) {
  if (directory[0] != '\0' && chdir(directory) != 0) {
    // A directory that cannot be entered leaves the program in the tool's own directory.
  }
  execv(file, argv);
  _exit(1);
}

[[noreturn]] void RunIntermediateChild(int read_end, int write_end, const char* file,
                                       char* const* argv, const char* directory) {
  close(read_end);
  // _Fork, unlike fork, runs no fork handlers, which is what keeps it async-signal-safe here.
  const pid_t grandchild = _Fork();
  if (grandchild < 0) {
    close(write_end);
    _exit(1);
  }
  if (grandchild == 0) {
    close(write_end);
    RunGrandchild(file, argv, directory);
  }
  const int32_t id = grandchild;
  const char* bytes = reinterpret_cast<const char*>(&id);
  size_t written = 0;
  while (written < sizeof id) {
    const ssize_t n = write(write_end, bytes + written, sizeof id - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  close(write_end);
  _exit(written == sizeof id ? 0 : 1);
}

// Reads the grandchild's id; -1 when fewer than its 4 bytes arrive.
int32_t ReadProcessId(int fd) {
  int32_t id = -1;
  char* bytes = reinterpret_cast<char*>(&id);
  size_t got = 0;
  while (got < sizeof id) {
    const ssize_t n = read(fd, bytes + got, sizeof id - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    got += static_cast<size_t>(n);
  }
  return id;
}

}  // namespace

bool IsRunnableFile(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return false;
  if (S_ISDIR(info.st_mode)) return false;
  if (info.st_size <= 0) return false;
  return access(path.c_str(), X_OK) == 0;
}

std::string LocateProgram(const std::string& name, const char* search_path) {
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos && IsRunnableFile(name)) return name;
  if (StartsWith(name, "/") || StartsWith(name, "./")) return {};
  if (search_path == nullptr) return {};
  std::string_view rest = search_path;
  while (true) {
    const size_t colon = rest.find(':');
    const std::string_view component = rest.substr(0, colon);
    if (!component.empty()) {
      std::string candidate(component);
      if (candidate.back() != '/') candidate += '/';
      candidate += name;
      if (IsRunnableFile(candidate)) return candidate;
    }
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return {};
}

std::vector<std::string> SplitParameters(std::string_view text) {
  std::vector<std::string> words;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    while (i < n && IsBlank(text[i])) ++i;
    if (i == n) break;
    if (text[i] == '"') {
      const size_t start = i + 1;
      const size_t close = text.find('"', start);
      if (close == std::string_view::npos) {
        words.emplace_back(text.substr(start));
        break;
      }
      words.emplace_back(text.substr(start, close - start));
      // The character after the closing quote starts the next word even when it is no blank.
      i = close + 1;
    } else {
      const size_t start = i;
      while (i < n && !IsBlank(text[i])) ++i;
      words.emplace_back(text.substr(start, i - start));
    }
  }
  return words;
}

bool LaunchProgram(TextView program, TextView parameters, TextView working_directory) {
  const std::string name = Utf8FromText(program);
  const std::string directory = Utf8FromText(working_directory);
  std::vector<std::string> words = SplitParameters(Utf8FromText(parameters));

  // The located file is what gets executed. Searching PATH a second time at exec could pick an
  // earlier candidate that the search passed over on purpose (an empty executable file, which
  // the exec would hand to the shell as an empty script, so the viewer would never appear).
  const std::string file = Absolute(LocateProgram(name, std::getenv("PATH")));
  if (file.empty()) return false;

  // The argument vector is complete before the fork: the children must not allocate.
  words.insert(words.begin(), name);
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  UniqueFd read_end(ends[0]);
  UniqueFd write_end(ends[1]);

  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    RunIntermediateChild(read_end.get(), write_end.get(), file.c_str(), argv.data(),
                         directory.c_str());
  }
  write_end.Reset();
  const int32_t id = ReadProcessId(read_end.get());
  read_end.Reset();

  // The intermediate child ends right after its fork and write; the grandchild, orphaned by
  // then, is collected by the system and never becomes a defunct child of the tool.
  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(child, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited != child) return false;
  return id >= 0;
}
