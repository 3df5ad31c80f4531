#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "core/utf8.h"
#include "engine/result_writer.h"
#include "engine/run.h"
#include "engine/run_plan.h"
#include "engine/run_steps.h"
#include "tests/support/byte_sink.h"
#include "tests/support/operation_texts.h"
#include "tests/support/test_files.h"

namespace {

using enum Operation;

// Records what a run asks of the window, in order.
class RecordingHost : public RunHost {
 public:
  void SetStatus(const Text& text) override { calls.push_back("status:" + Utf8FromText(text)); }
  void ShowError(const Text& message, const Text& detail) override {
    calls.push_back("error:" + Utf8FromText(message) +
                    (detail.empty() ? "" : " | " + Utf8FromText(detail)));
  }
  void LockControls(bool locked) override { calls.push_back(locked ? "lock" : "unlock"); }
  void LaunchViewer(const Text& path) override { calls.push_back("viewer:" + Utf8FromText(path)); }
  std::vector<std::string> calls;
};

// Records the run's reports and asks it to stop at the first report of `stop_in`.
class StoppingHost : public RecordingHost {
 public:
  explicit StoppingHost(std::optional<RunPhase> stop_in) : stop_in_(stop_in) {}
  struct Report {
    RunPhase phase;
    uint64_t done, total;
  };
  std::vector<Report> reports;

 protected:
  bool Progress(RunPhase phase, uint64_t done, uint64_t total) override {
    reports.push_back({phase, done, total});
    return phase != stop_in_;
  }

 private:
  std::optional<RunPhase> stop_in_;
};

class RunTest : public testing::Test {
 protected:
  void SetUp() override { result_ = dir_ + "/result.txt"; }
  void TearDown() override { chmod((dir_ + "/locked").c_str(), 0600); }
  Text Put(const std::string& name, const std::string& bytes) {
    return TextFromUtf8(scratch_.Put(name, bytes));
  }
  RunRequest Request(Operation operation, Text first, Text second) {
    RunRequest r;
    r.operation = operation;
    r.first_field = std::move(first);
    r.second_field = std::move(second);
    r.read_separator = u"\\r\\n";
    r.result_separator = u"\\r\\n";
    return r;
  }
  std::vector<std::string> Run(const RunRequest& request) {
    RecordingHost host;
    RunComparison(request, host, TextFromUtf8(result_));
    return host.calls;
  }

  ScratchDir scratch_{"run"};
  const std::string& dir_ = scratch_.path();
  std::string result_;
};

const std::string kBom = "\xEF\xBB\xBF";

}  // namespace

