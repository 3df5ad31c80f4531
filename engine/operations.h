// The five operations. Each cuts its sources into items, computes its outcome with ItemTable
// containers of 512 slots and emits the result: every emitted text is followed by the result
// separator (Merge: pairs joined by it, lines ended by CR LF). The final separator is cut later.
#pragma once

#include <cstdint>

#include "core/text.h"

// The count of the last operation; shown by the run's report.
extern int32_t FoundCount;

// Where an operation's result goes: a text in memory, or a file as it is produced.
class ResultSink {
 public:
  virtual ~ResultSink() = default;
  virtual void Append(TextView piece) = 0;
};

class TextSink : public ResultSink {
 public:
  void Append(TextView piece) override { text.append(piece); }
  Text text;
};

class NullSink : public ResultSink {
 public:
  void Append(TextView) override {}
};

struct OperationInput {
  TextView first;
  TextView second;
  TextView read_separator;    // escapes expanded, never empty
  TextView result_separator;  // escapes expanded, may be empty
  int whole_separator_flag = 0;
  int case_flag = 1;
};

// Runs operation 0..4 into the sink, sets FoundCount and returns it. Any other number emits
// nothing and counts 0.
int32_t RunOperation(int operation, const OperationInput& input, ResultSink& sink);

// The operations by their own names, returning the result text (final separator included).
Text OnlyInSecond(TextView first, TextView second, TextView read_separator,
                  TextView result_separator, int whole_separator_flag, int case_flag);
Text InBoth(TextView first, TextView second, TextView read_separator, TextView result_separator,
            int whole_separator_flag, int case_flag);
Text Deduplicate(TextView first, TextView read_separator, TextView result_separator,
                 int whole_separator_flag, int case_flag);
Text CountUnique(TextView first, TextView read_separator, TextView result_separator,
                 int whole_separator_flag, int case_flag);
Text Merge(TextView first, TextView second, TextView read_separator, TextView result_separator,
           int whole_separator_flag);
