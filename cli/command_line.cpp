#include "cli/command_line.h"

#include <getopt.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli/messages.h"
#include "core/utf8.h"

const char* CliUsage() {
  return Translated(
      "Usage: listwise-cli [OPTION]... MODE FIRST [SECOND]\n"
      "Compare two lists of items, or examine one; FIRST and SECOND are files,\n"
      "or - for standard input.\n"
      "\n"
      "Modes:\n"
      "  only-in-second  items of SECOND missing from FIRST\n"
      "  in-both         items of FIRST that also occur in SECOND\n"
      "  dedupe          items of FIRST without repeats (SECOND ignored)\n"
      "  count           how often each item of FIRST occurs (SECOND ignored)\n"
      "  merge           FIRST and SECOND joined line by line\n"
      "  only-in-first   items of FIRST missing from SECOND\n"
      "  union           items of FIRST or SECOND, without repeats\n"
      "  symmetric       items in exactly one of FIRST and SECOND\n"
      "  duplicates      items that occur more than once in FIRST, each\n"
      "                  once\n"
      "\n"
      "Options:\n"
      "      --read-sep=TEXT     cuts the lists into items (default \\r\\n, each\n"
      "                          character on its own); \\r \\n \\t \\f stand for\n"
      "                          control characters\n"
      "      --result-sep=TEXT   joins the result items (default \\r\\n)\n"
      "  -w, --whole-separator   the read separator is one string\n"
      "  -i, --ignore-case       upper and lower case are not told apart\n"
      "      --trim              drop white space at both ends of every item,\n"
      "                          no-break spaces included\n"
      "      --fold-yo           compare the Cyrillic yo as ye, in either case\n"
      "      --order=ORDER       the order of the result items: table (the\n"
      "                          default, the walk of the 512-slot table), first\n"
      "                          (as each item first occurs, FIRST's before\n"
      "                          SECOND's), sorted (code point order) or count\n"
      "                          (the most frequent first; count and duplicates\n"
      "                          only); merge takes table or first, its own order\n"
      "      --column=COLUMN     read the lists as tables (CSV, TSV) and compare\n"
      "                          the field COLUMN of each row: a number from 1,\n"
      "                          or with --header a header's name\n"
      "      --field-sep=CHAR    the fields' separator (default: judged from each\n"
      "                          list's first rows: ';', ',' or tab); \\t is tab\n"
      "      --header            the first row of each list is its header: no item\n"
      "      --rows              the result holds whole rows, under the header\n"
      "                          with --header, not only the column\n"
      "  -e, --encoding=NAME     read lists without a byte-order mark in NAME:\n"
      "                          utf-8 (malformed bytes kept as of old), utf-16le,\n"
      "                          utf-16be, windows-1251, koi8-r, cp866,\n"
      "                          windows-1252 or latin1 (default: judged from\n"
      "                          each list's bytes)\n"
      "      --encoding-first=NAME, --encoding-second=NAME\n"
      "                          the same for one list only, over -e\n"
      "  -o, --output=FILE       write to FILE, replacing it once complete\n"
      "      --threads=N         work on N threads (default: the cores this process\n"
      "                          may use)\n"
      "      --no-bom            leave out the UTF-8 byte-order mark\n"
      "      --plain             for pipelines: no byte-order mark, a line feed\n"
      "                          after each item and merged line (an explicit\n"
      "                          --result-sep still joins the items)\n"
      "  -q, --quiet             do not print the count and the time\n"
      "      --progress          show a progress bar on a terminal also when the\n"
      "                          result is printed there\n"
      "      --no-progress       never show the progress bar\n"
      "  -h, --help              show this help and exit\n"
      "      --version           show the version and exit\n"
      "\n"
      "The count and the time go to standard error; when it is a terminal, a\n"
      "run of more than a second shows its progress there. Ctrl-C stops a run\n"
      "and leaves an earlier --output file as it was. Exit status: 0 done,\n"
      "1 input or output error, 2 usage error. See listwise-cli(1).\n"
      "\n"
      "Example: the customers of new.csv, an Excel export with ';' and a header,\n"
      "whose e-mail is not in old.csv, as whole rows:\n"
      "  listwise-cli --column=E-mail --header -i --trim --rows only-in-second \\\n"
      "      old.csv new.csv\n");
}

