// listwise-cli: the window's comparison run for scripts and benchmarks, on the same engine and
// writing the same bytes as the result file.
#include <signal.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "cli/command_line.h"
#include "cli/output_file.h"
#include "cli/progress_bar.h"
#include "core/licence_notice.h"
#include "core/text_file.h"
#include "core/utf8.h"
#include "engine/operations.h"
#include "engine/result_writer.h"
#include "engine/run_steps.h"

namespace {

constexpr char kProgram[] = "listwise-cli";
// What RunCli returns when an interrupt stopped the run; main then ends by that signal.
constexpr int kInterrupted = -1;

// A list argument as the run sees it: "-" is standard input, whose descriptor the run reads; a
// path that begins with "<" is kept from being taken for the window's clipboard marker.
void SetSource(const std::string& arg, Text& field, int& descriptor) {
  if (arg == "-") {
    descriptor = 0;
    return;
  }
  field = TextFromUtf8(arg);
  if (FirstUnit(field) == u'<') field = u"./" + field;
}

void Complain(const std::string& about, const std::string& message) {
  if (about.empty())
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
  else
    std::fprintf(stderr, "%s: %s: %s\n", kProgram, about.c_str(), message.c_str());
}

// The result as pipeline tools read text (merge's lines end with a line feed, set on the run),
// and the last line gets its line feed too (the sink leaves the final separator out), so that
// wc -l counts every item and an empty result is no line at all.
class PlainLines : public ResultSink {
 public:
  explicit PlainLines(ResultSink& target) : target_(target) {}
  void Append(TextView piece) override { target_.Append(piece); }
  void EndRecord(TextView separator) override {
    target_.EndRecord(separator);
    any_ = true;
  }
  void AppendUtf8Block(std::string_view block, std::string_view final_separator) override {
    target_.AppendUtf8Block(block, final_separator);
    any_ = true;
  }
  bool any() const { return any_; }

 private:
  ResultSink& target_;
  bool any_ = false;
};

void PrintNotices(const std::string& name, const SourceNotices& notices) {
  for (const Text& phrase : SourceNoticePhrases(notices)) Complain(name, Utf8FromText(phrase));
}

// The bar only ever goes to a terminal, and pipelines and logs see what they always saw.
bool DrawBar(const CliOptions& options) {
  if (options.quiet || options.bar == BarChoice::Never || !isatty(STDERR_FILENO)) return false;
  if (options.bar == BarChoice::Always) return true;
  const char* term = std::getenv("TERM");
  if (term != nullptr && std::strcmp(term, "dumb") == 0) return false;
  // A result printed on the terminal would be torn by the bar.
  return !options.output_path.empty() || !isatty(STDOUT_FILENO);
}

}  // namespace

int RunCli(int argc, char** argv);

int main(int argc, char** argv) {
  int status = 1;
  try {
    status = RunCli(argc, argv);
  } catch (const std::bad_alloc&) {
    // The fresh --output file was removed on the way out; the earlier one is untouched.
    Complain("", Utf8FromText(OutOfMemoryMessage()));
    return 1;
  } catch (const TemporarySpaceExhausted&) {
    Complain("", Utf8FromText(NoTemporarySpaceMessage()));
    return 1;
  }
  if (status == kInterrupted) {
    // Everything is cleaned up: now end as the signal would have ended the program, so that
    // the shell sees the interrupt.
    const int stopped_by = InterruptSignal();
    ::signal(stopped_by, SIG_DFL);
    ::raise(stopped_by);
    return 128 + stopped_by;
  }
  return status;
}

int RunCli(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");

  CliOptions options;
  std::string problem;
  switch (ParseCommandLine(argc, argv, options, problem)) {
    case CommandLine::Help:
      std::fputs(kCliUsage, stdout);
      return 0;
    case CommandLine::Version:
      // The tool names its package too, as the GNU programs of a package do.
      std::fputs("listwise-cli (listwise) " LISTWISE_VERSION "\n" LISTWISE_LICENCE_NOTICE, stdout);
      return 0;
    case CommandLine::UsageError:
      Complain("", problem);
      std::fprintf(stderr, "Try '%s --help'.\n", kProgram);
      return 2;
    case CommandLine::Run:
      break;
  }

  RunRequest request;
  request.operation = options.operation;
  request.read_separator = options.read_separator;
  request.result_separator = options.result_separator;
  request.whole_separator = options.whole_separator;
  request.case_sensitive = !options.ignore_case;
  request.encoding = options.encoding;
  request.threads = options.threads;
  SetSource(options.first, request.first_field, request.first_descriptor);
  if (options.two_lists) SetSource(options.second, request.second_field, request.second_descriptor);

  // From here on an interrupt stops the run at its next step, and whatever it leaves behind is
  // removed on the way out. Standard input is read whole before the first step: a terminal
  // typed into takes its end of input, or a second interrupt.
  StopRunsOnInterrupt();
  CliProgress progress(DrawBar(options), stderr, options.first.c_str(), options.second.c_str());
  PreparedRun run;
  RunSource failed = RunSource::None;
  const InputError error = PrepareRun(request, run, &failed, &progress);
  progress.Clear();
  if (error == InputError::Stopped) return kInterrupted;
  if (error != InputError::None) {
    // A missing list has no name to give.
    std::string about;
    if (error != InputError::MissingList && failed != RunSource::None)
      about = failed == RunSource::First ? options.first : options.second;
    Complain(about, Utf8FromText(InputErrorMessage(error)));
    return 1;
  }
  if (options.plain) run.line_end.assign(1, u'\n');
  PrintNotices(options.first, run.first_notices);
  if (options.two_lists) PrintNotices(options.second, run.second_notices);

  OutputFile output;
  TextFilePtr standard_output;
  if (!options.output_path.empty()) {
    if (!output.Open(options.output_path, problem)) {
      Complain(options.output_path, problem);
      return 1;
    }
  } else {
    standard_output = WrapForWriting(stdout, false);
  }
  TextFile& out = standard_output != nullptr ? *standard_output : output.file();
  if (options.bom) WriteByteOrderMark(out, FormatUtf8);
  Text report;
  bool final_line_feed = false;
  {
    Utf8FileSink encoded(out);
    PlainLines plain_lines(encoded);
    ResultSink& sink =
        options.plain ? static_cast<ResultSink&>(plain_lines) : static_cast<ResultSink&>(encoded);
    report = RunPrepared(run, sink);
    final_line_feed = plain_lines.any();
  }
  progress.Clear();
  // An interrupt after the last step still keeps the earlier --output file.
  if (RunStopped(run) || InterruptSignal() != 0) return kInterrupted;
  if (const RunSource changed = SourceThatFailedDuringRun(run); changed != RunSource::None) {
    // A list changed while it was read: what was written is incomplete. A fresh --output file
    // is removed with `output`, the earlier one untouched.
    Complain(changed == RunSource::First ? options.first : options.second,
             Utf8FromText(InputErrorMessage(InputError::FileChangedWhileRead)));
    return 1;
  }
  if (final_line_feed) WriteBytes(out, "\n", 1);
  const bool written = standard_output != nullptr ? CloseTextFile(std::move(standard_output))
                                                  : output.Commit(problem);
  if (!written) {
    // No count: it would read as a run that succeeded.
    if (options.output_path.empty())
      Complain("standard output", "write error");
    else
      Complain(options.output_path, "cannot write: " + problem);
    return 1;
  }
  if (!options.quiet) std::fprintf(stderr, "%s\n", Utf8FromText(report).c_str());
  return 0;
}
