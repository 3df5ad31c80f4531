#include "engine/separators.h"

#include <algorithm>

bool MakeByteSeparator(TextView separator, bool whole, ByteSeparator& out) {
  if (separator.empty()) return false;
  out.whole = whole;
  out.bytes.clear();
  out.few_count = 0;
  std::fill(std::begin(out.is_separator), std::end(out.is_separator), false);
  for (char16_t unit : separator) {
    if (unit == 0 || unit >= 0x80) return false;
    out.bytes.push_back(static_cast<char>(unit));
    if (!out.is_separator[unit] && out.few_count >= 0) {
      if (out.few_count < 4)
        out.few[out.few_count++] = static_cast<unsigned char>(unit);
      else
        out.few_count = -1;  // more than four: the table alone
    }
    out.is_separator[unit] = true;
  }
  if (out.few_count < 0) out.few_count = 0;
  return true;
}

size_t EndOfLastSeparator(const char* bytes, size_t n, const ByteSeparator& separator) {
  if (!separator.whole) {
    for (size_t i = n; i > 0; --i)
      if (separator.is_separator[static_cast<unsigned char>(bytes[i - 1])]) return i;
    return 0;
  }
  // Occurrences do not overlap and are found from the left, so only a scan from the start knows
  // which one is last.
  const std::string_view text(bytes, n);
  const std::string_view sep = separator.bytes;
  size_t end = 0;
  for (size_t found = text.find(sep); found != std::string_view::npos; found = text.find(sep, end))
    end = found + sep.size();
  return end;
}

std::vector<size_t> CutPoints(std::string_view run, int parts, const ByteSeparator& separator) {
  std::vector<size_t> cuts;
  const size_t step = run.size() / static_cast<size_t>(parts);
  if (!separator.whole) {
    for (int k = 1; k < parts; ++k) {
      const size_t cut = EndOfLastSeparator(run.data(), step * static_cast<size_t>(k), separator);
      if (cut > (cuts.empty() ? 0 : cuts.back())) cuts.push_back(cut);
    }
    return cuts;
  }
  // A whole separator is found from the left only, as occurrences may overlap: one scan.
  const std::string_view sep = separator.bytes;
  size_t end = 0;  // of the last occurrence so far
  size_t target = step;
  for (size_t found = run.find(sep);
       found != std::string_view::npos && cuts.size() + 1 < static_cast<size_t>(parts);
       found = run.find(sep, end)) {
    if (found + sep.size() > target && end > (cuts.empty() ? 0 : cuts.back())) {
      cuts.push_back(end);
      while (target < found + sep.size()) target += step;
    }
    end = found + sep.size();
  }
  return cuts;
}
