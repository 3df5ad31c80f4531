#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/utf8.h"

TEST(CommandLine, FirstTwoArgumentsGoToTheFields) {
  const struct {
    std::vector<std::string> args;  // without the program name
    std::vector<std::string> fields;
  } cases[] = {
      {{}, {}},
      {{"one.txt"}, {"one.txt"}},
      {{"one.txt", "two.txt"}, {"one.txt", "two.txt"}},
      {{"one.txt", "two.txt", "three.txt", "four"}, {"one.txt", "two.txt"}},
      {{"/tmp/Списки/первый.txt", ""}, {"/tmp/Списки/первый.txt", ""}},
      {{"no such file", "<1>"}, {"no such file", "<1>"}},  // taken as they are, untested
  };
  for (const auto& c : cases) {
    std::vector<std::string> storage = {"listwise"};
    storage.insert(storage.end(), c.args.begin(), c.args.end());
    std::vector<char*> argv;
    for (std::string& s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);
    std::vector<std::string> fields;
    for (const Text& t : FieldArguments(static_cast<int>(storage.size()), argv.data())) {
      fields.push_back(Utf8FromText(t));
    }
    EXPECT_EQ(fields, c.fields) << c.args.size() << " arguments";
  }
}