namespace {

constexpr long kMaxThreads = 1024;

enum LongOnly : int {
  kReadSep = 256,
  kResultSep,
  kNoBom,
  kPlain,
  kVersion,
  kProgress,
  kNoProgress,
  kThreads,
  kEncodingFirst,
  kEncodingSecond,
  kTrim,
  kFoldYo,
  kOrder,
  kColumn,
  kFieldSep,
  kHeader,
  kRows,
};

constexpr option kLongOptions[] = {
    {"read-sep", required_argument, nullptr, kReadSep},
    {"result-sep", required_argument, nullptr, kResultSep},
    {"whole-separator", no_argument, nullptr, 'w'},
    {"ignore-case", no_argument, nullptr, 'i'},
    {"trim", no_argument, nullptr, kTrim},
    {"fold-yo", no_argument, nullptr, kFoldYo},
    {"encoding", required_argument, nullptr, 'e'},
    {"encoding-first", required_argument, nullptr, kEncodingFirst},
    {"encoding-second", required_argument, nullptr, kEncodingSecond},
    {"output", required_argument, nullptr, 'o'},
    {"no-bom", no_argument, nullptr, kNoBom},
    {"plain", no_argument, nullptr, kPlain},
    {"quiet", no_argument, nullptr, 'q'},
    {"progress", no_argument, nullptr, kProgress},
    {"no-progress", no_argument, nullptr, kNoProgress},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {"threads", required_argument, nullptr, kThreads},
    {"order", required_argument, nullptr, kOrder},
    {"column", required_argument, nullptr, kColumn},
    {"field-sep", required_argument, nullptr, kFieldSep},
    {"header", no_argument, nullptr, kHeader},
    {"rows", no_argument, nullptr, kRows},
    {nullptr, 0, nullptr, 0},
};

// "-" first: positional arguments come back in place (code 1), so options may stand anywhere
// among them whatever POSIXLY_CORRECT says; ":" next: the messages are ours, not getopt's.
constexpr char kShortOptions[] = "-:e:o:iwqh";

struct Mode {
  const char* name;
  Operation operation;
};
constexpr Mode kModes[] = {{"only-in-second", Operation::ModeOnlyInSecond},
                           {"in-both", Operation::ModeInBoth},
                           {"dedupe", Operation::ModeDeduplicate},
                           {"count", Operation::ModeCountUnique},
                           {"merge", Operation::ModeMerge},
                           {"only-in-first", Operation::ModeOnlyInFirst},
                           {"union", Operation::ModeUnion},
                           {"symmetric", Operation::ModeSymmetric},
                           {"duplicates", Operation::ModeDuplicates}};

struct Order {
  const char* name;
  ItemOrder order;
};
constexpr Order kOrders[] = {{"table", ItemOrder::OrderTable},
                             {"first", ItemOrder::OrderFirst},
                             {"sorted", ItemOrder::OrderSorted},
                             {"count", ItemOrder::OrderCount}};
constexpr char kOrderNames[] = "table, first, sorted, count";

// The option as the user wrote it, for a message. Long options always advance optind, so the
// argument before it is the one getopt just read.
std::string LongName(const char* arg) {
  std::string_view name = arg;
  return std::string(name.substr(0, name.find('=')));
}

bool IsKnownVal(int val) {
  for (const option& o : kLongOptions)
    if (o.name != nullptr && o.val == val) return true;
  return false;
}

int CountPrefixMatches(std::string_view typed) {
  typed.remove_prefix(2);  // "--"
  int matches = 0;
  for (const option& o : kLongOptions)
    if (o.name != nullptr && std::string_view(o.name).starts_with(typed)) ++matches;
  return matches;
}

std::string BadOption(char** argv) {
  if (optopt == 0) {
    const std::string typed = LongName(argv[optind - 1]);
    if (CountPrefixMatches(typed) > 1)
      return Formatted(Translated("option '%s' is ambiguous"), typed.c_str());
    return Formatted(Translated("unrecognized option '%s'"), typed.c_str());
  }
  // A known option only fails this way when a value was attached to one that takes none.
  if (IsKnownVal(optopt) && std::string_view(argv[optind - 1]).starts_with("--"))
    return Formatted(Translated("option '%s' takes no value"), LongName(argv[optind - 1]).c_str());
  return Formatted(Translated("invalid option '-%c'"), static_cast<char>(optopt));
}

std::string MissingValue(char** argv) {
  // A value can only be missing at the end of the line, so the last argument is the option.
  const std::string_view last = argv[optind - 1];
  const std::string name =
      last.starts_with("--") ? LongName(last.data()) : std::string("-") + static_cast<char>(optopt);
  return Formatted(Translated("option '%s' requires a value"), name.c_str());
}

// --column=N (from 1) or --column=NAME: a name is anything but digits alone.
bool ParseColumn(const char* arg, ColumnChoice& table, std::string& problem) {
  const std::string_view text = arg;
  table.name.clear();
  table.number = 0;
  if (text.empty()) {
    problem = Translated("option '--column' needs a field number from 1 or a header's name");
    return false;
  }
  if (text.find_first_not_of("0123456789") != std::string_view::npos) {
    table.name = text;
    return true;
  }
  char* end = nullptr;
  errno = 0;
  const unsigned long n = std::strtoul(arg, &end, 10);
  if (errno != 0 || n < 1 || n > UINT32_MAX) {
    problem = Translated("option '--column' needs a field number from 1 or a header's name");
    return false;
  }
  table.number = static_cast<uint32_t>(n);
  return true;
}

// One ASCII character; a quote or a line end would cut nothing a quote rule could read back.
bool ParseFieldSeparator(const char* arg, ColumnChoice& table, std::string& problem) {
  const std::string_view text = arg;
  char separator = 0;
  if (text == "\\t")
    separator = '\t';
  else if (text.size() == 1)
    separator = text[0];
  if (separator == 0 || static_cast<unsigned char>(separator) >= 0x80 || separator == '"' ||
      separator == '\r' || separator == '\n') {
    problem = Translated(
        "option '--field-sep' needs one ASCII character other than a quote or a line end");
    return false;
  }
  table.field_separator = separator;
  return true;
}

// The options of tables need --column, and --column needs what it reads: rows of lines, and a
// mode that compares items.
bool CheckTableOptions(const Mode& mode, bool column_given, const char* table_option,
                       const ColumnChoice& table, const CliOptions& options, std::string& problem) {
  if (!column_given) {
    if (table_option == nullptr) return true;
    problem = Formatted(Translated("'%s' needs '--column'"), table_option);
    return false;
  }
  if (!table.name.empty() && !table.header) {
    problem = Translated("a column named by its header needs '--header'");
    return false;
  }
  if (mode.operation == Operation::ModeMerge ||
      (table.whole_rows && mode.operation == Operation::ModeCountUnique)) {
    problem = Formatted(Translated("'%s' cannot be used with '%s'"),
                        table.whole_rows ? "--rows" : "--column", mode.name);
    return false;
  }
  if (options.read_separator_given || options.whole_separator) {
    problem = Translated("a table's rows end at line ends: '--column' takes no read separator");
    return false;
  }
  return true;
}

}  // namespace

