// The viewer's parameter string against a model of its word rules, and a round trip: words
// without blanks or quotes, joined by single blanks, split back into themselves.
#include <string>
#include <string_view>
#include <vector>

#include "desktop/viewer_launch.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n';
}

std::vector<std::string> ModelSplit(std::string_view text) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    if (IsBlank(text[i])) {
      ++i;
    } else if (text[i] == '"') {
      const size_t close = text.find('"', i + 1);
      const size_t end = close == std::string_view::npos ? text.size() : close;
      words.emplace_back(text.substr(i + 1, end - i - 1));
      i = close == std::string_view::npos ? text.size() : close + 1;
    } else {
      size_t end = i;
      while (end < text.size() && !IsBlank(text[end])) ++end;
      words.emplace_back(text.substr(i, end - i));
      i = end;
    }
  }
  return words;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> words = SplitParameters(text);
  FUZZ_CHECK(words == ModelSplit(text));

  std::string joined;
  std::vector<std::string> plain;
  for (const std::string& word : words) {
    if (word.empty() || word.find_first_of(" \t\n\"") != std::string::npos) continue;
    joined += word + " ";
    plain.push_back(word);
  }
  FUZZ_CHECK(SplitParameters(joined) == plain);
  return 0;
}
