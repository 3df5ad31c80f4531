// What a comparison run is asked to do: the operation, the sources and the separators.
#pragma once

#include "core/text.h"

// The values are the entries of the mode box, in its order.
enum class Operation : int {
  ModeOnlyInSecond = 0,
  ModeInBoth = 1,
  ModeDeduplicate = 2,
  ModeCountUnique = 3,
  ModeMerge = 4,
};

// Operations that read a second source; the others never look at the second field.
inline bool UsesSecondSource(Operation operation) {
  return operation == Operation::ModeOnlyInSecond || operation == Operation::ModeInBoth ||
         operation == Operation::ModeMerge;
}

// What a run reads from the window when StartButton is pressed.
struct RunRequest {
  Text first_field;  // a path, or a clipboard marker starting with "<"
  Text second_field;
  Operation operation = Operation::ModeOnlyInSecond;
  Text read_separator;           // as typed: escapes such as \r\n not yet expanded
  Text result_separator;         // as typed; may be empty
  bool whole_separator = false;  // the read separator is one string, not a set of characters
  bool case_sensitive = true;
  TextView clipboard_first;  // the texts kept by the paste buttons (ClipboardFirst/Second)
  TextView clipboard_second;
};
