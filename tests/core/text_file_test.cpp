#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "core/text_file.h"
#include "core/utf8.h"
#include "tests/support/read_source.h"
#include "tests/support/test_files.h"

namespace {

struct ReadReport {
  bool failed = false;
  bool ended_at_zero = false;
  bool not_utf8 = false;
};

class TextFileTest : public testing::Test {
 protected:
  // Reads as a run loads a source asked to be UTF-8: the mark decides, UTF-8 without one.
  static Text Load(const std::string& path, TextFormat* detected = nullptr,
                   ReadReport* report = nullptr) {
    if (detected != nullptr) {
      const std::string bytes = ReadWholeFile(path);
      *detected =
          FindByteOrderMark(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size())
              .format;
    }
    const ReadSource read = ReadThroughRun(TextFromUtf8(path), {false, SourceEncoding::Utf8});
    if (report != nullptr) {
      report->failed = read.error != InputError::None;
      report->ended_at_zero = read.notices.ended_at_zero;
      report->not_utf8 = read.notices.not_utf8;
    }
    return read.text;
  }

  ScratchDir scratch_{"textfile"};
  const std::string& dir_ = scratch_.path();
};

}  // namespace

TEST_F(TextFileTest, ByteOrderMarkDecidesTheFormat) {
  const struct {
    std::string bytes;
    TextFormat format;
    Text text;
  } cases[] = {
      {"", FormatSingleByte, u""},
      {"x", FormatSingleByte, u"x"},
      {Bytes({0xEF, 0xBB, 0xBF}), FormatUtf8, u""},
      {Bytes({0xEF, 0xBB}), FormatSingleByte, u""},  // EF needs two more bytes as UTF-8
      {Bytes({0xFF, 0xFE, 0x41, 0x00}), FormatUtf16LE, u"A"},
      {Bytes({0xFF, 0xFE, 0x41, 0x00, 0x42}), FormatUtf16LE, u"A"},  // odd last byte dropped
      {Bytes({0xFE, 0xFF, 0x04, 0x16, 0x00, 0x41}), FormatUtf16BE, u"\u0416A"},
      {Bytes({0xFF, 0xFE, 0x00, 0x00, 0x41, 0, 0, 0, 0x00, 0xF6, 0x01, 0}), FormatUtf32LE,
       u"A\U0001F600"},
      {Bytes({0x00, 0x00, 0xFE, 0xFF, 0, 0, 0x04, 0x16, 0, 0x11, 0, 0, 0, 0, 0xD8, 0}),
       FormatUtf32BE, u"\u0416??"},  // above 10FFFF and a surrogate value become "?"
      {Bytes({0xFF, 0xFE, 0x00, 0x00, 0x41, 0, 0, 0, 0x42, 0}), FormatUtf32LE, u"A"},
  };
  int n = 0;
  for (const auto& c : cases) {
    TextFormat format;
    EXPECT_EQ(Load(scratch_.Put("bom" + std::to_string(n++), c.bytes), &format), c.text) << n;
    EXPECT_EQ(format, c.format) << n;
  }
}

TEST_F(TextFileTest, ReadingEndsAtTheFirstZeroCharacter) {
  EXPECT_EQ(Load(scratch_.Put("u8", Bytes({0x61, 0x00, 0x62}))), u"a");
  EXPECT_EQ(Load(scratch_.Put("u16", Bytes({0xFF, 0xFE, 0x61, 0, 0, 0, 0x62, 0}))), u"a");
  EXPECT_EQ(Load(scratch_.Put("u16be", Bytes({0xFE, 0xFF, 0, 0x61, 0, 0, 0, 0x62}))), u"a");
  EXPECT_EQ(Load(scratch_.Put("nul", std::string(1000, '\0'))), u"");
}

// The size that stat reports is no limit: /proc files say 0 and hold more (the bytes read
// ahead for the mark once overflowed a buffer sized from it).
TEST_F(TextFileTest, ProcFilesReadLikeCatUpToTheirFirstZero) {
  for (const char* path : {"/proc/filesystems", "/proc/self/environ", "/proc/kallsyms"}) {
    std::string bytes = ReadWholeFile(path);
    if (bytes.empty()) continue;  // not offered on this system
    bytes = bytes.substr(0, bytes.find('\0'));
    EXPECT_EQ(Load(path), TextFromUtf8(bytes)) << path;
  }
}

// Nothing after the first zero unit is text, so nothing after it is read: an endless source
// such as /dev/zero ends at once. A read error is no end: the report tells it.
TEST_F(TextFileTest, ReadingStopsAtAZeroUnitAndReportsErrors) {
  ReadReport report;
  EXPECT_EQ(Load("/dev/zero", nullptr, &report), u"");
  EXPECT_TRUE(report.ended_at_zero);
  EXPECT_FALSE(report.failed);
  // A sparse file far larger than memory: only what stands before its first zero is wanted.
  const std::string sparse = scratch_.Put("sparse", "ab");
  if (truncate(sparse.c_str(), int64_t{1} << 40) == 0) {
    EXPECT_EQ(Load(sparse, nullptr, &report), u"ab");
    EXPECT_TRUE(report.ended_at_zero);
  }
  report = ReadReport();
  Load("/proc/self/mem", nullptr, &report);  // offset 0 is never mapped: EIO
  EXPECT_TRUE(report.failed);
}

