// Where a run's result goes as it is made.
#pragma once

#include <string_view>

// A result is a run of records, each ended by a separator (the result separator, or the line end
// for the lines of Merge), handed over in blocks of whole records in the engine's UTF-8 (a lone
// surrogate as its 3 bytes). The report cuts off as many final units as that last separator has;
// a sink that does so simply never writes the last separator, which gives the same units without
// holding any back.
class ResultSink {
 public:
  virtual ~ResultSink() = default;
  // Whole records, the last of them ended by `final_separator`.
  virtual void AppendUtf8Block(std::string_view block, std::string_view final_separator) = 0;
};

class NullSink : public ResultSink {
 public:
  void AppendUtf8Block(std::string_view, std::string_view) override {}
};