TEST_F(RunTest, InputErrorsAreCheckedInOrderAndStopTheRun) {
  const Text a = Put("a.txt", "x\r\n");
  const Text b = Put("b.txt", "y\r\n");
  const Text missing = TextFromUtf8(dir_ + "/missing.txt");
  const Text folder = TextFromUtf8(dir_);
  Put("locked", "secret");
  chmod((dir_ + "/locked").c_str(), 0);
  const Text locked = TextFromUtf8(dir_ + "/locked");
  const bool root = geteuid() == 0;  // root opens files whatever their permissions

  struct Case {
    const char* name;
    RunRequest request;
    const char* message;  // nullptr: the run passes
    std::string about;    // the line below the message in the box
  };
  auto with_separator = [&](RunRequest r, Text sep) {
    r.read_separator = std::move(sep);
    return r;
  };
  const std::string in_first = "Список 1: ", in_second = "Список 2: ";
  const Case cases[] = {
      {"separator first", with_separator(Request(ModeOnlyInSecond, u"", u""), u""),
       "Отсутствует разделитель", "Разделитель при чтении: поле пусто"},
      {"empty first", Request(ModeOnlyInSecond, u"", b), "Отсутствует список",
       "Список 1: поле пусто"},
      {"same text", Request(ModeOnlyInSecond, a, a), "один и тот же файл в поле ввода",
       "Список 1 и список 2: " + Utf8FromText(a)},
      {"same text one-list mode", Request(ModeDeduplicate, a, a), "один и тот же файл в поле ввода",
       "Список 1 и список 2: " + Utf8FromText(a)},
      {"same file other spelling passes",
       Request(ModeOnlyInSecond, a, TextFromUtf8(dir_ + "/./a.txt")), nullptr, ""},
      {"missing first", Request(ModeOnlyInSecond, missing, b), "Файл не существует",
       in_first + Utf8FromText(missing)},
      {"directory", Request(ModeOnlyInSecond, folder, b), "Это папка, а не файл", in_first + dir_},
      {"first read before second checked", Request(ModeOnlyInSecond, missing, u""),
       "Файл не существует", in_first + Utf8FromText(missing)},
      {"empty second", Request(ModeOnlyInSecond, a, u""), "Отсутствует список",
       "Список 2: поле пусто"},
      {"missing second", Request(ModeInBoth, a, missing), "Файл не существует",
       in_second + Utf8FromText(missing)},
      {"directory second", Request(ModeMerge, u"<1>", folder), "Это папка, а не файл",
       in_second + dir_},
      {"one-list mode ignores second", Request(ModeCountUnique, a, u""), nullptr, ""},
      {"marker skips the same-file test", Request(ModeOnlyInSecond, u"<1>", u"<1>"), nullptr, ""},
      {"unreadable", Request(ModeDeduplicate, locked, u""),
       root ? nullptr : "Файл не удаётся открыть", in_first + Utf8FromText(locked)},
      {"read error", Request(ModeOnlyInSecond, a, u"/proc/self/mem"), "Файл не удаётся открыть",
       in_second + "/proc/self/mem"},
  };
  for (const Case& c : cases) {
    std::ofstream(result_, std::ios::binary) << "earlier result";
    const std::vector<std::string> calls = Run(c.request);
    if (c.message == nullptr) {
      ASSERT_EQ(calls.size(), 4u) << c.name;
      EXPECT_EQ(calls[0], "lock") << c.name;
      continue;
    }
    const std::vector<std::string> expected = {std::string("status:") + c.message,
                                               std::string("error:") + c.message + " | " + c.about};
    EXPECT_EQ(calls, expected) << c.name;
    EXPECT_EQ(ReadWholeFile(result_), "earlier result") << c.name;
  }
}

TEST_F(RunTest, ACompletedRunReportsWritesUnlocksThenLaunches) {
  const Text first = Put("first.txt", "b\r\na\r\n");
  const Text second = Put("second.txt", "a\r\nc\r\nb\r\nd");
  const std::vector<std::string> calls = Run(Request(ModeOnlyInSecond, first, second));
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0], "lock");
  EXPECT_TRUE(std::regex_match(calls[1], std::regex("status:Найдено 2 за [0-9]+ мсек")))
      << calls[1];
  EXPECT_EQ(calls[2], "unlock");
  EXPECT_EQ(calls[3], "viewer:" + result_);
  EXPECT_EQ(ReadWholeFile(result_), kBom + "c\r\nd");
}