CommandLine ParseCommandLine(int argc, char** argv, CliOptions& options, std::string& problem) {
  std::vector<std::string> positional;
  // -e names the encoding of both lists; the option of one list wins over it wherever it stands.
  EncodingChoice both;
  bool first_named = false, second_named = false;
  const char* order_name = "table";
  ColumnChoice table;
  bool column_given = false;
  const char* table_option = nullptr;  // an option of tables, which needs --column
  auto parse_encoding = [&](EncodingChoice& into) {
    if (ParseEncodingName(optarg, into)) return true;
    problem = Formatted(Translated("unknown encoding '%s' (known: %s)"), optarg, kEncodingNames);
    return false;
  };
  opterr = 0;
  optind = 0;  // also resets getopt's state, should it be called twice
  for (;;) {
    const int code = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr);
    if (code == -1) break;
    switch (code) {
      case 1:
        positional.emplace_back(optarg);
        break;
      case kReadSep:
        options.read_separator = TextFromUtf8(optarg);
        options.read_separator_given = true;
        break;
      case kResultSep:
        options.result_separator = TextFromUtf8(optarg);
        options.result_separator_given = true;
        break;
      case 'w':
        options.whole_separator = true;
        break;
      case 'i':
        options.ignore_case = true;
        break;
      case kTrim:
        options.trim = true;
        break;
      case kFoldYo:
        options.fold_yo = true;
        break;
      case 'e':
        if (!parse_encoding(both)) return CommandLine::UsageError;
        break;
      case kEncodingFirst:
        if (!parse_encoding(options.first_encoding)) return CommandLine::UsageError;
        first_named = true;
        break;
      case kEncodingSecond:
        if (!parse_encoding(options.second_encoding)) return CommandLine::UsageError;
        second_named = true;
        break;
      case 'o':
        options.output_path = optarg;
        if (options.output_path.empty()) {
          problem = Translated("option '--output' needs a file name");
          return CommandLine::UsageError;
        }
        break;
      case kThreads: {
        char* end = nullptr;
        errno = 0;
        const long n = std::strtol(optarg, &end, 10);
        if (errno != 0 || end == optarg || *end != '\0' || n < 1 || n > kMaxThreads) {
          problem =
              Formatted(Translated("option '--threads' needs a number from 1 to %ld"), kMaxThreads);
          return CommandLine::UsageError;
        }
        options.threads = static_cast<int>(n);
        break;
      }
      case kOrder: {
        const Order* order = nullptr;
        for (const Order& known : kOrders)
          if (std::string_view(optarg) == known.name) order = &known;
        if (order == nullptr) {
          problem = Formatted(Translated("unknown order '%s' (known: %s)"), optarg, kOrderNames);
          return CommandLine::UsageError;
        }
        options.order = order->order;
        order_name = order->name;
        break;
      }
      case kColumn:
        if (!ParseColumn(optarg, table, problem)) return CommandLine::UsageError;
        column_given = true;
        break;
      case kFieldSep:
        if (!ParseFieldSeparator(optarg, table, problem)) return CommandLine::UsageError;
        table_option = "--field-sep";
        break;
      case kHeader:
        table.header = true;
        table_option = "--header";
        break;
      case kRows:
        table.whole_rows = true;
        table_option = "--rows";
        break;
      case kNoBom:
        options.bom = false;
        break;
      case kPlain:
        options.plain = true;
        break;
      case 'q':
        options.quiet = true;
        break;
      case kProgress:
        options.bar = BarChoice::Always;
        break;
      case kNoProgress:
        options.bar = BarChoice::Never;
        break;
      case 'h':
        return CommandLine::Help;
      case kVersion:
        return CommandLine::Version;
      case ':':
        problem = MissingValue(argv);
        return CommandLine::UsageError;
      default:
        problem = BadOption(argv);
        return CommandLine::UsageError;
    }
  }
  for (int i = optind; i < argc; ++i) positional.emplace_back(argv[i]);  // after "--"
  if (!first_named) options.first_encoding = both;
  if (!second_named) options.second_encoding = both;

  // --plain only changes defaults: an explicit --result-sep is kept.
  if (options.plain) {
    options.bom = false;
    if (!options.result_separator_given) options.result_separator = u"\\n";
  }
  if (options.output_path == "-") options.output_path.clear();

  if (positional.empty()) {
    problem = Translated("no mode given");
    return CommandLine::UsageError;
  }
  const Mode* mode = nullptr;
  for (const Mode& known : kModes)
    if (positional[0] == known.name) mode = &known;
  if (mode == nullptr) {
    problem = Formatted(Translated("unknown mode '%s'"), positional[0].c_str());
    return CommandLine::UsageError;
  }
  options.operation = mode->operation;
  options.two_lists = UsesSecondSource(mode->operation);
  // Merge pairs the lines as they stand, which is also the order of first occurrence.
  if (mode->operation == Operation::ModeMerge && options.order != ItemOrder::OrderTable &&
      options.order != ItemOrder::OrderFirst) {
    problem = Formatted(Translated("'%s' keeps its lines in their order: '--order=%s' cannot be "
                                   "used with it"),
                        positional[0].c_str(), order_name);
    return CommandLine::UsageError;
  }
  if (options.order == ItemOrder::OrderCount && !HasCounts(mode->operation) &&
      mode->operation != Operation::ModeMerge) {
    problem = Formatted(Translated("'--order=count' needs a mode that counts, not '%s'"),
                        positional[0].c_str());
    return CommandLine::UsageError;
  }
  if (!CheckTableOptions(*mode, column_given, table_option, table, options, problem))
    return CommandLine::UsageError;
  if (column_given) options.column = table;
  if (positional.size() < 2) {
    problem = Translated("no list given");
    return CommandLine::UsageError;
  }
  if (options.two_lists && positional.size() < 3) {
    problem = Formatted(Translated("'%s' needs two lists"), positional[0].c_str());
    return CommandLine::UsageError;
  }
  if (positional.size() > 3) {
    problem = Translated("too many arguments");
    return CommandLine::UsageError;
  }
  // dedupe and count have always let a second list pass unread; a new mode of one list says so,
  // rather than leave a user to think the second was looked at.
  if (mode->operation == Operation::ModeDuplicates && positional.size() > 2) {
    problem = Formatted(Translated("'%s' takes one list only"), positional[0].c_str());
    return CommandLine::UsageError;
  }
  options.first = positional[1];
  if (positional.size() > 2) options.second = positional[2];
  if (options.two_lists && options.first == "-" && options.second == "-") {
    problem = Translated("standard input can be only one of the lists");
    return CommandLine::UsageError;
  }
  return CommandLine::Run;
}
