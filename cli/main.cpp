// listwise-cli: the window's comparison run for scripts and benchmarks, on the same engine and
// writing the same bytes as the result file.
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "cli/command_line.h"
#include "cli/output_file.h"
#include "core/text_file.h"
#include "core/utf8.h"
#include "engine/operations.h"
#include "engine/result_writer.h"
#include "engine/run.h"
#include "engine/run_steps.h"

namespace {

constexpr char kProgram[] = "listwise-cli";

InputError ReadStandardInput(Text& text, SourceNotices& notices) {
  TextFilePtr file = WrapForReading(stdin, false);
  return LoadSourceStream(*file, text, &notices);
}

// A list argument as the run sees it: "-" becomes a kept text behind a "<" marker, exactly as
// the window's paste buttons keep the clipboard; a real path that begins with "<" is protected
// from being taken for that marker.
Text FieldFor(const std::string& arg, Text& kept, SourceNotices& notices, InputError& error) {
  if (arg == "-") {
    error = ReadStandardInput(kept, notices);
    return u"<->";
  }
  Text path = TextFromUtf8(arg);
  if (FirstUnit(path) == u'<') path = u"./" + path;
  return path;
}

// Which argument an input error is about: the checks run first source first, so a file error
// belongs to FIRST unless FIRST passes the same check. Empty when the error names no file.
std::string FailedSource(InputError error, const CliOptions& options) {
  if (error == InputError::SameFile) return options.first;
  if (error != InputError::FileMissing && error != InputError::FileUnreadable) return "";
  if (!options.two_lists || options.second == "-") return options.first;
  if (options.first == "-") return options.second;
  const Text first = TextFromUtf8(options.first);
  if (QueryFileSize(first) < 0) return options.first;
  if (error == InputError::FileMissing) return options.second;
  // Non-blocking, so that probing a named pipe already read does not wait for a writer.
  const int fd = open(options.first.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return options.first;
  close(fd);
  return options.second;
}

void Complain(const std::string& about, const std::string& message) {
  if (about.empty())
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
  else
    std::fprintf(stderr, "%s: %s: %s\n", kProgram, about.c_str(), message.c_str());
}

// The result as pipeline tools read text: merge's lines end with a line feed rather than CR LF,
// and the last line gets its line feed too (the sink leaves the final separator out), so that
// wc -l counts every item and an empty result is no line at all.
class PlainLines : public ResultSink {
 public:
  PlainLines(ResultSink& target, bool merge) : target_(target), merge_(merge) {}
  void Append(TextView piece) override { target_.Append(piece); }
  void EndRecord(TextView separator) override {
    target_.EndRecord(merge_ ? TextView(u"\n") : separator);
    any_ = true;
  }
  bool any() const { return any_; }

 private:
  ResultSink& target_;
  bool merge_;
  bool any_ = false;
};

void PrintNotices(const std::string& name, const SourceNotices& notices) {
  for (const Text& phrase : SourceNoticePhrases(notices)) Complain(name, Utf8FromText(phrase));
}

}  // namespace

int RunCli(int argc, char** argv);

int main(int argc, char** argv) {
  try {
    return RunCli(argc, argv);
  } catch (const std::bad_alloc&) {
    // The fresh --output file was removed on the way out; the earlier one is untouched.
    Complain("", Utf8FromText(OutOfMemoryMessage()));
    return 1;
  }
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
      std::printf("listwise %s\n", LISTWISE_VERSION);
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
  Text kept_first, kept_second;
  SourceNotices stdin_notices[2];
  InputError stdin_error = InputError::None;
  request.first_field = FieldFor(options.first, kept_first, stdin_notices[0], stdin_error);
  if (options.two_lists)
    request.second_field = FieldFor(options.second, kept_second, stdin_notices[1], stdin_error);
  request.clipboard_first = kept_first;
  request.clipboard_second = kept_second;

  PreparedRun run;
  InputError error = PrepareRun(request, run);
  std::string about;
  // Standard input is read before the checks; its failure is told where its field is checked:
  // as the first list after the separator, as the second after everything else.
  if (stdin_error != InputError::None &&
      (error == InputError::None ||
       (options.first == "-" && error != InputError::MissingSeparator))) {
    error = stdin_error;
    about = "-";
  } else {
    about = FailedSource(error, options);
  }
  if (error != InputError::None) {
    Complain(about, Utf8FromText(InputErrorMessage(error)));
    return 1;
  }
  PrintNotices(options.first, options.first == "-" ? stdin_notices[0] : run.first_notices);
  if (options.two_lists)
    PrintNotices(options.second, options.second == "-" ? stdin_notices[1] : run.second_notices);
  kept_first.clear();
  kept_first.shrink_to_fit();
  kept_second.clear();
  kept_second.shrink_to_fit();

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
  int32_t found;
  int64_t elapsed;
  bool final_line_feed = false;
  {
    Utf8FileSink encoded(out);
    PlainLines plain_lines(encoded, run.operation == Operation::ModeMerge);
    ResultSink& sink =
        options.plain ? static_cast<ResultSink&>(plain_lines) : static_cast<ResultSink&>(encoded);
    const OperationInput input{run.first,           run.second,
                               run.read_separator,  run.result_separator,
                               run.whole_separator, run.case_sensitive};
    const int32_t start = MillisecondClock();
    found = RunOperation(run.operation, input, sink);
    elapsed = static_cast<int64_t>(MillisecondClock()) - start;
    final_line_feed = plain_lines.any();
  }
  if (final_line_feed) WriteBytes(out, "\n", 1);
  const bool written = standard_output != nullptr ? CloseTextFile(std::move(standard_output))
                                                  : output.Commit(problem);
  if (!options.quiet)
    std::fprintf(stderr, "%s\n", Utf8FromText(StatusText(found, elapsed)).c_str());
  if (!written) {
    if (options.output_path.empty())
      Complain("standard output", "write error");
    else
      Complain(options.output_path, "cannot write: " + problem);
    return 1;
  }
  return 0;
}