// A text handed in stands where its file would be read: no field checks of its own, a failed
// reading told at that point of the order, and no file to be the same as the other.
TEST_F(RunTest, TextsHandedInAreCheckedWhereTheirFileWouldBe) {
  const Text a = Put("a.txt", "x");
  const Text missing = TextFromUtf8(dir_ + "/missing.txt");
  const SourceText read{u"r", {true, false, {}}, false};
  const SourceText broken{u"", {}, true};
  struct Case {
    const char* name;
    RunRequest request;
    InputError error;
    RunSource source;
  };
  auto with = [](RunRequest r, std::optional<SourceText> first, std::optional<SourceText> second) {
    r.first_text = first;
    r.second_text = second;
    return r;
  };
  RunRequest no_separator = with(Request(ModeInBoth, u"", u""), broken, {});
  no_separator.read_separator.clear();
  const Case cases[] = {
      {"separator first", no_separator, InputError::MissingSeparator, RunSource::None},
      {"first before the second file", with(Request(ModeInBoth, u"", missing), broken, {}),
       InputError::FileUnreadable, RunSource::First},
      {"first file before the second text", with(Request(ModeInBoth, missing, u""), {}, broken),
       InputError::FileMissing, RunSource::First},
      {"second after everything else", with(Request(ModeMerge, a, u""), {}, broken),
       InputError::FileUnreadable, RunSource::Second},
      {"no same file with a text", with(Request(ModeOnlyInSecond, a, a), {}, read),
       InputError::None, RunSource::None},
      {"one-list mode ignores a second text", with(Request(ModeDeduplicate, a, u""), {}, broken),
       InputError::None, RunSource::None},
      {"the same file is about the first", Request(ModeDeduplicate, a, a), InputError::SameFile,
       RunSource::First},
      {"an empty second field", Request(ModeInBoth, a, u""), InputError::MissingList,
       RunSource::Second},
  };
  for (const Case& c : cases) {
    LoadedRun run;
    RunSource source = RunSource::First;
    EXPECT_EQ(LoadRun(c.request, run, &source), c.error) << c.name;
    EXPECT_EQ(source, c.source) << c.name;
  }
  // A text handed in wins over a field that looks like a marker, and keeps its notices.
  LoadedRun run;
  ASSERT_EQ(LoadRun(with(Request(ModeInBoth, u"<1>", u"<2>"), read, read), run), InputError::None);
  ByteSink result(false);
  MakeResult(run, result);
  EXPECT_EQ(result.bytes(), "r\r\n");
  EXPECT_TRUE(run.first_notices.not_utf8 && run.second_notices.not_utf8);
}

// Sources that may not be what the user thinks are told after the count, file 1 first; the
// kept clipboard texts never are.
TEST_F(RunTest, StatusTellsEncodingsJudgedAndSourcesEndedAtAZero) {
  const Text plain = Put("plain.txt", "a\r\n");
  const Text cp1251 = Put("cp1251.txt", "\xCF\xF0\xE8\r\n");
  const Text binary = Put("binary.bin", std::string("a\0\xFF", 3));
  const struct {
    RunRequest request;
    const char* notices;
  } cases[] = {
      {Request(ModeOnlyInSecond, plain, cp1251), "; файл 2 прочитан как Windows-1251"},
      {Request(ModeDeduplicate, binary, u""),
       "; файл 1 похож на двоичный: прочитано 1 байт из 3 байт"},
      // Both lists: the short form, which the status line has room for.
      {Request(ModeOnlyInSecond, cp1251, binary),
       "; файлы: 1 Windows-1251, 2 двоичный: 1 байт из 3 байт"},
      {Request(ModeOnlyInSecond, Put("both1.bin", std::string("\xCF\xF0\xE8\0", 4)), cp1251),
       "; файлы: 1 Windows-1251 и двоичный: 3 байта из 4 байт, 2 Windows-1251"},
      {Request(ModeMerge, Put("both.bin", std::string("\xCF\xF0\xE8\0", 4)), u"<1>"),
       "; файл 1 прочитан как Windows-1251; файл 1 похож на двоичный: прочитано 3 байта из 4 "
       "байт"},
      {Request(ModeOnlyInSecond, plain, Put("plain2.txt", "b")), ""},
  };
  for (const auto& c : cases) {
    RunRequest request = c.request;
    const Text odd = u"\u00E9";
    request.clipboard_second = odd;
    const std::vector<std::string> calls = Run(request);
    ASSERT_EQ(calls.size(), 4u) << c.notices;
    EXPECT_TRUE(std::regex_match(
        calls[1], std::regex("status:Найдено [0-9]+ за [0-9]+ мсек" + std::string(c.notices))))
        << calls[1];
  }
}

