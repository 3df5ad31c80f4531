// What a comparison run is asked to do: the operation, the sources and the separators.
#pragma once

#include "core/text.h"

enum Operation : int {
  ModeOnlyInSecond = 0,
  ModeInBoth = 1,
  ModeDeduplicate = 2,
  ModeCountUnique = 3,
  ModeMerge = 4,
};

// What a run reads from the window when StartButton is pressed.
struct RunRequest {
  Text first_field;  // a path, or a clipboard marker starting with "<"
  Text second_field;
  int operation = ModeOnlyInSecond;
  Text read_separator;           // as typed: escapes such as \r\n not yet expanded
  Text result_separator;         // as typed; may be empty
  int whole_separator_flag = 0;  // 1: the read separator is one string
  int case_flag = 1;             // 1: letter case counts
  TextView clipboard_first;      // the texts kept by the paste buttons (ClipboardFirst/Second)
  TextView clipboard_second;
};
