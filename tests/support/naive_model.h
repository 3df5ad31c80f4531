// The operations over 16-bit texts, written as plainly as their rules read: the engine's
// results are checked against it. Of the program it uses only LowerUnit, whose answers the locale
// decides, and the UTF-8 encoding of a whole text.
#pragma once

#include <cstdint>
#include <string>

#include "core/text.h"
#include "engine/run_request.h"

struct NaiveInput {
  Operation operation = Operation::ModeOnlyInSecond;
  TextView first;
  TextView second;
  TextView read_separator;    // escapes expanded, never empty
  TextView result_separator;  // escapes expanded
  bool whole_separator = false;
  bool case_sensitive = true;
  bool trim = false;     // white space at both ends of every item is not part of it
  bool fold_yo = false;  // ё compares as е, Ё as Е
};

struct NaiveResult {
  std::string bytes;  // the result file's UTF-8 after its mark: the final separator cut off
  int32_t count = 0;
};

NaiveResult NaiveRun(const NaiveInput& input);
// The slot a key is filed under: its hash (h * 65599 + unit, modulo 2^32) modulo 512.
uint32_t NaiveSlot(TextView key);
