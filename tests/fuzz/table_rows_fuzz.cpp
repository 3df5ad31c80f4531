// The reading of tables against a plain model of its rules, on any bytes: the rows and fields
// the cursor gives for the text read whole, read in runs cut anywhere (a row cut short goes on
// in the next run), and read in the pieces the threads would take. The first byte picks the
// field separator, the column and where the runs are cut; the rest is the table.
#include <string>
#include <string_view>
#include <vector>

#include "engine/table_rows.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

struct ModelRow {
  std::string row;
  std::vector<std::string> values;
};

bool LineEnd(char c) {
  return c == '\r' || c == '\n';
}

// The rules as plainly as they can be said, a character at a time: blank lines are no rows; a
// field that begins with a quote is quoted when a quote closes it, "" inside standing for one
// quote, and keeps what follows its closing quote; any other quote is a character.
std::vector<ModelRow> ModelRows(std::string_view text, char separator) {
  std::vector<ModelRow> rows;
  size_t at = 0;
  const size_t n = text.size();
  while (true) {
    while (at < n && LineEnd(text[at])) ++at;
    if (at >= n) return rows;
    ModelRow row;
    const size_t start = at;
    for (;;) {
      std::string value;
      if (at < n && text[at] == '"') {
        // Look for the closing quote first: without one the quote is a plain character.
        size_t close = std::string_view::npos;
        for (size_t k = at + 1; k < n; ++k) {
          if (text[k] != '"') continue;
          if (k + 1 < n && text[k + 1] == '"') {
            ++k;
            continue;
          }
          close = k;
          break;
        }
        if (close != std::string_view::npos) {
          for (size_t k = at + 1; k < close; ++k) {
            value += text[k];
            if (text[k] == '"') ++k;
          }
          at = close + 1;
        }
      }
      while (at < n && !LineEnd(text[at]) &&
             (separator == kNoFieldSeparator || text[at] != separator))
        value += text[at++];
      row.values.push_back(value);
      if (at < n && !LineEnd(text[at])) {
        ++at;
        continue;
      }
      break;
    }
    row.row = std::string(text.substr(start, at - start));
    rows.push_back(row);
  }
}

// The rows the cursor gives for a run, with all their fields' values.
void CursorRows(std::string_view run, bool last, char separator, std::vector<ModelRow>& rows,
                size_t& rest) {
  RowCursor cursor({separator, 0});
  cursor.Start(run, last);
  std::string_view row;
  RowField field;
  bool found;
  while (cursor.Next(row, field, found)) {
    FUZZ_CHECK(found && row.data() == run.data() + cursor.row_start());
    const std::vector<std::string> values = RowValues(row, separator);
    FUZZ_CHECK(values.size() == cursor.fields());
    // Each field found on its own agrees with the row's values.
    const uint32_t column = cursor.fields() - 1;
    bool found_alone = false;
    const RowField alone = FieldOfRow(row, {separator, column}, found_alone);
    std::string scratch(alone.raw.size(), '\0');
    FUZZ_CHECK(found_alone && FieldValue(alone, scratch.data()) == values[column]);
    FieldOfRow(row, {separator, column + 1}, found_alone);
    FUZZ_CHECK(!found_alone);
    rows.push_back({std::string(row), values});
  }
  rest = cursor.rest();
}

bool SameRows(const std::vector<ModelRow>& a, const std::vector<ModelRow>& b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); ++k)
    if (a[k].row != b[k].row || a[k].values != b[k].values) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  constexpr char kSeparators[] = {';', ',', '\t', kNoFieldSeparator};
  const char separator = kSeparators[data[0] & 3];
  const size_t step = 1 + (data[0] >> 2);
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::vector<ModelRow> expected = ModelRows(text, separator);

  std::vector<ModelRow> whole;
  size_t rest = 0;
  CursorRows(text, true, separator, whole, rest);
  FUZZ_CHECK(rest == text.size() && SameRows(whole, expected));

  // In runs that end just after a line end, every `step` bytes or so, as lists are read; what a
  // run leaves goes before the next.
  std::vector<ModelRow> in_runs;
  std::string held;
  for (size_t from = 0; from < text.size() || from == 0;) {
    size_t end = std::min(text.size(), from + step);
    while (end < text.size() && !LineEnd(text[end - 1])) ++end;
    const bool last = end >= text.size();
    held.append(text, from, end - from);
    std::vector<size_t> cuts;
    const size_t rows_end = WholeRows(held, last, separator, 3, cuts);
    // The pieces the threads would take, each read as holding whole rows.
    size_t piece = 0;
    cuts.push_back(rows_end);
    for (size_t cut : cuts) {
      FUZZ_CHECK(cut >= piece && cut <= rows_end);
      size_t piece_rest = 0;
      CursorRows(std::string_view(held).substr(piece, cut - piece), true, separator, in_runs,
                 piece_rest);
      piece = cut;
    }
    held.erase(0, rows_end);
    from = end;
    if (last) break;
  }
  FUZZ_CHECK(held.empty() && SameRows(in_runs, expected));

  char judged = 0;
  FUZZ_CHECK(JudgeFieldSeparator(text, true, judged));
  return 0;
}
