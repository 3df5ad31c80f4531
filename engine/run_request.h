// What a comparison run is asked to do: the operation, the sources and the separators.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/source_format.h"
#include "core/text.h"

// The values are the entries of the mode box, in its order.
enum class Operation : int {
  ModeOnlyInSecond = 0,
  ModeInBoth = 1,
  ModeDeduplicate = 2,
  ModeCountUnique = 3,
  ModeMerge = 4,
  ModeOnlyInFirst = 5,  // items of the first list missing from the second
  ModeUnion = 6,        // items of either list, without repeats
  ModeSymmetric = 7,    // items in exactly one of the two lists
  ModeDuplicates = 8,   // items that occur more than once in the first list, each once
};

// Operations that read a second source; the others never look at the second field.
inline bool UsesSecondSource(Operation operation) {
  switch (operation) {
    case Operation::ModeOnlyInSecond:
    case Operation::ModeInBoth:
    case Operation::ModeMerge:
    case Operation::ModeOnlyInFirst:
    case Operation::ModeUnion:
    case Operation::ModeSymmetric:
      return true;
    default:
      return false;
  }
}

// Operations whose result lines carry a count.
inline bool HasCounts(Operation operation) {
  return operation == Operation::ModeCountUnique || operation == Operation::ModeDuplicates;
}

// The order of a result's lines. Merge keeps its own, line by line, whatever is asked; the order
// of counts, asked of an operation that counts nothing, is that of first occurrence.
enum class ItemOrder : int {
  OrderTable = 0,   // the walk of the 512-slot table: slots ascending, the newest entry first
  OrderFirst = 1,   // first occurrence: the first list's before the second's
  OrderSorted = 2,  // code point order
  OrderCount = 3,   // the most frequent first, ties in order of first occurrence (counts only)
};

// Lists read as tables (CSV and the like): each row's item is one of its fields. Rows end at line
// ends outside quotes, so a table takes no read separator of its own.
struct ColumnChoice {
  uint32_t number = 0;       // from 1; 0 when the column is named
  std::string name;          // UTF-8: the header field that names the column
  char field_separator = 0;  // 0: judged from the first rows of each list
  bool header = false;       // the first row of each list names its columns and is no item
  bool whole_rows = false;   // the result holds the rows the operation keeps, not their fields
};

// What the user is told about a source besides its items. The text itself is read as always;
// these only say that it may not be what the user expects. Files and standard input carry them,
// clipboard texts never do.
struct SourceNotices {
  bool not_utf8 = false;       // read as UTF-8 on request, but the bytes are not well-formed
  bool ended_at_zero = false;  // the text ends at a zero byte (a binary file, most likely)
  // The encoding judged from the bytes, when the source had no mark and was not UTF-8.
  std::optional<SourceFormat> assumed;
  // With ended_at_zero: the bytes before that zero, the mark counted, and the source's size in
  // bytes, 0 when it is not known (a pipe is not read past its zero).
  uint64_t read_bytes = 0;
  uint64_t size = 0;
  // A list read as a table: the rows too short to hold the column (their item is empty), and
  // the column (from 1) in this list.
  uint64_t rows_without_field = 0;
  uint32_t column = 0;
};

// A source its caller has as a text already. The run takes it where it would load the file its
// field names, so a reading that broke off is reported at that point of the checks, as a file
// that cannot be read.
struct SourceText {
  TextView text;
  SourceNotices notices;
  bool failed = false;
};

// What a run is asked to do: the window fills it when StartButton is pressed, listwise-cli from
// its command line.
struct RunRequest {
  Text first_field;  // a path, or the window's clipboard marker starting with "<"
  Text second_field;
  Operation operation = Operation::ModeOnlyInSecond;
  Text read_separator;           // as typed: escapes such as \r\n not yet expanded
  Text result_separator;         // as typed; may be empty
  bool whole_separator = false;  // the read separator is one string, not a set of characters
  bool case_sensitive = true;
  bool trim = false;     // white space at both ends of every item is dropped
  bool fold_yo = false;  // ё compares as е, Ё as Е
  ItemOrder order = ItemOrder::OrderTable;
  std::optional<ColumnChoice> column;  // set: the lists are tables
  TextView clipboard_first;  // the texts kept by the paste buttons (ClipboardFirst/Second)
  TextView clipboard_second;
  // When set, the source is this text and its field is neither a path nor a marker.
  std::optional<SourceText> first_text;
  std::optional<SourceText> second_text;
  // When not -1, the source is read from this descriptor (listwise-cli's standard input), which
  // the caller owns; its field only names it in messages.
  int first_descriptor = -1;
  int second_descriptor = -1;
  // How each source without a byte-order mark is read: judged from its bytes unless named.
  EncodingChoice first_encoding;
  EncodingChoice second_encoding;
  // The threads the run may use; 0: as many as the process has cores.
  int threads = 0;
};
