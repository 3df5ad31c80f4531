// The command line of listwise-cli: GNU-style options around MODE FIRST [SECOND].
#pragma once

#include <optional>
#include <string>

#include "core/text.h"
#include "engine/run_request.h"

// When the progress bar is drawn on a terminal.
enum class BarChoice {
  Auto,    // when the result does not go to that terminal as well
  Always,  // --progress
  Never,   // --no-progress
};

struct CliOptions {
  Operation operation = Operation::ModeOnlyInSecond;
  bool two_lists = false;
  std::string first;  // as given: a path, or "-" for standard input
  std::string second;
  Text read_separator = u"\\r\\n";  // as typed, escapes not yet expanded
  bool read_separator_given = false;
  Text result_separator = u"\\r\\n";
  bool result_separator_given = false;
  bool whole_separator = false;
  bool ignore_case = false;
  bool trim = false;     // --trim
  bool fold_yo = false;  // --fold-yo
  ItemOrder order = ItemOrder::OrderTable;
  std::optional<ColumnChoice> column;  // --column and the options of tables
  bool plain = false;                  // no byte-order mark, "\n" after items and merged lines
  bool bom = true;
  bool quiet = false;
  BarChoice bar = BarChoice::Auto;
  std::string output_path;        // empty: standard output
  EncodingChoice first_encoding;  // for lists without a byte-order mark
  EncodingChoice second_encoding;
  int threads = 0;  // 0: as many as there are usable cores
};

enum class CommandLine { Run, Help, Version, UsageError };

// Fills `options`; on UsageError `problem` holds one line naming what is wrong.
CommandLine ParseCommandLine(int argc, char** argv, CliOptions& options, std::string& problem);

// --help, in the language of the locale.
const char* CliUsage();