// Sizes in the notices: Russian plurals, tenths below ten, and never rounded up, so that a part
// never reads as the whole.
TEST(RunSteps, ByteSizeText) {
  const struct {
    uint64_t bytes;
    const char16_t* text;
  } cases[] = {
      {0, u"0 байт"},        {1, u"1 байт"},      {2, u"2 байта"},     {5, u"5 байт"},
      {11, u"11 байт"},      {21, u"21 байт"},    {22, u"22 байта"},   {112, u"112 байт"},
      {1023, u"1023 байта"}, {1024, u"1 КБ"},     {1536, u"1,5 КБ"},   {10239, u"9,9 КБ"},
      {143359, u"139 КБ"},   {143360, u"140 КБ"}, {5u << 20, u"5 МБ"}, {(3u << 30) - 1, u"2,9 ГБ"},
  };
  for (const auto& c : cases) EXPECT_EQ(ByteSizeText(c.bytes), c.text) << c.bytes;
  EXPECT_EQ(ByteSizeText(1, true), u"1 байта");
  EXPECT_EQ(ByteSizeText(3, true), u"3 байт");
  EXPECT_EQ(ByteSizeText(1536, true), u"1,5 КБ");
}

TEST_F(RunTest, ResultFileBytes) {
  const struct {
    const char* name;
    Operation operation;
    std::string first, second;
    const char16_t* result_separator;
    std::string bytes;
  } cases[] = {
      {"empty result is the mark alone", ModeOnlyInSecond, "a\r\n", "a\r\n", u"\\r\\n", ""},
      {"no final separator", ModeDeduplicate, "b\r\na\r\nb", "", u"\\r\\n", "a\r\nb"},
      {"empty separator cuts nothing", ModeDeduplicate, "b\r\na", "", u"", "ab"},
      {"merge loses its last line end", ModeMerge, "a\r\nb", "1\r\n2", u"=", "a=1\r\nb=2"},
      {"utf-16 sources, utf-8 result", ModeDeduplicate,
       std::string("\xFF\xFE\x16\x04\n\x00\x41\x00", 8), "", u"\\n", "\xD0\x96\nA"},
      {"cyrillic stays intact", ModeCountUnique, "Ёж\r\nЁж", "", u"\\r\\n", "2 Ёж"},
      {"a lone high surrogate loses nothing after it", ModeDeduplicate,
       std::string("\xFF\xFEz\0\n\0\x00\xD8\n\0a\0", 12), "", u"\\n", "\xED\xA0\x80\na\nz"},
  };
  int n = 0;
  for (const auto& c : cases) {
    RunRequest request = Request(c.operation, Put("f" + std::to_string(n), c.first),
                                 Put("s" + std::to_string(n), c.second));
    ++n;
    request.result_separator = c.result_separator;
    Run(request);
    EXPECT_EQ(ReadWholeFile(result_), kBom + c.bytes) << c.name;
  }
}

TEST_F(RunTest, ClipboardMarkersSelectTheKeptTexts) {
  const Text kept_first = u"one\ntwo\n";
  const Text kept_second = u"two\nthree\n";
  RunRequest request = Request(ModeOnlyInSecond, u"<1>", u"<anything");
  request.read_separator = u"\\n";
  request.clipboard_first = kept_first;
  request.clipboard_second = kept_second;
  Run(request);
  EXPECT_EQ(ReadWholeFile(result_), kBom + "three");
  // A marker with nothing pasted is one empty item.
  RunRequest empty = Request(ModeCountUnique, u"<", u"");
  Run(empty);
  EXPECT_EQ(ReadWholeFile(result_), kBom + "1 ");
}

