// Files for tests: a private directory under /tmp that goes away with the test, and reading a
// file back whole to compare its bytes.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>

// A byte string written as numbers, for bytes that are awkward in a literal (zeros, lone
// continuation bytes).
inline std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class ScratchDir {
 public:
  // The directory is /tmp/listwise-<name>-XXXXXX, so a leftover tells which test left it.
  explicit ScratchDir(const std::string& name) {
    std::string pattern = "/tmp/listwise-" + name + "-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // Empty when the directory could not be made.
  const std::string& path() const { return path_; }
  // Writes the bytes to a file of that name in the directory; returns its path.
  std::string Put(const std::string& name, const std::string& bytes) const {
    const std::string file = path_ + "/" + name;
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
  }

 private:
  std::string path_;
};
