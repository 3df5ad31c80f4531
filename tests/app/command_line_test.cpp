#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/utf8.h"

namespace {

// An argument list as main receives it: the program's name first, a null pointer last.
struct Arguments {
  explicit Arguments(const std::vector<std::string>& args) : storage{"listwise"} {
    storage.insert(storage.end(), args.begin(), args.end());
    for (std::string& s : storage) pointers.push_back(s.data());
    pointers.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(storage.size()); }
  char** argv() { return pointers.data(); }

  std::vector<std::string> storage;
  std::vector<char*> pointers;
};

}  // namespace

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
    Arguments arguments(c.args);
    std::vector<std::string> fields;
    for (const Text& t : FieldArguments(arguments.argc(), arguments.argv())) {
      fields.push_back(Utf8FromText(t));
    }
    EXPECT_EQ(fields, c.fields) << c.args.size() << " arguments";
  }
}

// Only the exact long options ask for text; anything else keeps going to GTK and the fields.
TEST(CommandLine, VersionAndHelpAreAnsweredBeforeTheWindow) {
  const struct {
    std::vector<std::string> args;
    StartRequest request;
  } cases[] = {
      {{}, StartRequest::OpenWindow},
      {{"--version"}, StartRequest::PrintVersion},
      {{"--help"}, StartRequest::PrintHelp},
      {{"a.txt", "b.txt", "--help", "--version"}, StartRequest::PrintHelp},
      {{"--display=:0", "--version"}, StartRequest::PrintVersion},
      {{"--", "--help"}, StartRequest::OpenWindow},
      {{"-x", "-h", "-v", "--versions", "--help=1", "-help"}, StartRequest::OpenWindow},
  };
  for (const auto& c : cases) {
    Arguments arguments(c.args);
    EXPECT_EQ(RequestedAtStart(arguments.argc(), arguments.argv()), c.request)
        << testing::PrintToString(c.args);
  }
  const std::string version = VersionText();
  EXPECT_TRUE(version.starts_with("listwise " LISTWISE_VERSION "\nCopyright (C) ")) << version;
  EXPECT_NE(version.find("\nLicense MIT: "), std::string::npos) << version;
}