TEST_F(RunTest, ResultIsNeverWrittenThroughALink) {
  const std::string victim = dir_ + "/victim.txt";
  std::ofstream(victim) << "precious";
  ASSERT_EQ(symlink(victim.c_str(), result_.c_str()), 0);
  Run(Request(ModeDeduplicate, Put("list.txt", "q"), u""));
  EXPECT_EQ(ReadWholeFile(victim), "precious");
  EXPECT_EQ(ReadWholeFile(result_), kBom + "q");
  struct stat st;
  ASSERT_EQ(lstat(result_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// A result that cannot take its name goes to the user's own name beside it, which the status
// names and the viewer opens; with that one blocked too, nothing is written and no viewer starts.
TEST_F(RunTest, BlockedResultPathFallsBackToTheUsersOwnName) {
  const std::string personal = PersonalResultPath(result_);
  const std::string list = Utf8FromText(Put("list.txt", "q"));
  mkdir(result_.c_str(), 0700);  // a directory where the result should go
  std::vector<std::string> calls = Run(Request(ModeDeduplicate, TextFromUtf8(list), u""));
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_TRUE(calls[1].ends_with("мсек; записано в " + personal)) << calls[1];
  EXPECT_EQ(calls[3], "viewer:" + personal);
  EXPECT_EQ(ReadWholeFile(personal), kBom + "q");

  unlink(personal.c_str());
  mkdir(personal.c_str(), 0700);
  calls = Run(Request(ModeDeduplicate, TextFromUtf8(list), u""));
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0], "lock");
  EXPECT_TRUE(calls[1].ends_with("мсек; не удалось записать " + personal)) << calls[1];
  EXPECT_EQ(calls[2], "unlock");
  // The box names the file and gives the system's reason.
  EXPECT_EQ(calls[3],
            "error:Не удалось записать результат | " + personal + ": " + std::strerror(EISDIR));
  // No stray temporary file is left beside them: the list and the two directories.
  EXPECT_EQ(std::system(("test $(ls -A '" + dir_ + "' | wc -l) -eq 3").c_str()), 0);
}

// A list cut while it is read, or changed before Merge reads it again, is told as a change, about
// that list, and leaves the earlier result in place.
TEST_F(RunTest, AListThatChangesWhileReadIsToldAsAChange) {
  std::string big;
  while (big.size() < (size_t{24} << 20)) big += "line" + std::to_string(big.size()) + "\n";
  const std::string first = Utf8FromText(Put("first.txt", big));
  const std::string second = Utf8FromText(Put("second.txt", "x\ny\n"));
  // phase in which the first list is cut, operation
  const struct {
    RunPhase cut_in;
    Operation operation;
  } cases[] = {{RunPhase::ReadingFirst, ModeDeduplicate}, {RunPhase::ReadingSecond, ModeMerge}};
  for (const auto& c : cases) {
    Put("first.txt", big);
    std::ofstream(result_, std::ios::binary) << "earlier result";
    class CuttingHost : public RecordingHost {
     public:
      CuttingHost(RunPhase phase, std::string path) : phase_(phase), path_(std::move(path)) {}

     protected:
      bool Progress(RunPhase phase, uint64_t, uint64_t) override {
        if (phase == phase_ && !cut_) cut_ = truncate(path_.c_str(), 10) == 0;
        return true;
      }

     private:
      RunPhase phase_;
      std::string path_;
      bool cut_ = false;
    } host(c.cut_in, first);
    RunRequest request = Request(c.operation, TextFromUtf8(first), TextFromUtf8(second));
    request.read_separator = request.result_separator = u"\\n";
    RunComparison(request, host, TextFromUtf8(result_));
    const std::string message = "Файл изменился во время чтения";
    EXPECT_NE(std::find(host.calls.begin(), host.calls.end(), "status:" + message),
              host.calls.end());
    EXPECT_EQ(host.calls.back(), "error:" + message + " | Список 1: " + first);
    EXPECT_EQ(ReadWholeFile(result_), "earlier result");
  }
}

// The user's name goes into the file name, before its extension, never into a directory.
TEST(PersonalResultPath, NamesTheUserBeforeTheExtension) {
  const struct {
    const char *path, *before, *after;
  } cases[] = {
      {"/tmp/~ListwiseData.txt", "/tmp/~ListwiseData-", ".txt"},
      {"/tmp/a.b/result", "/tmp/a.b/result-", ""},
      {"/tmp/.result", "/tmp/.result-", ""},
      {"result.txt", "result-", ".txt"},
  };
  for (const auto& c : cases) {
    const std::string path = PersonalResultPath(c.path);
    ASSERT_TRUE(path.starts_with(c.before) && path.ends_with(c.after)) << path;
    const std::string user =
        path.substr(strlen(c.before), path.size() - strlen(c.before) - strlen(c.after));
    EXPECT_FALSE(user.empty()) << path;
    EXPECT_EQ(user.find('/'), std::string::npos) << path;
  }
}

// Reports come phase after phase, each counting up to no more than its total, and a stop asked
// for in any phase ends the run with the earlier result file as it was, nothing left beside it
// and no viewer: with buckets in memory or spilled, and with a source converted as it is read.
TEST_F(RunTest, ReportsGoForwardAndAStopInAnyPhaseLeavesNothing) {
  std::string first_bytes, second_bytes;
  for (int n = 0; n < 3000; ++n) {
    first_bytes += "item" + std::to_string(n * 7 % 1000) + "\r\n";
    second_bytes += "Item" + std::to_string(n * 13 % 2000) + "\r\n";
  }
  std::string utf32 = Bytes({0xFF, 0xFE, 0, 0});
  for (char c : first_bytes) utf32 += std::string(1, c) + std::string(3, '\0');
  const std::string tmp = dir_ + "/tmp";
  std::filesystem::create_directory(tmp);
  setenv("TMPDIR", tmp.c_str(), 1);
  RunPlan small_runs, spilled;
  small_runs.chunk_bytes = spilled.chunk_bytes = 4096;
  small_runs.memory_budget = SIZE_MAX;
  spilled.spill_from_start = true;
  spilled.threads = 2;
  const struct {
    const char* name;
    const RunPlan* plan;
    bool utf32;
  } engines[] = {
      {"bytes", &small_runs, false}, {"spilled", &spilled, false}, {"utf-32", &small_runs, true}};
  const Text first = Put("first.txt", first_bytes);
  const Text second = Put("second.txt", second_bytes);
  const Text first32 = Put("first32.txt", utf32);
  std::vector<std::string> listing;
  for (const auto& entry : std::filesystem::directory_iterator(dir_))
    listing.push_back(entry.path().filename());
  const std::optional<RunPhase> stops[] = {std::nullopt, RunPhase::ReadingFirst,
                                           RunPhase::ReadingSecond, RunPhase::Working};
  for (const auto& engine : engines) {
    for (Operation operation :
         {ModeOnlyInSecond, ModeInBoth, ModeDeduplicate, ModeCountUnique, ModeMerge}) {
      for (const std::optional<RunPhase>& stop : stops) {
        const std::string what = std::string(engine.name) + " operation " +
                                 std::to_string(static_cast<int>(operation)) + " stop in " +
                                 (stop ? std::to_string(static_cast<int>(*stop)) : "none");
        std::ofstream(result_, std::ios::binary) << "earlier result";
        RunRequest request = Request(operation, engine.utf32 ? first32 : first, second);
        request.case_sensitive = operation != ModeOnlyInSecond;  // its kept order writes apart
        OverrideRunPlan(engine.plan);
        StoppingHost host(stop);
        RunComparison(request, host, TextFromUtf8(result_));
        OverrideRunPlan(nullptr);
        std::vector<std::string> left;
        for (const auto& entry : std::filesystem::directory_iterator(dir_))
          if (entry.path().filename() != "result.txt") left.push_back(entry.path().filename());
        std::sort(left.begin(), left.end());
        std::sort(listing.begin(), listing.end());
        EXPECT_EQ(left, listing) << what;
        EXPECT_TRUE(std::filesystem::is_empty(tmp)) << what;
        const bool stopped = std::any_of(host.reports.begin(), host.reports.end(),
                                         [&](const auto& r) { return r.phase == stop; });
        if (stopped) {
          EXPECT_EQ(host.calls.back(), "unlock") << what;
          EXPECT_EQ(host.calls.rbegin()[1], "status:Отменено") << what;
          EXPECT_EQ(ReadWholeFile(result_), "earlier result") << what;
          EXPECT_EQ(host.reports.back().phase, stop) << what << ": reports after the stop";
        } else {
          EXPECT_EQ(host.calls.back(), "viewer:" + result_) << what;
        }
        for (size_t k = 1; k < host.reports.size(); ++k) {
          const auto& [before, now] = std::pair(host.reports[k - 1], host.reports[k]);
          EXPECT_TRUE(before.phase < now.phase ||
                      (before.phase == now.phase && before.done <= now.done))
              << what << ", report " << k;
          EXPECT_TRUE(now.total == 0 || now.done <= now.total) << what << ", report " << k;
        }
        if (!engine.utf32 && !stopped) {
          // The byte engine reads in many runs and tells every byte of each source.
          EXPECT_GT(host.reports.size(), 10u) << what;
          const auto& read_first =
              *std::find_if(host.reports.rbegin(), host.reports.rend(),
                            [](const auto& r) { return r.phase == RunPhase::ReadingFirst; });
          EXPECT_EQ(read_first.done, first_bytes.size()) << what;
          EXPECT_EQ(read_first.total, first_bytes.size()) << what;
        }
      }
    }
  }
  unsetenv("TMPDIR");
}

TEST(Escapes, ExpandInOrderWithoutOverlap) {
  const struct {
    const char16_t *typed, *expanded;
  } cases[] = {
      {u"\\r\\n", u"\r\n"},
      {u"\\t", u"\t"},
      {u"\\f", u"\f"},
      {u"\\x", u"\\x"},
      {u"\\", u"\\"},
      {u"\\\\n", u"\\\n"},
      {u"\\r\\n\\t\\f", u"\r\n\t\f"},
      {u";", u";"},
      {u"\\N", u"\\N"},
  };
  for (const auto& c : cases) EXPECT_EQ(ExpandSeparatorEscapes(c.typed), c.expanded);
}

TEST(Report, StatusText) {
  EXPECT_EQ(StatusText(2, 15), u"Найдено 2 за 15 мсек");
  EXPECT_EQ(StatusText(0, -3), u"Найдено 0 за -3 мсек");
  EXPECT_EQ(StatusText(1000000, 0), u"Найдено 1000000 за 0 мсек");
}

// The report cuts the last separator's units off the result; the sinks get there by never
// writing that separator. Both must agree for every operation and separator.
TEST(Report, CutSinksAgreeWithCuttingTheWholeText) {
  const char16_t* separators[] = {u"", u";", u"\r\n", u"--->", u"\t"};
  for (const Operation operation :
       {ModeOnlyInSecond, ModeInBoth, ModeDeduplicate, ModeCountUnique, ModeMerge}) {
    for (const char16_t* typed : separators) {
      const Text sep = ExpandSeparatorEscapes(typed);
      auto run = [&](bool cut) {
        return RunGiven(operation, u"b\na\nB\n\nc", u"a\nd\n\nd\nC", u"\n", typed, false, true, cut)
            .bytes;
      };
      const Text whole = TextFromUtf8(run(false));
      const size_t cut = operation == ModeMerge ? 2 : sep.size();
      const Text expected = whole.substr(0, whole.size() > cut ? whole.size() - cut : 0);
      EXPECT_EQ(run(true), Utf8FromText(expected))
          << static_cast<int>(operation) << " " << Utf8FromText(typed);
    }
  }
}

// The writer's buffer grows as the result does: blocks of every size around its steps keep all
// their bytes, in order, and surrogate halves that meet across two blocks are joined there.
TEST(Report, WriterKeepsEveryByteAcrossItsBufferSteps) {
  const std::string high = "\xED\xA0\x80", low = "\xED\xB0\x80", joined = "\xF0\x90\x80\x80";
  const size_t sizes[] = {1, 4092, 3, 4097, 8190, 70000, 300000, 7, 262144, 1};
  ByteSink sink(false);
  std::string expected;
  char next = 'a';
  for (const size_t size : sizes) {
    std::string block(size, '\0');
    for (char& c : block) c = next = next == 'z' ? 'a' : static_cast<char>(next + 1);
    if (size == 4092) block = block.substr(0, size - 3) + high;  // ends where the buffer is full
    if (size == 3) block = low;
    sink.AppendUtf8Block(block, "");
    expected += size == 4092 ? block.substr(0, size - 3) : size == 3 ? joined : block;
  }
  EXPECT_EQ(sink.bytes(), expected);
}

#if !defined(__SANITIZE_ADDRESS__)
namespace {

// Runs under an address-space limit that leaves the process what it has now and far too little
// for the list, then prints what the run asked of the window.
void RunWithLittleMemory(const RunRequest& request, const Text& result_path) {
  unsigned long pages = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%lu", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  rlimit limit;
  limit.rlim_cur = limit.rlim_max = pages * 4096 + (size_t{48} << 20);
  setrlimit(RLIMIT_AS, &limit);
  RecordingHost host;
  RunComparison(request, host, result_path);
  for (const std::string& call : host.calls)
    if (call.rfind("status:", 0) != 0) std::fprintf(stderr, "[%s]", call.c_str());
  std::exit(0);
}

}  // namespace

// Lists larger than the memory the process may have are taken a part at a time through
// temporary files, with the same result; only when those cannot be made either does the run end
// with a message, the earlier result untouched.
TEST_F(RunTest, ListsLargerThanMemoryGoThroughTemporaryFiles) {
  std::string big;
  for (int n = 0; big.size() < (size_t{96} << 20); ++n)
    big += "item" + std::to_string(n * 7919 % 1000003) + "\r\n";
  const Text path = Put("big.txt", big);
  big.clear();
  big.shrink_to_fit();
  const std::string expected = dir_ + "/expected.txt";
  {
    RecordingHost host;
    RunComparison(Request(ModeDeduplicate, path, u""), host, TextFromUtf8(expected));
  }
  std::filesystem::create_directory(dir_ + "/tmp");
  setenv("TMPDIR", (dir_ + "/tmp").c_str(), 1);
  // A fork of this process, so that the child writes where this test reads.
  testing::FLAGS_gtest_death_test_style = "fast";
  EXPECT_EXIT(RunWithLittleMemory(Request(ModeDeduplicate, path, u""), TextFromUtf8(result_)),
              testing::ExitedWithCode(0), "^\\[lock\\]\\[unlock\\]\\[viewer:[^]]*\\]$");
  EXPECT_TRUE(ReadWholeFile(result_) == ReadWholeFile(expected));
  EXPECT_TRUE(std::filesystem::is_empty(dir_ + "/tmp"));

  std::ofstream(result_, std::ios::binary) << "earlier result";
  setenv("TMPDIR", (dir_ + "/no-such-directory").c_str(), 1);
  EXPECT_EXIT(RunWithLittleMemory(Request(ModeDeduplicate, path, u""), TextFromUtf8(result_)),
              testing::ExitedWithCode(0), "\\[error:Недостаточно места для временных файлов\\]$");
  EXPECT_EQ(ReadWholeFile(result_), "earlier result");
  unsetenv("TMPDIR");
}
#endif
