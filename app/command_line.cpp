#include "app/command_line.h"

#include <algorithm>
#include <string_view>

#include "core/licence_notice.h"
#include "core/utf8.h"

#ifndef LISTWISE_VERSION
#error "LISTWISE_VERSION comes from the build"
#endif

StartRequest RequestedAtStart(int argc, char** argv) {
  for (int i = 1; i < argc && argv[i]; ++i) {
    const std::string_view argument = argv[i];
    // After "--" every argument is a name, even one spelt like an option.
    if (argument == "--") break;
    if (argument == "--version") return StartRequest::PrintVersion;
    if (argument == "--help") return StartRequest::PrintHelp;
  }
  return StartRequest::OpenWindow;
}

const char* VersionText() {
  return "listwise " LISTWISE_VERSION "\n" LISTWISE_LICENCE_NOTICE;
}

const char* UsageText() {
  return "usage: listwise [FIRST [SECOND]]\n"
         "\n"
         "Opens the comparison window. FIRST and SECOND, the paths of the first and the second\n"
         "list (text files, one item per line by default), go into its two fields; both can\n"
         "also be typed, chosen, dropped or pasted there. \"Старт\" writes the result to\n"
         "/tmp/~ListwiseData.txt and opens it in the desktop's viewer.\n"
         "\n"
         "  --help       show this text\n"
         "  --version    show the version\n"
         "GTK's own options, such as --display=DISPLAY, are taken as well.\n"
         "\n"
         "listwise-cli runs the same comparisons without a window (listwise-cli --help).\n";
}

std::vector<Text> FieldArguments(int argc, char** argv) {
  std::vector<Text> texts;
  const int count = std::min(argc - 1, 2);
  for (int i = 1; i <= count; ++i) texts.push_back(TextFromUtf8(argv[i] ? argv[i] : ""));
  return texts;
}
