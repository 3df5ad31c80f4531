// The chooser's pattern list against a model built from the fields between the "|"
// characters: name, patterns, name, patterns, and so on.
#include <string>
#include <string_view>
#include <vector>

#include "desktop/file_chooser.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

std::vector<std::string> Cut(std::string_view text, char at) {
  std::vector<std::string> pieces(1);
  for (char c : text) {
    if (c == at)
      pieces.emplace_back();
    else
      pieces.back().push_back(c);
  }
  return pieces;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int pattern_index = static_cast<int8_t>(data[0]) % 8;
  const std::string list(reinterpret_cast<const char*>(data + 1), size - 1);
  int selected = -2;
  const std::vector<FileFilter> filters = ParsePatternList(list, pattern_index, &selected);

  // A name makes a filter only when a "|" follows it; its patterns field may be missing.
  const std::vector<std::string> fields = Cut(list, '|');
  const size_t expected_count = list.empty() ? 0 : fields.size() / 2;
  FUZZ_CHECK(filters.size() == expected_count);
  for (size_t k = 0; k < filters.size(); ++k) {
    FUZZ_CHECK(filters[k].name == fields[2 * k]);
    std::vector<std::string> patterns;
    if (2 * k + 1 < fields.size()) patterns = Cut(fields[2 * k + 1], ';');
    for (std::string& pattern : patterns) {
      if (pattern == "*.*") pattern = "*";
    }
    FUZZ_CHECK(filters[k].patterns == patterns);
  }
  const bool index_names_a_filter =
      pattern_index >= 0 && pattern_index < static_cast<int>(filters.size());
  FUZZ_CHECK(selected == (index_names_a_filter ? pattern_index : -1));
  return 0;
}
