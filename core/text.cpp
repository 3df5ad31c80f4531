#include "core/text.h"

#include <array>
#include <cwctype>
#include <mutex>

int32_t FirstUnit(TextView text) {
  return text.empty() ? 0 : text.front();
}

Text TextReplaceAll(TextView text, TextView pattern, TextView replacement) {
  if (pattern.empty()) return Text(text);
  size_t occurrences = 0;
  for (size_t at = text.find(pattern); at != TextView::npos;
       at = text.find(pattern, at + pattern.size()))
    ++occurrences;
  if (occurrences == 0) return Text(text);
  Text result;
  result.reserve(text.size() + occurrences * replacement.size() - occurrences * pattern.size());
  size_t from = 0;
  for (size_t at = text.find(pattern); at != TextView::npos; at = text.find(pattern, from)) {
    result.append(text.substr(from, at - from));
    result.append(replacement);
    from = at + pattern.size();
  }
  result.append(text.substr(from));
  return result;
}

namespace {

// towlower is a locale lookup per call; the table of all 65536 answers is built once per
// process on first use, after start-up has fixed the locale for good.
const std::array<char16_t, 65536>& LowerTable() {
  static std::array<char16_t, 65536> table;
  static std::once_flag once;
  std::call_once(once, [] {
    for (uint32_t unit = 0; unit < 65536; ++unit)
      table[unit] = static_cast<char16_t>(std::towlower(static_cast<wint_t>(unit)) & 0xFFFF);
  });
  return table;
}

}  // namespace

char16_t LowerUnit(char16_t unit) {
  return LowerTable()[unit];
}

const char16_t* LowerUnitTable() {
  return LowerTable().data();
}

Text TextFromInteger(int64_t value) {
  // Work on the unsigned magnitude so that the most negative value prints all its digits.
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  char16_t digits[24];
  int at = 24;
  do {
    digits[--at] = static_cast<char16_t>(u'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) digits[--at] = u'-';
  return Text(digits + at, digits + 24);
}

bool TextEquals(TextView a, TextView b) {
  return a == b;
}
