// What an item is and what it is compared by: the piece between separators, without its white
// space when the run trims, and its key, the item folded as the run asks (case, ё as е) or the
// item itself. Equal keys are equal items to every operation; the result shows items, never keys,
// except where an operation shows its keys (count).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The separator of a list of one column: its rows are not cut.
constexpr char kNoFieldSeparator = '\n';

// Which field of a table's rows is its item (see engine/table_rows.h).
struct FieldPlace {
  char separator = kNoFieldSeparator;
  uint32_t column = 0;  // from 0
};

struct ItemRules {
  bool case_sensitive = true;
  bool fold_yo = false;  // ё compares as е, Ё as Е
  bool trim = false;     // white space at both ends of an item is not part of it
  // Lists read as tables whose rows are kept whole: a record is a row, its key that of the field
  // `fields[source]` names. (Tables whose rows are not kept have their fields as records.)
  bool whole_rows = false;
  FieldPlace fields[2];
  // Whether a key can differ from its item: then an operation that shows an item chooses which of
  // the spellings of its key it shows.
  bool folds() const { return !case_sensitive || fold_yo; }
  // Whether a key can differ from the record it is made of: folded, or a field of a whole row.
  bool keys_differ() const { return folds() || whole_rows; }
};

// The item without the white space at its ends: Unicode's White_Space characters, and U+200B
// and U+FEFF, which text pasted from the web carries. The bytes are (generalised) UTF-8; only
// whole characters are cut off, so the rest is well-formed exactly when the item was.
std::string_view TrimmedItem(std::string_view item);

// Whether the bytes hold ё or Ё.
bool HoldsYo(const unsigned char* bytes, size_t n);
// The bytes with ё written as е and Ё as Е (each two bytes as before) into out, n bytes.
void FoldYo(const unsigned char* bytes, size_t n, unsigned char* out);

// The key of an item under the rules: the item's own bytes, or its folded form written into
// `scratch` (room for 3 bytes a byte of the item). The item's bytes must be well-formed.
std::string_view ItemKey(const ItemRules& rules, std::string_view item, unsigned char* scratch);
