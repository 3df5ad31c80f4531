// listwise-cli: the window's comparison run for scripts and benchmarks, on the same engine and
// writing the same bytes as the result file.
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "core/text_file.h"
#include "core/utf8.h"
#include "engine/operations.h"
#include "engine/result_writer.h"
#include "engine/run.h"
#include "engine/run_steps.h"

namespace {

constexpr const char* kUsage =
    "usage: listwise-cli MODE FIRST [SECOND] [options]\n"
    "\n"
    "MODE   only-in-second  items of SECOND missing from FIRST\n"
    "       in-both         items of FIRST that also occur in SECOND\n"
    "       dedupe          items of FIRST without repeats (SECOND ignored)\n"
    "       count           how often each item of FIRST occurs (SECOND ignored)\n"
    "       merge           FIRST and SECOND joined line by line\n"
    "FIRST, SECOND  files, or - for standard input\n"
    "\n"
    "  --read-sep TEXT     separator that cuts the lists into items (default \\r\\n);\n"
    "                      the escapes \\r \\n \\t \\f stand for control characters\n"
    "  --result-sep TEXT   separator that joins the result items (default \\r\\n)\n"
    "  --whole-separator   the read separator is one string, not a set of characters\n"
    "  --ignore-case       upper and lower case are not told apart\n"
    "  --output FILE       write the result to FILE instead of standard output\n"
    "  --no-bom            leave out the UTF-8 byte-order mark\n"
    "  --help              show this text\n"
    "\n"
    "The count and the time go to standard error. Exit status: 0 done, 1 input error,\n"
    "2 usage error.\n";

int UsageError(const char* what) {
  std::fprintf(stderr, "listwise-cli: %s\n\n%s", what, kUsage);
  return 2;
}

struct Mode {
  const char* name;
  int operation;
};
constexpr Mode kModes[] = {{"only-in-second", ModeOnlyInSecond},
                           {"in-both", ModeInBoth},
                           {"dedupe", ModeDeduplicate},
                           {"count", ModeCountUnique},
                           {"merge", ModeMerge}};

Text ReadStandardInput() {
  TextFilePtr file = WrapForReading(stdin, false);
  TextFormat format = DetectByteOrderMark(*file);
  if (format == FormatSingleByte) format = FormatUtf8;
  Text text = ReadRest(*file, format);
  CloseTextFile(std::move(file));
  return text;
}

// A list argument as the run sees it: "-" becomes a kept text behind a "<" marker, exactly as
// the window's paste buttons keep the clipboard; a real path that begins with "<" is protected
// from being taken for that marker.
Text FieldFor(const std::string& arg, Text& kept) {
  if (arg == "-") {
    kept = ReadStandardInput();
    return u"<->";
  }
  Text path = TextFromUtf8(arg);
  if (FirstUnit(path) == u'<') path = u"./" + path;
  return path;
}

}  // namespace

int RunCli(int argc, char** argv);

int main(int argc, char** argv) {
  try {
    return RunCli(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s\n", Utf8FromText(OutOfMemoryMessage()).c_str());
    return 1;
  }
}

int RunCli(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");

  std::vector<std::string> positional;
  RunRequest request;
  request.read_separator = u"\\r\\n";
  request.result_separator = u"\\r\\n";
  std::string output_path;
  bool bom = true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&](const char* option) -> const char* {
      if (i + 1 >= argc) return nullptr;
      (void)option;
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--read-sep" || arg == "--result-sep" || arg == "--output") {
      const char* v = value(argv[i]);
      if (v == nullptr) return UsageError("an option lacks its value");
      if (arg == "--read-sep")
        request.read_separator = TextFromUtf8(v);
      else if (arg == "--result-sep")
        request.result_separator = TextFromUtf8(v);
      else
        output_path = v;
    } else if (arg == "--whole-separator") {
      request.whole_separator_flag = 1;
    } else if (arg == "--ignore-case") {
      request.case_flag = 0;
    } else if (arg == "--no-bom") {
      bom = false;
    } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
      return UsageError("unknown option");
    } else {
      positional.emplace_back(arg);
    }
  }
  if (positional.empty()) return UsageError("no mode given");
  int operation = -1;
  for (const Mode& mode : kModes)
    if (positional[0] == mode.name) operation = mode.operation;
  if (operation < 0) return UsageError("unknown mode");
  const bool two_lists =
      operation == ModeOnlyInSecond || operation == ModeInBoth || operation == ModeMerge;
  if (positional.size() < 2) return UsageError("no list given");
  if (two_lists && positional.size() < 3) return UsageError("this mode needs two lists");
  if (positional.size() > 3) return UsageError("too many arguments");
  if (two_lists && positional[1] == "-" && positional[2] == "-")
    return UsageError("standard input can be only one of the lists");

  request.operation = operation;
  Text kept_first, kept_second;
  request.first_field = FieldFor(positional[1], kept_first);
  if (two_lists) request.second_field = FieldFor(positional[2], kept_second);
  request.clipboard_first = kept_first;
  request.clipboard_second = kept_second;

  PreparedRun run;
  if (const InputError error = PrepareRun(request, run); error != InputError::None) {
    std::fprintf(stderr, "%s\n", Utf8FromText(InputErrorMessage(error)).c_str());
    return 1;
  }
  kept_first.clear();
  kept_first.shrink_to_fit();
  kept_second.clear();
  kept_second.shrink_to_fit();

  std::FILE* stream = stdout;
  if (!output_path.empty()) {
    stream = std::fopen(output_path.c_str(), "wb");
    if (stream == nullptr) {
      std::fprintf(stderr, "listwise-cli: cannot write %s: %s\n", output_path.c_str(),
                   std::strerror(errno));
      return 1;
    }
  }
  TextFilePtr out = WrapForWriting(stream, stream != stdout);
  if (bom) WriteByteOrderMark(*out, FormatUtf8);
  bool written;
  int32_t found;
  int64_t elapsed;
  {
    Utf8FileSink encoded(*out);
    const OperationInput input{run.first,
                               run.second,
                               run.read_separator,
                               run.result_separator,
                               run.whole_separator_flag,
                               run.case_flag};
    const int32_t start = MillisecondClock();
    found = RunOperation(operation, input, encoded);
    elapsed = static_cast<int64_t>(MillisecondClock()) - start;
  }
  written = CloseTextFile(std::move(out));
  std::fprintf(stderr, "%s\n", Utf8FromText(StatusText(found, elapsed)).c_str());
  if (!written) {
    std::fprintf(stderr, "listwise-cli: the result could not be written completely\n");
    return 1;
  }
  return 0;
}
