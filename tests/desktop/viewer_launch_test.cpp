#include "desktop/viewer_launch.h"

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/utf8.h"
#include "tests/support/test_files.h"

namespace fs = std::filesystem;

namespace {

// Sets or unsets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

struct Record {
  std::string exe;
  std::string cwd;
  std::vector<std::string> args;
};

// A private directory tree with stand-ins named xdg-open: the working one, and the kinds of
// file of that name that the search has to pass over.
class LaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.path().empty());
    root_ = scratch_.path();
    record_ = root_ / "record";
    for (const char* dir : {"good", "dir", "empty", "noexec", "nested/sub", "work", "link"}) {
      fs::create_directories(root_ / dir);
    }
    InstallRecorder(root_ / "good" / "xdg-open");
    InstallRecorder(root_ / "nested" / "sub" / "xdg-open");
    fs::create_directory(root_ / "dir" / "xdg-open");
    std::ofstream(root_ / "empty" / "xdg-open").close();
    fs::permissions(root_ / "empty" / "xdg-open", fs::perms(0755));
    fs::copy_file(LISTWISE_ARGV_RECORDER, root_ / "noexec" / "xdg-open");
    fs::permissions(root_ / "noexec" / "xdg-open", fs::perms(0644));
    fs::create_symlink(root_ / "good" / "xdg-open", root_ / "link" / "xdg-open");
  }

  static void InstallRecorder(const fs::path& to) {
    fs::copy_file(LISTWISE_ARGV_RECORDER, to);
    fs::permissions(to, fs::perms(0755));
  }

  std::string Dir(const char* name) const { return (root_ / name).string(); }

  // The launched program runs on its own; wait for its record (the test fails, not hangs, if
  // it never comes).
  std::optional<Record> WaitForRecord() const {
    for (int i = 0; i < 1000; ++i) {
      std::ifstream in(record_);
      if (in) {
        Record record;
        std::string line;
        while (std::getline(in, line)) {
          if (line.rfind("exe=", 0) == 0) record.exe = line.substr(4);
          if (line.rfind("cwd=", 0) == 0) record.cwd = line.substr(4);
          if (line.rfind("arg=", 0) == 0) record.args.push_back(line.substr(4));
        }
        return record;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
  }

  ScratchDir scratch_{"launch"};
  fs::path root_;
  fs::path record_;
};

int DefunctChildren() {
  int count = 0;
  const std::string me = std::to_string(getpid());
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return -1;
  while (dirent* entry = readdir(proc)) {
    std::ifstream in(std::string("/proc/") + entry->d_name + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) continue;
    // After the command name in parentheses: state, then the parent's id.
    std::istringstream rest(stat.substr(stat.rfind(')') + 1));
    std::string state, parent;
    rest >> state >> parent;
    if (state == "Z" && parent == me) ++count;
  }
  closedir(proc);
  return count;
}

TEST(SplitParameters, CutsWordsAtBlanksAndQuotes) {
  using Words = std::vector<std::string>;
  const struct {
    const char* text;
    Words words;
  } cases[] = {
      {"", {}},
      {" \t\n ", {}},
      {"a  b", {"a", "b"}},
      {"  lead\ttrail\n", {"lead", "trail"}},
      {"\"a b\" c", {"a b", "c"}},
      {"\"a b\"c", {"a b", "c"}},
      {"\"\"", {""}},
      {"\"\"\"\"", {"", ""}},
      {"x \"\" y", {"x", "", "y"}},
      {"ab\"c d", {"ab\"c", "d"}},
      {"\"open to the end", {"open to the end"}},
      {"a\rb", {"a\rb"}},
      {"'a b'", {"'a", "b'"}},
      {"a\\ b", {"a\\", "b"}},
      {"/tmp/~ListwiseData.txt", {"/tmp/~ListwiseData.txt"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitParameters(c.text), c.words) << c.text;
}

TEST_F(LaunchTest, RunnableFileIsANonEmptyExecutableNonDirectory) {
  const struct {
    std::string path;
    bool runnable;
  } cases[] = {
      {Dir("good") + "/xdg-open", true},    {Dir("link") + "/xdg-open", true},
      {Dir("dir") + "/xdg-open", false},    {Dir("empty") + "/xdg-open", false},
      {Dir("noexec") + "/xdg-open", false}, {Dir("good") + "/missing", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsRunnableFile(c.path), c.runnable) << c.path;
  fs::create_symlink(root_ / "good" / "missing", root_ / "dangling");
  EXPECT_FALSE(IsRunnableFile(Dir("dangling")));
}

TEST_F(LaunchTest, SearchWalksThePathAndPassesOverUnusableNames) {
  const std::string good = Dir("good") + "/xdg-open";
  const struct {
    std::string name;
    std::optional<std::string> path;  // PATH, nullopt for unset
    std::string found;
  } cases[] = {
      {"xdg-open", std::nullopt, ""},
      {"xdg-open", "", ""},
      {"xdg-open", ":::", ""},
      {"xdg-open", "/nonexistent::" + Dir("good"), good},
      {"xdg-open", Dir("good") + "/", good},
      {"xdg-open", Dir("good") + "//", Dir("good") + "//xdg-open"},
      {"xdg-open", Dir("dir") + ":" + Dir("empty") + ":" + Dir("noexec") + ":" + Dir("good"), good},
      {"xdg-open", Dir("link"), Dir("link") + "/xdg-open"},
      {"xdg-open", Dir("dir"), ""},
      {"missing", Dir("good"), ""},
      {good, "", good},
      {"/nonexistent/xdg-open", Dir("good"), ""},
      {"./xdg-open", Dir("good"), ""},
      // A relative name with a slash inside is also tried below every component.
      {"sub/xdg-open", Dir("nested"), Dir("nested") + "/sub/xdg-open"},
      {"", Dir("good"), ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LocateProgram(c.name, c.path ? c.path->c_str() : nullptr), c.found)
        << c.name << " in " << c.path.value_or("(unset)");
  }
}

TEST_F(LaunchTest, WithoutPathNothingStarts) {
  ScopedEnv path("PATH", nullptr);
  ScopedEnv record("LISTWISE_RECORD", record_.c_str());
  EXPECT_FALSE(LaunchProgram(u"xdg-open", u"/tmp/~ListwiseData.txt", u""));
}

TEST_F(LaunchTest, UnknownProgramFails) {
  ScopedEnv path("PATH", (Dir("dir") + ":" + Dir("empty") + ":" + Dir("noexec")).c_str());
  EXPECT_FALSE(LaunchProgram(u"xdg-open", u"x", u""));
  EXPECT_FALSE(LaunchProgram(TextFromUtf8(Dir("noexec") + "/xdg-open"), u"x", u""));
  EXPECT_FALSE(LaunchProgram(u"./xdg-open", u"x", u""));
}

// An empty executable "xdg-open" earlier on PATH must not swallow the launch: the exec would run
// it as an empty shell script, and the viewer found later on PATH would never start.
TEST_F(LaunchTest, StartsTheFileTheSearchFoundWithTheNameAsGiven) {
  const std::string path =
      "/nonexistent::" + Dir("dir") + ":" + Dir("empty") + ":" + Dir("noexec") + ":" + Dir("good");
  ScopedEnv env_path("PATH", path.c_str());
  ScopedEnv record("LISTWISE_RECORD", record_.c_str());
  ASSERT_TRUE(LaunchProgram(u"xdg-open", u"\"a b\"c  /tmp/~ListwiseData.txt", u""));
  const std::optional<Record> got = WaitForRecord();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->exe, Dir("good") + "/xdg-open");
  EXPECT_EQ(got->cwd, fs::current_path().string());
  EXPECT_EQ(got->args,
            (std::vector<std::string>{"xdg-open", "a b", "c", "/tmp/~ListwiseData.txt"}));
}

TEST_F(LaunchTest, RunsInTheWorkingDirectoryWhenItCanBeEntered) {
  ScopedEnv env_path("PATH", (Dir("good") + "/").c_str());
  ScopedEnv record("LISTWISE_RECORD", record_.c_str());
  const Text directory = TextFromUtf8(Dir("work"));
  ASSERT_TRUE(LaunchProgram(u"xdg-open", u"Список.txt", directory));
  std::optional<Record> got = WaitForRecord();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->cwd, Dir("work"));
  EXPECT_EQ(got->args, (std::vector<std::string>{"xdg-open", "Список.txt"}));

  fs::remove(record_);
  ASSERT_TRUE(LaunchProgram(u"xdg-open", u"", TextFromUtf8(Dir("nowhere"))));
  got = WaitForRecord();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->cwd, fs::current_path().string());
  EXPECT_EQ(got->args, (std::vector<std::string>{"xdg-open"}));
}

// A relative program name stays the program that was found, whatever directory it runs in.
TEST_F(LaunchTest, RelativeNameSurvivesTheChangeOfDirectory) {
  const fs::path before = fs::current_path();
  fs::current_path(root_);
  ScopedEnv env_path("PATH", "/nonexistent");
  ScopedEnv record("LISTWISE_RECORD", record_.c_str());
  const bool started = LaunchProgram(u"good/xdg-open", u"", TextFromUtf8(Dir("work")));
  fs::current_path(before);
  ASSERT_TRUE(started);
  const std::optional<Record> got = WaitForRecord();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->exe, Dir("good") + "/xdg-open");
  EXPECT_EQ(got->args, (std::vector<std::string>{"good/xdg-open"}));
}

TEST_F(LaunchTest, ManyLaunchesLeaveNoDefunctChildren) {
  ScopedEnv env_path("PATH", Dir("good").c_str());
  ScopedEnv record("LISTWISE_RECORD", nullptr);
  for (int i = 0; i < 50; ++i) ASSERT_TRUE(LaunchProgram(u"xdg-open", u"x", u"")) << i;
  EXPECT_EQ(DefunctChildren(), 0);
}

}  // namespace
