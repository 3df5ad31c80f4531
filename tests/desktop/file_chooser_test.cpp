#include "desktop/file_chooser.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/utf8.h"
#include "tests/support/test_files.h"

namespace fs = std::filesystem;

namespace {

TEST(ParsePatternList, BuildsNamedFiltersFromTheList) {
  using Filters = std::vector<FileFilter>;
  const struct {
    const char* list;
    int index;
    Filters filters;
    int selected;
  } cases[] = {
      // The list of the open buttons: "*.*" lists files without a dot too.
      {"Все (*.*)|*.*", 0, {{"Все (*.*)", {"*"}}}, 0},
      {"Text|*.txt;*.csv|All|*.*", 1, {{"Text", {"*.txt", "*.csv"}}, {"All", {"*"}}}, 1},
      {"Text|*.txt;*.csv|All|*.*", 0, {{"Text", {"*.txt", "*.csv"}}, {"All", {"*"}}}, 0},
      {"Text|*.txt;*.csv|All|*.*", 2, {{"Text", {"*.txt", "*.csv"}}, {"All", {"*"}}}, -1},
      // Nothing is trimmed: the blank belongs to the second pattern.
      {"Text|*.txt; *.csv", 0, {{"Text", {"*.txt", " *.csv"}}}, 0},
      {" Spaced |*.a", 0, {{" Spaced ", {"*.a"}}}, 0},
      // Only the exact pattern "*.*" is widened.
      {"Mixed|*.*;*.*.bak;*.txt", 0, {{"Mixed", {"*", "*.*.bak", "*.txt"}}}, 0},
      {"", 0, {}, -1},
      {"Name without bar", 0, {}, -1},
      {"A|*.a|Dangling name", 0, {{"A", {"*.a"}}}, 0},
      // A ";" in a name is part of the name.
      {"a;b|*.x", 0, {{"a;b", {"*.x"}}}, 0},
      {"Empty|", 0, {{"Empty", {""}}}, 0},
      {"A|*.a|B|*.b;", 1, {{"A", {"*.a"}}, {"B", {"*.b", ""}}}, 1},
  };
  for (const auto& c : cases) {
    int selected = 99;
    const Filters got = ParsePatternList(c.list, c.index, &selected);
    ASSERT_EQ(got.size(), c.filters.size()) << c.list;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].name, c.filters[i].name) << c.list;
      EXPECT_EQ(got[i].patterns, c.filters[i].patterns) << c.list;
    }
    EXPECT_EQ(selected, c.selected) << c.list;
  }
}

// Moves into a directory for one test and back out.
class InDirectory {
 public:
  explicit InDirectory(const fs::path& dir) : before_(fs::current_path()) { fs::current_path(dir); }
  ~InDirectory() { fs::current_path(before_); }

 private:
  fs::path before_;
};

TEST(CurrentDirectoryPath, EndsWithOneSlash) {
  {
    InDirectory root("/");
    EXPECT_EQ(CurrentDirectoryPath(), u"/");
  }
  const ScratchDir scratch("cwd");
  ASSERT_FALSE(scratch.path().empty());
  const fs::path dir = fs::path(scratch.path()) / "Каталог";
  fs::create_directory(dir);
  {
    InDirectory inside(dir);
    EXPECT_EQ(CurrentDirectoryPath(), TextFromUtf8(dir.string() + "/"));
  }
}

TEST(CurrentDirectoryPath, EmptyWhenTheDirectoryIsGone) {
  const ScratchDir scratch("gone");
  ASSERT_FALSE(scratch.path().empty());
  InDirectory inside(scratch.path());
  fs::remove(scratch.path());
  EXPECT_EQ(CurrentDirectoryPath(), u"");
}

}  // namespace
