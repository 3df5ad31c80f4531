// Lists read as tables, as spreadsheets and accounting programs export them: rows end at line
// ends outside quotes, and one separator cuts them into fields. A field that begins with a quote
// runs to the quote that closes it, "" standing for one quote, and holds separators and line ends
// as they stand; whatever follows the closing quote up to the field's end is kept as it stands.
// A quote anywhere else is a character like any other ("ООО "Ромашка"" in an unquoted field),
// and so is an opening quote that nothing closes before the end of the list: one stray quote
// must not swallow the rest of the list into a single field.
//
// Rows with nothing in them are no rows, as blank lines are no items in a list of lines. The
// bytes are UTF-8: the separator, the quote and the line ends are ASCII, so they are never part
// of another character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/item_keys.h"

// A field of a row as it stands.
struct RowField {
  std::string_view raw;  // quotes and all
  bool quoted = false;   // raw begins with an opening quote that a quote closes
};

// The value of a field: its bytes, or for a quoted field what the quotes hold, "" as one quote,
// and what follows the closing quote. Written into `scratch` (room for raw.size() bytes) only
// when it is not a piece of the raw bytes.
std::string_view FieldValue(const RowField& field, char* scratch);

// The rows of a run, one at a time, with the field the run's items are.
class RowCursor {
 public:
  explicit RowCursor(FieldPlace place);
  // With `last` the end of the run is the end of the source; without, a row that the end cuts
  // short (inside quotes, or with no line end after it) is not given, and rest() says where it
  // begins.
  void Start(std::string_view run, bool last);
  // The next row without its line end, and its field (found false when the row has fewer
  // fields). False at the end of the run.
  bool Next(std::string_view& row, RowField& field, bool& found);
  // Where the row given last begins in the run.
  size_t row_start() const { return row_start_; }
  // The fields of the row given last.
  uint32_t fields() const { return fields_; }
  // Where the rows not given begin: the run's size when it held whole rows only.
  size_t rest() const { return rest_; }

 private:
  // The end of the unquoted field from `at`: the first separator or line end, or the run's end.
  // The stops of 64 bytes at a time are found at once, as bits: fields are short, and most end
  // in the block the last one ended in.
  size_t UnquotedEnd(size_t at) {
    if (block_known_ && at >= block_ && at < block_ + 64) {
      const uint64_t bits = bits_ & (~uint64_t{0} << (at - block_));
      if (bits != 0) return block_ + static_cast<size_t>(__builtin_ctzll(bits));
    }
    return UnquotedEndBeyond(at);
  }
  size_t UnquotedEndBeyond(size_t at);
  // The closing quote of the field opened at `at`, or npos.
  size_t ClosingQuote(size_t at) const;

  FieldPlace place_;
  unsigned char stops_[3];
  int stop_count_;
  std::string_view run_;
  bool last_ = false;
  size_t at_ = 0;
  size_t row_start_ = 0;
  size_t rest_ = 0;
  uint32_t fields_ = 0;
  size_t block_ = 0;  // the 64 bytes whose stops bits_ holds
  uint64_t bits_ = 0;
  bool block_known_ = false;
};

// The field of one row alone (as RowCursor gave it): found false when the row is too short.
RowField FieldOfRow(std::string_view row, FieldPlace place, bool& found);

// The values of a row's fields, for a header.
std::vector<std::string> RowValues(std::string_view row, char separator);

// Where a run of whole lines is to be read: the end of its last whole row (rows go on across
// line ends inside quotes) and, for `parts` threads, the starts of rows that cut it into pieces
// of about equal size.
size_t WholeRows(std::string_view run, bool last, char separator, int parts,
                 std::vector<size_t>& cuts);

// Where a run of whole lines would be cut into `parts` pieces of about equal size were every line
// end a row end: the starts of lines, as WholeRows gives them for a run without quotes.
std::vector<size_t> LineStarts(std::string_view run, int parts);

// The field separator of a list from its first rows: of ';', ',' and tab the one that cuts every
// row into the same number of fields, more than one (the most fields among several), else the
// one under which most rows have as many fields as the first; kNoFieldSeparator when none cuts
// the first row. The first 100 rows are judged, so that the separator does not depend on how
// the list is read: false when the rows (without `last`) are fewer, and more are needed.
bool JudgeFieldSeparator(std::string_view rows, bool last, char& separator);

// The column of a header's fields that `name` names: the first field equal to it, else the first
// equal to it with white space trimmed and case folded; -1 when none.
int ColumnNamed(const std::vector<std::string>& header, std::string_view name);

// The item a record of the source stands for: the record, or the (trimmed) value of the field of
// a whole row, written into `scratch` (room for the record's bytes) when it must be.
std::string_view RecordItem(const ItemRules& rules, int source, std::string_view record,
                            unsigned char* scratch);
// The key of a record: ItemKey of its item. `scratch` has room for 4 bytes a byte of the record.
std::string_view RecordKey(const ItemRules& rules, int source, std::string_view record,
                           unsigned char* scratch);