TEST_F(TextFileTest, ReportTellsMalformedUtf8AndAnEarlyZero) {
  const std::string padding(5000, 'x');  // puts what follows beyond the first buffer
  const struct {
    std::string bytes;
    bool not_utf8, ended_at_zero;
  } cases[] = {
      {"plain\r\nlist", false, false},
      {"\xD0\x9F\xD1\x80\xD0\xB8", false, false},
      {Bytes({0xEF, 0xBF, 0xBF, 0xED, 0x9F, 0xBF, 0xF4, 0x8F, 0xBF, 0xBF, 0xC2, 0x80}), false,
       false},
      {Bytes({0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2}), true, false},  // Windows-1251
      {Bytes({0x61, 0xC0, 0x80}), true, false},                    // overlong
      {Bytes({0xE0, 0x9F, 0xBF}), true, false},                    // overlong
      {Bytes({0xED, 0xA0, 0x80}), true, false},                    // encoded surrogate
      {Bytes({0xF4, 0x90, 0x80, 0x80}), true, false},              // above 10FFFF
      {Bytes({0xF5, 0x80, 0x80, 0x80}), true, false},
      {Bytes({0x61, 0xE2, 0x82}), true, false},  // cut off by the end of the file
      {Bytes({0x61, 0x80}), true, false},
      {Bytes({0xEF, 0xBB, 0xBF, 0x61, 0xE9}), true, false},  // a mark vouches for nothing
      {padding + "\xE9", true, false},
      {Bytes({0x61, 0x00, 0xE9}), false, true},  // what follows the zero is never read
      {Bytes({0xE2, 0x82, 0x00}), true, true},
      {padding + '\0', false, true},
      {Bytes({0xFF, 0xFE, 0x41, 0x00, 0xE9, 0x00}), false, false},
      {Bytes({0xFF, 0xFE, 0x00, 0x41, 0x00, 0x00, 0x42, 0x00}), false, true},
      {Bytes({0xFE, 0xFF, 0x41, 0x00, 0x00, 0x42}), false, false},  // zero bytes, no zero unit
      {Bytes({0xFF, 0xFE, 0x00, 0x00, 0x41, 0x00, 0x00, 0x00, 0, 0, 0, 0}), false, true},
  };
  int n = 0;
  for (const auto& c : cases) {
    ReadReport report;
    Load(scratch_.Put(std::to_string(n++) + ".txt", c.bytes), nullptr, &report);
    EXPECT_EQ(report.not_utf8, c.not_utf8) << n;
    EXPECT_EQ(report.ended_at_zero, c.ended_at_zero) << n;
    EXPECT_FALSE(report.failed) << n;
  }
}

TEST_F(TextFileTest, LongFilesDecodeAcrossBufferBoundaries) {
  // Multi-byte characters straddle every 4096-byte boundary at some offset.
  for (int shift = 0; shift < 4; ++shift) {
    std::string bytes(shift, 'x');
    Text expected(shift, u'x');
    while (bytes.size() < 20000) {
      bytes += "\xD0\x96\xF0\x9F\x98\x80\xE2\x82\xAC;";
      expected += u"\u0416\U0001F600\u20AC;";
    }
    EXPECT_EQ(Load(scratch_.Put("long" + std::to_string(shift), bytes)), expected) << shift;
  }
}

TEST_F(TextFileTest, FileSizeQuery) {
  EXPECT_EQ(QueryFileSize(u"/tmp"), -2);
  EXPECT_EQ(QueryFileSize(TextFromUtf8(dir_ + "/missing")), -1);
  EXPECT_EQ(QueryFileSize(TextFromUtf8(scratch_.Put("empty", ""))), 0);
  EXPECT_EQ(QueryFileSize(TextFromUtf8(scratch_.Put("five", "12345"))), 5);
  EXPECT_EQ(QueryFileSize(u""), -1);
  EXPECT_EQ(TempDirectory(), u"/tmp/");
}

TEST_F(TextFileTest, FreshFilesAreNewPrivateAndNeverReplaceAnything) {
  std::string first_name, second_name;
  TextFilePtr first = CreateFreshForWriting(dir_ + "/result", first_name);
  TextFilePtr second = CreateFreshForWriting(dir_ + "/result", second_name);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first_name, second_name);
  struct stat st;
  ASSERT_EQ(stat(first_name.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  CloseTextFile(std::move(first));
  CloseTextFile(std::move(second));
  EXPECT_EQ(CreateFreshForWriting(dir_ + "/no-such-dir/result", first_name), nullptr);
}

TEST_F(TextFileTest, ReplacingPutsTheFreshFileInPlaceOfWhatever) {
  enum class Target { None, File, Directory, Link };
  const struct {
    Target target;
    bool replaced;
  } cases[] = {
      {Target::None, true},
      {Target::File, true},
      {Target::Directory, false},
      {Target::Link, true},  // the link itself is replaced; the file it named stays
  };
  int round = 0;
  for (const auto& c : cases) {
    const std::string n = std::to_string(round++);
    SCOPED_TRACE(n);
    const std::string target = dir_ + "/target" + n;
    const std::string fresh = scratch_.Put("fresh" + n, "new");
    const std::string named = scratch_.Put("named" + n, "named");
    if (c.target == Target::File) scratch_.Put("target" + n, "old");
    if (c.target == Target::Directory) {
      ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
    }
    if (c.target == Target::Link) {
      ASSERT_EQ(symlink(named.c_str(), target.c_str()), 0);
    }
    EXPECT_EQ(ReplaceFile(fresh, target), c.replaced);
    struct stat st;
    ASSERT_EQ(lstat(target.c_str(), &st), 0);
    if (c.replaced) {
      EXPECT_TRUE(S_ISREG(st.st_mode));
      EXPECT_EQ(ReadWholeFile(target), "new");
      EXPECT_NE(access(fresh.c_str(), F_OK), 0);
    } else {
      EXPECT_TRUE(S_ISDIR(st.st_mode));
      EXPECT_EQ(ReadWholeFile(fresh), "new");
    }
    EXPECT_EQ(ReadWholeFile(named), "named");
  }
}
