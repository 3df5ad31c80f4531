#include "app/command_line.h"

#include <algorithm>

#include "core/utf8.h"

std::vector<Text> FieldArguments(int argc, char** argv) {
  std::vector<Text> texts;
  const int count = std::min(argc - 1, 2);
  for (int i = 1; i <= count; ++i) texts.push_back(TextFromUtf8(argv[i] ? argv[i] : ""));
  return texts;
}
