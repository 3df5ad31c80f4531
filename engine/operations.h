// The five operations. Each cuts its sources into items, computes its outcome with ItemTable
// containers of 512 slots and emits the result: every emitted text is followed by the result
// separator (Merge: pairs joined by it, lines ended by CR LF). The final separator is cut later.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/text.h"
#include "engine/run_progress.h"
#include "engine/run_request.h"

// The count of the last operation; shown by the run's report.
extern int32_t FoundCount;

// Where an operation's result goes: a text in memory, or a file as it is produced. A result is
// a run of records, each ended by a separator (the result separator, or CR LF for the lines of
// Merge). The report cuts off as many final units as that last separator has; a sink that does
// so simply never writes the last separator, which gives the same units without holding any back.
class ResultSink {
 public:
  virtual ~ResultSink() = default;
  // A piece of the current record. Pieces and separators stay valid until the next call.
  virtual void Append(TextView piece) = 0;
  virtual void EndRecord(TextView separator) = 0;
  // Whole records in UTF-8, the last of them ended by `final_separator` (a block of records as
  // the byte engine makes them). By default decoded and passed on as one piece and one separator.
  virtual void AppendUtf8Block(std::string_view block, std::string_view final_separator);

 private:
  Text block_separator_;
};

// The result as a text: whole (as the operations return it) or with its final separator cut.
class TextSink : public ResultSink {
 public:
  explicit TextSink(bool cut_final_separator = false) : cut_(cut_final_separator) {}
  void Append(TextView piece) override {
    text.append(pending_);
    pending_.clear();
    text.append(piece);
  }
  void EndRecord(TextView separator) override {
    text.append(pending_);
    if (cut_)
      pending_.assign(separator);
    else
      text.append(separator);
  }
  Text text;

 private:
  bool cut_;
  Text pending_;
};

class NullSink : public ResultSink {
 public:
  void Append(TextView) override {}
  void EndRecord(TextView) override {}
  void AppendUtf8Block(std::string_view, std::string_view) override {}
};

struct OperationInput {
  TextView first;
  TextView second;
  TextView read_separator;    // escapes expanded, never empty
  TextView result_separator;  // escapes expanded, may be empty
  bool whole_separator = false;
  bool case_sensitive = true;
  TextView line_end = u"\r\n";      // ends each line of Merge
  RunProgress* progress = nullptr;  // hears of each slot worked on (Merge: of its lines)
};

// Runs the operation into the sink, sets FoundCount and returns it. A value outside the five
// (the mode box with nothing chosen) emits nothing and counts 0. A run its progress stopped
// returns -1 and leaves FoundCount as it was; what reached the sink is then to be thrown away.
int32_t RunOperation(Operation operation, const OperationInput& input, ResultSink& sink);
