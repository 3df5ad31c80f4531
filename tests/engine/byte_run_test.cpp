#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <vector>

#include "core/utf8.h"
#include "engine/byte_run.h"
#include "engine/byte_source.h"
#include "engine/run_steps.h"
#include "tests/support/byte_sink.h"
#include "tests/support/naive_model.h"
#include "tests/support/read_source.h"
#include "tests/support/small_plans.h"
#include "tests/support/test_files.h"

namespace {

using enum Operation;

// Lists from pieces that tell the engine from the model if anything is off: case pairs (with a
// letter whose lower case is ASCII), Cyrillic with ё and е, a pair of surrogates, empty items,
// white space of several kinds, runs of separators, items made to repeat, and items about as long
// as a record's short size can say.
Text RandomList(std::mt19937& rng, TextView separators) {
  static const std::vector<Text> pieces = {
      u"a",           u"A",          u"b",      u"Ёж", u"ёж",     u"\u0130",
      u"i",           u"\U0001F600", u"x;y",    u"",   u"Zz",     Text(125, u'w'),
      Text(60, u'Ж'), u" ",          u"\u00A0", u"\t", u"\u3000", u"\u200B",
      u"е",           u"Е",          u"\r"};
  std::uniform_int_distribution<int> count(0, 60), piece(0, static_cast<int>(pieces.size()) - 1),
      sep(0, static_cast<int>(separators.size()) - 1), parts(1, 3);
  Text text;
  for (int n = count(rng); n > 0; --n) {
    for (int k = parts(rng); k > 0; --k) text += pieces[piece(rng)];
    text += separators[sep(rng)];
    if (rng() % 7 == 0) text += separators[sep(rng)];
  }
  if (rng() % 2 == 0) text += u"tail";
  return text;
}

// A run gives the model's bytes and count, whatever the plan and the order of the lines: runs cut
// every few bytes, one core or two, buckets in memory or spilled; lists read from files or
// handed in.
TEST(ByteRunTest, GivesTheResultsOfTheModel) {
  struct Settings {
    const char16_t* read;
    bool whole;
  };
  const Settings settings[] = {{u"\r\n", false}, {u";", false},       {u"\r\n", true},
                               {u"x;", true},    {u"ab;\n\r", false}, {u"ж", false},
                               {u";ж", false},   {u"→", false},       {u"\U0001F600", false},
                               {u"жж", true},    {u"\xD83D", false},  {u"\xDE00", true}};
  const std::array<RunPlan, 3> plans = SmallPlans();
  ScratchDir scratch("byte-run");
  std::mt19937 rng(20261207);
  int cases = 0;
  for (int round = 0; round < 8; ++round) {
    for (const Settings& s : settings) {
      for (Operation operation :
           {ModeOnlyInSecond, ModeInBoth, ModeDeduplicate, ModeCountUnique, ModeMerge,
            ModeOnlyInFirst, ModeUnion, ModeSymmetric, ModeDuplicates}) {
        for (bool case_sensitive : {true, false}) {
          // Trimming and ё folding, each in half the cases, independently of the rest.
          const bool trim = rng() % 2 == 0, fold_yo = rng() % 2 == 0;
          const Text read_units = ExpandSeparatorEscapes(s.read);
          const Text first = RandomList(rng, read_units);
          const Text second = RandomList(rng, read_units);
          const RunPlan& plan = plans[cases % 3];
          const auto order = static_cast<ItemOrder>(cases / 2 % 4);
          // A surrogate half as a separator leaves lone halves in the lists, which a UTF-8 file
          // cannot hold: those are handed in.
          const bool halves = std::any_of(read_units.begin(), read_units.end(),
                                          [](char16_t u) { return u >= 0xD800 && u <= 0xDFFF; });
          const bool from_files = !halves && (cases / 2) % 2 == 0;
          ++cases;
          const NaiveResult expected = NaiveRun({operation, first, second, read_units, u"|",
                                                 s.whole, case_sensitive, trim, fold_yo, order});
          RunRequest request;
          request.operation = operation;
          request.read_separator = s.read;
          // Assigned, not = u"|": GCC 12 at -O3 warns falsely on a one-unit literal.
          request.result_separator.assign(1, u'|');
          request.whole_separator = s.whole;
          request.case_sensitive = case_sensitive;
          request.trim = trim;
          request.fold_yo = fold_yo;
          request.order = order;
          if (from_files) {
            request.first_field = TextFromUtf8(scratch.Put("1.txt", Utf8FromText(first)));
            request.second_field = TextFromUtf8(scratch.Put("2.txt", Utf8FromText(second)));
          } else {
            request.first_text = SourceText{first, {}, false};
            request.second_text = SourceText{second, {}, false};
          }
          OverrideRunPlan(&plan);
          LoadedRun run;
          ASSERT_EQ(LoadRun(request, run), InputError::None);
          ByteSink got;
          const int32_t found = MakeResult(run, got).found;
          OverrideRunPlan(nullptr);
          EXPECT_EQ(found, expected.count);
          ASSERT_EQ(got.bytes(), expected.bytes)
              << "operation " << static_cast<int>(operation) << ", separator "
              << Utf8FromText(s.read) << (s.whole ? " whole" : "") << ", case " << case_sensitive
              << (trim ? ", trim" : "") << (fold_yo ? ", fold-yo" : "") << ", order "
              << static_cast<int>(order) << ", case number " << cases;
        }
      }
    }
  }
}

// Lists in UTF-16 or a code page are read as the text they hold, and so are what UTF-8 cannot
// carry (a lone surrogate), the reading of old (marked UTF-8 that is malformed) and separators
// outside ASCII: each run gives the model's result on that text.
TEST(ByteRunTest, TakesEveryEncoding) {
  ScratchDir scratch("byte-run");
  struct Case {
    const char* name;
    std::string first;
    const char16_t* read;
    Text text;  // what the list reads as
  };
  const std::string utf16_lone(
      "\xFF\xFE"
      "b\0\n\0\x00\xD8\n\0",
      10);
  const Case cases[] = {
      {"well-formed", "b\r\na\r\nb", u"\\r\\n", u"b\r\na\r\nb"},
      {"a byte that cannot lead", "b\r\n\xFF\r\nb", u"\\r\\n", u"b\r\nя\r\nb"},
      {"an overlong form", "b\r\n\xC0\xAF\r\nb", u"\\r\\n", u"b\r\nАЇ\r\nb"},
      {"windows-1251", "\xCF\xF0\xE8\xE2\xE5\xF2\n\xEC\xE8\xF0\n\xCF\xF0\xE8\xE2\xE5\xF2", u"\\n",
       u"Привет\nмир\nПривет"},
      {"UTF-16 with its mark",
       std::string("\xFF\xFE"
                   "b\0\n\0\x16\x04",
                   8),
       u"\\n", u"b\nЖ"},
      {"UTF-16 without a mark", std::string("b\0\n\0b\0\n\0", 8), u"\\n", u"b\nb\n"},
      {"UTF-16 with a lone surrogate", utf16_lone, u"\\n", Text{u'b', u'\n', 0xD800, u'\n'}},
      {"UTF-32", std::string("\xFF\xFE\0\0b\0\0\0", 8), u"\\n", u"b"},
      {"marked UTF-8 that is malformed",
       "\xEF\xBB\xBF"
       "b\r\n\xFF",
       u"\\r\\n", u"b\r\n?"},  // the lenient reading of old
      {"a separator outside ASCII",
       "b\xC2\xA7"
       "a",
       u"\u00A7", u"b\u00A7a"},
      // Past the part looked at first, so only the reading finds that this is no UTF-8.
      {"a lone surrogate as the separator, in UTF-8",
       std::string(1 << 20, 'w') + "b\xED\xA0\xBD"
                                   "a",
       u"\xD83D", Text(1 << 20, u'w') + u"b\u043D\u00A0\u0405a"},
  };
  for (const Case& c : cases) {
    RunRequest request;
    request.operation = ModeDeduplicate;
    request.first_field = TextFromUtf8(scratch.Put("1.txt", c.first));
    request.read_separator = c.read;
    request.result_separator.assign(1, u'|');
    EXPECT_EQ(ReadThroughRun(request.first_field).text, c.text) << c.name;
    LoadedRun run;
    ASSERT_EQ(LoadRun(request, run), InputError::None) << c.name;
    ByteSink got;
    MakeResult(run, got);
    const Text read = ExpandSeparatorEscapes(c.read);
    EXPECT_EQ(got.bytes(), NaiveRun({ModeDeduplicate, c.text, u"", read, u"|"}).bytes) << c.name;
  }
}

}  // namespace

