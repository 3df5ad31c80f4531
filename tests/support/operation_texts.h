// The operations by their own names, run on lists given as texts through the run's own
// steps, each returning its whole result as a text (final separator included): the form the
// tests compare against, where the program streams bytes instead.
#pragma once

#include <string>

#include "core/utf8.h"
#include "engine/run_steps.h"
#include "tests/support/byte_sink.h"

struct GivenRun {
  std::string bytes;
  int32_t found = -1;  // -1 as well when the run did not get past its checks
};

inline GivenRun RunGiven(Operation operation, TextView first, TextView second,
                         TextView read_separator, TextView result_separator, bool whole_separator,
                         bool case_sensitive, bool cut_final_separator = false, bool trim = false,
                         bool fold_yo = false) {
  RunRequest request;
  request.operation = operation;
  request.first_text = SourceText{first, {}, false};
  request.second_text = SourceText{second, {}, false};
  request.read_separator = Text(read_separator);
  request.result_separator = Text(result_separator);
  request.whole_separator = whole_separator;
  request.case_sensitive = case_sensitive;
  request.trim = trim;
  request.fold_yo = fold_yo;
  LoadedRun run;
  if (LoadRun(request, run) != InputError::None) return {};
  ByteSink sink(cut_final_separator);
  const int32_t found = MakeResult(run, sink).found;
  return {sink.bytes(), found};
}

inline Text OnlyInSecond(TextView first, TextView second, TextView read_separator,
                         TextView result_separator, bool whole_separator, bool case_sensitive) {
  return TextFromUtf8(RunGiven(Operation::ModeOnlyInSecond, first, second, read_separator,
                               result_separator, whole_separator, case_sensitive)
                          .bytes);
}

inline Text InBoth(TextView first, TextView second, TextView read_separator,
                   TextView result_separator, bool whole_separator, bool case_sensitive) {
  return TextFromUtf8(RunGiven(Operation::ModeInBoth, first, second, read_separator,
                               result_separator, whole_separator, case_sensitive)
                          .bytes);
}

inline Text Deduplicate(TextView first, TextView read_separator, TextView result_separator,
                        bool whole_separator, bool case_sensitive) {
  return TextFromUtf8(RunGiven(Operation::ModeDeduplicate, first, u"", read_separator,
                               result_separator, whole_separator, case_sensitive)
                          .bytes);
}

inline Text CountUnique(TextView first, TextView read_separator, TextView result_separator,
                        bool whole_separator, bool case_sensitive) {
  return TextFromUtf8(RunGiven(Operation::ModeCountUnique, first, u"", read_separator,
                               result_separator, whole_separator, case_sensitive)
                          .bytes);
}

inline Text Merge(TextView first, TextView second, TextView read_separator,
                  TextView result_separator, bool whole_separator) {
  return TextFromUtf8(RunGiven(Operation::ModeMerge, first, second, read_separator,
                               result_separator, whole_separator, true)
                          .bytes);
}
