// Stands in for the desktop's viewer in the launch tests. When LISTWISE_RECORD names a file, it
// writes there which file ran, in which directory, and its argument vector, one item a line:
//   exe=<path of the running file>
//   cwd=<working directory>
//   arg=<argv[i]> for every i, argv[0] included
// The record is written under another name and renamed, so a reader never sees half of it.
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

int main(int argc, char** argv) {
  const char* record = getenv("LISTWISE_RECORD");
  if (record == nullptr) return 0;
  char exe[PATH_MAX] = {};
  if (readlink("/proc/self/exe", exe, sizeof exe - 1) < 0) exe[0] = '\0';
  char cwd[PATH_MAX] = {};
  if (getcwd(cwd, sizeof cwd) == nullptr) cwd[0] = '\0';

  std::string text = std::string("exe=") + exe + "\ncwd=" + cwd + "\n";
  for (int i = 0; i < argc; ++i) text += std::string("arg=") + argv[i] + "\n";

  const std::string partial = std::string(record) + ".part" + std::to_string(getpid());
  FILE* out = fopen(partial.c_str(), "w");
  if (out == nullptr) return 1;
  fwrite(text.data(), 1, text.size(), out);
  fclose(out);
  return rename(partial.c_str(), record) == 0 ? 0 : 1;
}
