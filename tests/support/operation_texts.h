// The five operations by their own names, each returning its whole result as a text (final
// separator included): the form the tests compare against, where the program streams instead.
#pragma once

#include <utility>

#include "engine/operations.h"

inline Text RunToText(Operation operation, const OperationInput& input) {
  TextSink sink;
  RunOperation(operation, input, sink);
  return std::move(sink.text);
}

inline Text OnlyInSecond(TextView first, TextView second, TextView read_separator,
                         TextView result_separator, bool whole_separator, bool case_sensitive) {
  return RunToText(Operation::ModeOnlyInSecond, {first, second, read_separator, result_separator,
                                                 whole_separator, case_sensitive});
}

inline Text InBoth(TextView first, TextView second, TextView read_separator,
                   TextView result_separator, bool whole_separator, bool case_sensitive) {
  return RunToText(Operation::ModeInBoth, {first, second, read_separator, result_separator,
                                           whole_separator, case_sensitive});
}

inline Text Deduplicate(TextView first, TextView read_separator, TextView result_separator,
                        bool whole_separator, bool case_sensitive) {
  return RunToText(Operation::ModeDeduplicate,
                   {first, {}, read_separator, result_separator, whole_separator, case_sensitive});
}

inline Text CountUnique(TextView first, TextView read_separator, TextView result_separator,
                        bool whole_separator, bool case_sensitive) {
  return RunToText(Operation::ModeCountUnique,
                   {first, {}, read_separator, result_separator, whole_separator, case_sensitive});
}

inline Text Merge(TextView first, TextView second, TextView read_separator,
                  TextView result_separator, bool whole_separator) {
  return RunToText(Operation::ModeMerge,
                   {first, second, read_separator, result_separator, whole_separator, true});
}
