// listwise-cli: the window's comparison run for scripts and benchmarks, on the same engine and
// writing the same bytes as the result file.
#include <locale.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "cli/command_line.h"
#include "cli/messages.h"
#include "cli/output_file.h"
#include "cli/progress_bar.h"
#include "core/licence_notice.h"
#include "core/text.h"
#include "core/text_file.h"
#include "core/utf8.h"
#include "engine/result_sink.h"
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
  for (const std::string& text : NoticeTexts(notices)) Complain(name, text);
}

void ComplainCannotWrite(const std::string& about, const std::string& reason) {
  Complain(about, Formatted(Translated("cannot write: %s"), reason.c_str()));
}

// --help and --version: a text that did not reach standard output is an error too.
int PrintText(const char* text) {
  errno = 0;
  if (std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0) return 0;
  ComplainCannotWrite(Translated("standard output"), SystemReason(errno));
  return 1;
}

// Case folding is the one thing in a result that the locale could change: under the C locale,
// where scripts from cron and containers run, towlower folds ASCII alone, and the same lists
// would give other bytes than at the user's terminal. The fold is taken from C.UTF-8, which the
// C library always has, before anything folds; the messages keep the user's locale.
void FoldCaseAsUnicode() {
  const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  if (unicode == static_cast<locale_t>(nullptr)) return;
  const locale_t before = uselocale(unicode);
  LowerUnitTable();
  uselocale(before);
  freelocale(unicode);
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
  // Messages follow the user's locale; numbers never do, nor does --ignore-case's folding.
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  SetUpTranslations();
  int status = 1;
  try {
    status = RunCli(argc, argv);
  } catch (const std::bad_alloc&) {
    // The fresh --output file was removed on the way out; the earlier one is untouched.
    Complain("", OutOfMemoryText());
    return 1;
  } catch (const TemporarySpaceExhausted&) {
    Complain("", NoTemporarySpaceText());
    return 1;
  }
  // Everything is cleaned up: now end as the signal would have ended the program.
  if (status == kInterrupted) EndByInterruptSignal();
  return status;
}

int RunCli(int argc, char** argv) {
  CliOptions options;
  std::string problem;
  switch (ParseCommandLine(argc, argv, options, problem)) {
    case CommandLine::Help:
      return PrintText(CliUsage());
    case CommandLine::Version:
      // The tool names its package too, as the GNU programs of a package do.
      return PrintText("listwise-cli (listwise) " LISTWISE_VERSION "\n" LISTWISE_LICENCE_NOTICE);
    case CommandLine::UsageError:
      Complain("", problem);
      std::fprintf(stderr, "%s\n", Formatted(Translated("Try '%s --help'."), kProgram).c_str());
      return 2;
    case CommandLine::Run:
      break;
  }

  if (options.ignore_case) FoldCaseAsUnicode();
  RunRequest request;
  request.operation = options.operation;
  request.read_separator = options.read_separator;
  request.result_separator = options.result_separator;
  request.whole_separator = options.whole_separator;
  request.case_sensitive = !options.ignore_case;
  request.trim = options.trim;
  request.fold_yo = options.fold_yo;
  request.order = options.order;
  request.column = options.column;
  request.first_encoding = options.first_encoding;
  request.second_encoding = options.second_encoding;
  request.threads = options.threads;
  SetSource(options.first, request.first_field, request.first_descriptor);
  if (options.two_lists) SetSource(options.second, request.second_field, request.second_descriptor);

  // From here on an interrupt stops the run at its next step, and whatever it leaves behind is
  // removed on the way out; a wait on a pipe or a terminal is such a step too.
  StopRunsOnInterrupt();
  CliProgress progress(DrawBar(options), stderr, options.first.c_str(), options.second.c_str());
  LoadedRun run;
  RunSource failed = RunSource::None;
  const InputError error = LoadRun(request, run, &failed, &progress);
  progress.Clear();
  if (error == InputError::Stopped) return kInterrupted;
  if (error != InputError::None) {
    // A missing list has no name to give.
    std::string about;
    if (error != InputError::MissingList && failed != RunSource::None)
      about = failed == RunSource::First ? options.first : options.second;
    // What the lists hold does not fit what the command line asked of them: a usage error.
    if (error == InputError::NoSuchColumn) {
      Complain(about, Formatted(Translated("the header has no column '%s'"),
                                options.column->name.c_str()));
      return 2;
    }
    Complain(about, InputErrorText(error));
    return error == InputError::TablesDiffer ? 2 : 1;
  }
  if (options.plain) run.line_end.assign(1, u'\n');
  PrintNotices(options.first, run.first_notices);
  if (options.two_lists) PrintNotices(options.second, run.second_notices);

  OutputFile output;
  TextFilePtr standard_output;
  if (!options.output_path.empty()) {
    if (!output.Open(options.output_path, problem, [] { return InterruptSignal() == 0; })) {
      if (InterruptSignal() != 0) return kInterrupted;
      ComplainCannotWrite(options.output_path, problem);
      return 1;
    }
  } else {
    standard_output = WrapForWriting(stdout, false);
  }
  TextFile& out = standard_output != nullptr ? *standard_output : output.file();
  if (options.bom) WriteByteOrderMark(out, FormatUtf8);
  RunCount count;
  bool final_line_feed = false;
  {
    Utf8FileSink encoded(out);
    PlainLines plain_lines(encoded);
    ResultSink& sink =
        options.plain ? static_cast<ResultSink&>(plain_lines) : static_cast<ResultSink&>(encoded);
    count = MakeResult(run, sink);
    final_line_feed = plain_lines.any();
  }
  progress.Clear();
  // An interrupt after the last step still keeps the earlier --output file. What is pending
  // is dropped: a stalled reader would hold its write forever.
  if (RunStopped(run) || InterruptSignal() != 0) {
    output.Abandon();
    (void)standard_output.release();  // the program ends by the signal, before stdio flushes
    return kInterrupted;
  }
  if (const RunSource changed = SourceThatFailedDuringRun(run); changed != RunSource::None) {
    // A list changed while it was read: what was written is incomplete. A fresh --output file
    // is removed with `output`, the earlier one untouched.
    Complain(changed == RunSource::First ? options.first : options.second,
             InputErrorText(InputError::FileChangedWhileRead));
    return 1;
  }
  if (final_line_feed) WriteBytes(out, "\n", 1);
  // The count only follows a result that is all there: a failed write is the run's outcome,
  // unless an interrupt broke into it, which is the outcome then.
  if (standard_output != nullptr) {
    errno = 0;
    if (!CloseTextFile(std::move(standard_output))) {
      if (InterruptSignal() != 0) return kInterrupted;
      ComplainCannotWrite(Translated("standard output"), SystemReason(errno));
      return 1;
    }
  } else if (!output.Commit(problem)) {
    if (InterruptSignal() != 0) return kInterrupted;
    ComplainCannotWrite(options.output_path, problem);
    return 1;
  }
  if (!options.quiet) std::fprintf(stderr, "%s\n", CountText(count).c_str());
  return 0;
}