// Merge reads its files a second time as it writes: a file that changed in between makes the
// run fail, never a result cut short or made of bytes nobody checked.
TEST(ByteRunTest, MergeFailsWhenAFileChangesUnderIt) {
  ScratchDir scratch("byte-run");
  const std::string cases[] = {"", "a\n\xFF\n", "a\nb\nc\n"};  // cut short, broken, longer
  for (const std::string& changed : cases) {
    for (const RunSource source : {RunSource::First, RunSource::Second}) {
      RunRequest request;
      request.operation = ModeMerge;
      request.first_field = TextFromUtf8(scratch.Put("1.txt", "a\nb\n"));
      request.second_field = TextFromUtf8(scratch.Put("2.txt", "x\ny\n"));
      request.read_separator = u"\\n";
      request.result_separator.assign(1, u' ');
      LoadedRun run;
      ASSERT_EQ(LoadRun(request, run), InputError::None);
      scratch.Put(source == RunSource::First ? "1.txt" : "2.txt", changed);
      ByteSink got;
      MakeResult(run, got);
      EXPECT_EQ(SourceThatFailedDuringRun(run), changed != "a\nb\nc\n" ? source : RunSource::None)
          << changed;
    }
  }
}

// Slots are weighed 16 ASCII bytes at a time, with the last few read as blocks that reach back
// before the item when there is room, whatever bytes stand there: every length and mix must
// still give StringHash mod 512.
TEST(ByteRunTest, SlotsAreThoseOfTheTable) {
  static const std::vector<std::string> pieces = {
      "a", "Z~", "ё", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "0123456789abcdef"};
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; ++round) {
    std::string item;
    for (int k = static_cast<int>(rng() % 24); k > 0; --k) item += pieces[rng() % pieces.size()];
    const std::string padded = std::string(rng() % 64, rng() % 2 ? 'x' : '\xD1') + item + "\n";
    const size_t before = padded.size() - item.size() - 1;
    const auto* bytes = reinterpret_cast<const unsigned char*>(padded.data()) + before;
    const uint32_t expected = NaiveSlot(TextFromUtf8(item));
    bool well_formed = true;
    EXPECT_EQ(CheckedUtf8Slot(bytes, item.size(), before, well_formed), expected) << item;
    EXPECT_TRUE(well_formed);
    EXPECT_EQ(Utf8Slot(bytes, item.size()), expected) << item;
    EXPECT_EQ(Utf8Slot(bytes, item.size(), before), expected) << item;
  }
  // Malformed bytes anywhere in an item of letters from two scripts, the blocks before it
  // readable or not: each is found.
  for (const std::string bad : {"\xD0", "\xB0", "\xC0\x80", "\xD0\xB0\xB0", "\xE0\x80"}) {
    for (size_t at = 0; at <= 42; ++at) {
      std::string item = "\xD0\xB0" + std::string(40, 'x');
      item.insert(at, bad);
      for (const size_t before : {size_t{0}, size_t{64}}) {
        const std::string padded = std::string(before, 'x') + item + "\n";
        bool well_formed = true;
        CheckedUtf8Slot(reinterpret_cast<const unsigned char*>(padded.data()) + before, item.size(),
                        before, well_formed);
        EXPECT_FALSE(well_formed) << at << " " << before;
      }
    }
  }
}
