#include "engine/table_rows.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "core/utf8.h"
#include "engine/run_plan.h"
#include "engine/run_steps.h"
#include "tests/support/byte_sink.h"
#include "tests/support/small_plans.h"
#include "tests/support/test_files.h"

namespace {

// The item of each row the cursor gives ("<none>" for a row too short), a run read whole.
std::vector<std::string> Items(std::string_view text, char separator, uint32_t column) {
  std::vector<std::string> items;
  RowCursor cursor({separator, column});
  cursor.Start(text, true);
  std::string_view row;
  RowField field;
  bool found;
  while (cursor.Next(row, field, found)) {
    std::string scratch(field.raw.size(), '\0');
    items.emplace_back(found ? std::string(FieldValue(field, scratch.data())) : "<none>");
  }
  return items;
}

TEST(RowCursor, ReadsFieldsAsSpreadsheetsQuoteThem) {
  const struct {
    const char* text;
    uint32_t column;
    std::vector<std::string> items;
  } cases[] = {
      {"a;b\r\nc;d", 1, {"b", "d"}},
      {"\"x;y\";2\n\"say \"\"hi\"\"\";3\n", 0, {"x;y", "say \"hi\""}},
      {"\"two\r\nlines\";1\r\nnext;2", 0, {"two\r\nlines", "next"}},
      {"ООО \"Ромашка\";7", 0, {"ООО \"Ромашка\""}},  // a quote inside a field is a character
      {"\"ab\"c;d", 0, {"abc"}},                      // kept after the closing quote
      {"\"\";x\n\"\"\"\"", 0, {"", "\""}},
      {"a\n\n\r\n\rb\n", 0, {"a", "b"}},  // blank lines are no rows
      {"a;b\nc\nd;e;f", 1, {"b", "<none>", "e"}},
      {"a;\n;b", 1, {"", "b"}},
      // A quote that nothing closes is a character: the rows after it stay rows.
      {"\"open;1\nx;2\ny;3", 1, {"1", "2", "3"}},
      {"a;\"b\nc\";\"d", 2, {"\"d"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Items(c.text, ';', c.column), c.items) << c.text;
  EXPECT_EQ(Items("a;b\n\"c;d\"", kNoFieldSeparator, 0), (std::vector<std::string>{"a;b", "c;d"}));
}

// A run that ends inside quotes, or before a line end, leaves its last row to the next run.
TEST(RowCursor, LeavesARowCutShortForTheNextRun) {
  const struct {
    const char* text;
    size_t rest;
  } cases[] = {{"a;b\n\"c\n", 4}, {"a\nb;\"c\"\"\n", 2}, {"a\nb", 2}, {"a\n\"b\"\n", 6}};
  for (const auto& c : cases) {
    RowCursor cursor({';', 0});
    cursor.Start(c.text, false);
    std::string_view row;
    RowField field;
    bool found;
    while (cursor.Next(row, field, found)) {
    }
    EXPECT_EQ(cursor.rest(), c.rest) << c.text;
    // Without quotes a run of lines ends with whole rows: its reading ends after a line end.
    std::vector<size_t> cuts;
    if (std::string_view(c.text).find('"') != std::string_view::npos) {
      EXPECT_EQ(WholeRows(c.text, false, ';', 1, cuts), c.rest) << c.text;
    }
  }
}

TEST(JudgeFieldSeparator, TakesTheSeparatorThatCutsEveryRowAlike) {
  const struct {
    const char* rows;
    char separator;
  } cases[] = {
      {"Фамилия;Имя;Телефон\nИванов;Иван;+7 900, доб. 5\n", ';'},
      {"a,b,c\n\"x;y\",2,3\n", ','},
      {"a\tb\nc\td\n", '\t'},
      {"a;b,c\nd;e,f\n", ';'},            // a tie goes to ';'
      {"a,b,c;d\ne,f,g;h\n", ','},        // more fields win
      {"a;b;c\nd;e\nf;g;h\nx,y\n", ';'},  // none alike: most rows like the first
      {"one column\nof names\n", kNoFieldSeparator},
      {"", kNoFieldSeparator},
  };
  for (const auto& c : cases) {
    char separator = 0;
    EXPECT_TRUE(JudgeFieldSeparator(c.rows, true, separator));
    EXPECT_EQ(separator, c.separator) << c.rows;
  }
  // Before the end of the list, a few rows are not enough to judge from.
  char separator = 0;
  EXPECT_FALSE(JudgeFieldSeparator("a;b\nc;d\n", false, separator));
}

TEST(ColumnNamed, FindsTheExactNameFirstThenOneTrimmedAndFolded) {
  const std::vector<std::string> header = {"Имя", " e-mail ", "E-mail", "ТЕЛЕФОН"};
  EXPECT_EQ(ColumnNamed(header, "E-mail"), 2);
  EXPECT_EQ(ColumnNamed(header, "e-mail"), 1);
  EXPECT_EQ(ColumnNamed(header, "телефон"), 3);
  EXPECT_EQ(ColumnNamed(header, "Адрес"), -1);
}

// Tables of random rows: quoted fields with separators, doubled quotes and line ends inside,
// stray and unclosed quotes, short rows and blank lines.
std::string RandomTable(std::mt19937& rng) {
  static const std::vector<std::string> values = {"a", "A",   "b",      "Ёж",           "ёж", " c ",
                                                  "",  "x;y", "q\"\"q", "two\r\nlines", "\"", "Жж"};
  std::string text;
  for (int rows = static_cast<int>(rng() % 40); rows > 0; --rows) {
    for (int k = static_cast<int>(rng() % 4); k >= 0; --k) {
      const std::string& value = values[rng() % values.size()];
      const bool needs_quotes = value.find_first_of(";\r\n") != std::string::npos;
      if (needs_quotes || rng() % 3 == 0)
        text += "\"" + value + "\"";
      else
        text += value == "q\"\"q" ? "q\"q" : value;
      if (k > 0) text += ';';
    }
    text += rng() % 5 == 0 ? "\n\n" : "\r\n";
  }
  if (rng() % 4 == 0) text += "\"unclosed;1\r\n";
  return text;
}

// A table gives the same result read in runs of a few bytes, on several threads, spilled or
// made in shares, as read whole at once: rows cut short at the end of a run go on in the next.
TEST(TableRun, GivesTheSameResultWhateverThePlan) {
  const std::array<RunPlan, 3> plans = SmallPlans();
  ScratchDir scratch("table-run");
  std::mt19937 rng(20261209);
  auto run = [&](const RunRequest& request, const RunPlan* plan, std::string& bytes) {
    OverrideRunPlan(plan);
    LoadedRun loaded;
    const InputError error = LoadRun(request, loaded);
    ByteSink sink;
    const int32_t found = error == InputError::None ? MakeResult(loaded, sink).found : -1;
    OverrideRunPlan(nullptr);
    bytes = sink.bytes();
    return found;
  };
  using enum Operation;
  for (int round = 0; round < 30; ++round) {
    for (Operation operation : {ModeOnlyInSecond, ModeInBoth, ModeDeduplicate, ModeCountUnique,
                                ModeOnlyInFirst, ModeUnion, ModeSymmetric, ModeDuplicates}) {
      RunRequest request;
      request.operation = operation;
      request.read_separator = u"\\r\\n";
      request.result_separator.assign(1, u'|');
      request.case_sensitive = rng() % 2 == 0;
      request.trim = rng() % 2 == 0;
      request.order = static_cast<ItemOrder>(rng() % 3);
      ColumnChoice column;
      column.number = 1 + static_cast<uint32_t>(rng() % 3);
      column.header = rng() % 2 == 0;
      column.whole_rows = operation != ModeCountUnique && rng() % 2 == 0;
      request.column = column;
      const std::string first = RandomTable(rng), second = RandomTable(rng);
      request.first_field = TextFromUtf8(scratch.Put("1.csv", first));
      request.second_field = TextFromUtf8(scratch.Put("2.csv", second));
      std::string whole;
      const int32_t expected = run(request, nullptr, whole);
      for (const RunPlan& plan : plans) {
        std::string bytes;
        EXPECT_EQ(run(request, &plan, bytes), expected) << round;
        ASSERT_EQ(bytes, whole) << "plan " << (&plan - plans.data()) << ", round " << round
                                << ", operation " << static_cast<int>(operation) << ", column "
                                << column.number << (column.header ? ", header" : "")
                                << (column.whole_rows ? ", rows" : "") << "\n"
                                << first << "\n--\n"
                                << second;
      }
    }
  }
}

}  // namespace
