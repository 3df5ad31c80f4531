// The separator escapes against the four replacements written out plainly, on text made
// mostly of backslashes and escape letters, where the order of the passes shows: a backslash
// that one pass leaves in front of a letter may start an escape of a later pass.
#include "core/text.h"
#include "engine/run_steps.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// Applies the replacements one after the other, as the typed separator is expanded.
Text ModelExpand(Text text) {
  const struct {
    char16_t letter;
    char16_t unit;
  } escapes[] = {{u'r', 13}, {u'n', 10}, {u't', 9}, {u'f', 12}};
  for (const auto& escape : escapes) {
    Text out;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == u'\\' && i + 1 < text.size() && text[i + 1] == escape.letter) {
        out.push_back(escape.unit);
        ++i;
      } else {
        out.push_back(text[i]);
      }
    }
    text = out;
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Mostly backslashes and escape letters, so that runs like \\\rn and \\n are common.
  static constexpr char16_t kAlphabet[] = u"\\\\\\rntfx;";
  Text text;
  for (size_t i = 0; i < size; ++i) {
    text.push_back(data[i] < 0xC0 ? kAlphabet[data[i] % 9] : UnitFromByte(data[i]));
  }
  const Text expanded = ExpandSeparatorEscapes(text);
  FUZZ_CHECK(expanded == ModelExpand(text));
  FUZZ_CHECK(expanded.size() <= text.size());
  return 0;
}
