#include "engine/separators.h"

#include <algorithm>

#include "core/utf8.h"

namespace {

bool IsHigh(char16_t u) {
  return u >= 0xD800 && u <= 0xDBFF;
}
bool IsLow(char16_t u) {
  return u >= 0xDC00 && u <= 0xDFFF;
}
bool IsContinuation(unsigned char b) {
  return (b & 0xC0) == 0x80;
}

// The unit of the 2- or 3-byte character at b[0, n) (a lone surrogate counts), or 0 when none
// starts there: a continuation byte, an overlong form, a 4-byte character, a cut one.
char16_t WideUnitAt(const unsigned char* b, size_t n) {
  if (b[0] >= 0xC2 && b[0] <= 0xDF) {
    if (n < 2 || !IsContinuation(b[1])) return 0;
    return static_cast<char16_t>((b[0] & 0x1F) << 6 | (b[1] & 0x3F));
  }
  if (b[0] >= 0xE0 && b[0] <= 0xEF) {
    if (n < 3 || !IsContinuation(b[1]) || !IsContinuation(b[2])) return 0;
    const char16_t unit =
        static_cast<char16_t>((b[0] & 0x0F) << 12 | (b[1] & 0x3F) << 6 | (b[2] & 0x3F));
    return unit >= 0x800 ? unit : 0;
  }
  return 0;
}

bool IsWideMember(const ByteSeparator& separator, char16_t unit) {
  return unit != 0 && (separator.wide_members[unit >> 6] >> (unit & 63) & 1) != 0;
}

// The length of the member that starts at b[0, n), or 0.
size_t MemberLength(const ByteSeparator& separator, const unsigned char* b, size_t n) {
  if (b[0] < 0x80) return separator.starts_member[b[0]] ? 1 : 0;
  if (!separator.starts_member[b[0]]) return 0;
  return IsWideMember(separator, WideUnitAt(b, n)) ? (b[0] < 0xE0 ? 2 : 3) : 0;
}

void PutUnit(uint32_t u, std::string& out) {
  unsigned char bytes[4];
  out.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(PutUtf8(u, bytes) - bytes));
}

// Writes the bytes with each 4-byte character as its two halves, three bytes each, and notes
// where each pair starts in what it writes.
void WriteAsHalves(std::string_view in, std::string& out, std::vector<size_t>& pair_starts) {
  out.clear();
  pair_starts.clear();
  const auto* b = reinterpret_cast<const unsigned char*>(in.data());
  const size_t n = in.size();
  for (size_t i = 0; i < n;) {
    uint32_t cp;
    if (b[i] >= 0xF0 && WellFormedLength(b + i, n - i) == 4) {
      DecodeUtf8At(b + i, cp);
      pair_starts.push_back(out.size());
      PutUnit(0xD800 + ((cp - 0x10000) >> 10), out);
      PutUnit(0xDC00 + ((cp - 0x10000) & 0x3FF), out);
      i += 4;
      continue;
    }
    out.push_back(static_cast<char>(b[i++]));
  }
}

// Writes the bytes with each high half directly followed by a low one joined into their 4-byte
// character: the form the items of every other separator have.
void JoinHalves(std::string_view in, std::string& out) {
  out.clear();
  const auto* b = reinterpret_cast<const unsigned char*>(in.data());
  const size_t n = in.size();
  for (size_t i = 0; i < n;) {
    if (i + 6 <= n && IsHighHalfAt(b + i) && IsLowHalfAt(b + i + 3)) {
      unsigned char joined[4];
      PutJoinedHalves(b + i, b + i + 3, joined);
      out.append(reinterpret_cast<const char*>(joined), 4);
      i += 6;
      continue;
    }
    out.push_back(static_cast<char>(b[i++]));
  }
}

// The next occurrence of the separator in `text` from `from` on, with its length in `length`;
// npos when there is none. Plain, for separators whose speed does not matter.
size_t NextOccurrence(const ByteSeparator& separator, std::string_view text, size_t from,
                      size_t& length) {
  if (separator.whole) {
    length = separator.bytes.size();
    return text.find(separator.bytes, from);
  }
  const auto* b = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t i = from; i < text.size(); ++i) {
    length = MemberLength(separator, b + i, text.size() - i);
    if (length > 0) return i;
  }
  return std::string_view::npos;
}

// The offset in the source of an offset in its copy with pairs as halves: each pair that starts
// before it is two bytes longer in the copy.
size_t SourceOffset(size_t at, const std::vector<size_t>& pair_starts) {
  const size_t pairs = static_cast<size_t>(
      std::lower_bound(pair_starts.begin(), pair_starts.end(), at) - pair_starts.begin());
  return at - 2 * pairs;
}

}  // namespace

bool MakeByteSeparator(TextView separator, bool whole, ByteSeparator& out) {
  if (separator.empty()) return false;
  out = ByteSeparator();
  out.whole = whole;
  out.has_halves = std::any_of(separator.begin(), separator.end(),
                               [](char16_t u) { return IsHigh(u) || IsLow(u); });
  if (whole) {
    out.bytes = Utf8FromText(separator, LoneHighSurrogate::ThreeBytes);
    // Only a low half at the start or a high half at the end can meet the half of a pair.
    out.splits_pairs = IsLow(separator.front()) || IsHigh(separator.back());
    if (out.splits_pairs) {
      std::vector<size_t> unused;
      const std::string joined = out.bytes;
      WriteAsHalves(joined, out.bytes, unused);
    }
    return true;
  }
  out.ascii = std::all_of(separator.begin(), separator.end(), [](char16_t u) { return u < 0x80; });
  if (!out.ascii) out.wide_members.assign(65536 / 64, 0);
  for (char16_t unit : separator) {
    unsigned char start = static_cast<unsigned char>(unit);
    if (unit >= 0x80) {
      out.wide_members[unit >> 6] |= uint64_t{1} << (unit & 63);
      start = static_cast<unsigned char>(unit < 0x800 ? 0xC0 | (unit >> 6) : 0xE0 | (unit >> 12));
      if (IsHigh(unit) || IsLow(unit)) out.splits_pairs = true;
    }
    if (!out.starts_member[start] && out.few_count >= 0) {
      if (out.few_count < 4)
        out.few[out.few_count++] = start;
      else
        out.few_count = -1;  // more than four: the table alone
    }
    out.starts_member[start] = true;
  }
  if (out.few_count < 0) out.few_count = 0;
  return true;
}

size_t ByteItemCursor::WideMemberLength(size_t at) const {
  return MemberLength(separator_, reinterpret_cast<const unsigned char*>(run_.data()) + at,
                      run_.size() - at);
}

void ByteItemCursor::StartAsHalves() {
  WriteAsHalves(run_, halves_, pair_starts_);
}

bool ByteItemCursor::NextOfHalves(std::string_view& item) {
  const std::string_view text = halves_;
  size_t length = 0;
  size_t found = at_;
  for (;;) {
    found = NextOccurrence(separator_, text, found, length);
    // The set rule drops an empty piece before a separator; the whole rule keeps every piece.
    if (found == std::string_view::npos || separator_.whole || found > at_) break;
    at_ = found += length;
  }
  if (found == std::string_view::npos) {
    done_ = true;
    if (!last_) return false;
    found = text.size();
  }
  const size_t from = std::min(at_, text.size());
  JoinHalves(text.substr(from, found - from), item_);
  item_offset_ = SourceOffset(from, pair_starts_);
  at_ = found + length;
  item = item_;
  return true;
}

size_t EndOfLastSeparator(const char* bytes, size_t n, const ByteSeparator& separator) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes);
  if (separator.splits_pairs) {
    // Only ends between two characters of the source count, not between the halves of a pair.
    std::string halves;
    std::vector<size_t> pair_starts;
    WriteAsHalves(std::string_view(bytes, n), halves, pair_starts);
    size_t end = 0;
    size_t length = 0;
    for (size_t found = NextOccurrence(separator, halves, 0, length);
         found != std::string_view::npos;
         found = NextOccurrence(separator, halves, found + length, length)) {
      const size_t at = found + length;
      const auto pair = std::lower_bound(pair_starts.begin(), pair_starts.end(), at);
      if (pair == pair_starts.begin() || *(pair - 1) + 3 != at) end = SourceOffset(at, pair_starts);
    }
    return end;
  }
  if (separator.whole) {
    // Occurrences do not overlap and are found from the left, so only a scan from the start
    // knows which one is last.
    const std::string_view text(bytes, n);
    const std::string_view sep = separator.bytes;
    size_t end = 0;
    for (size_t found = text.find(sep); found != std::string_view::npos;
         found = text.find(sep, end))
      end = found + sep.size();
    return end;
  }
  if (separator.ascii) {
    for (size_t i = n; i > 0; --i)
      if (separator.starts_member[b[i - 1]]) return i;
    return 0;
  }
  // From the end, a character at a time: a member ends where a character ends.
  for (size_t i = n; i > 0;) {
    size_t start = i - 1;  // of the character that ends at i, when it is short enough to be one
    while (start > 0 && i - start < 3 && IsContinuation(b[start])) --start;
    if (MemberLength(separator, b + start, n - start) == i - start) return i;
    i = start;
  }
  return 0;
}

std::vector<size_t> CutPoints(std::string_view run, int parts, const ByteSeparator& separator) {
  std::vector<size_t> cuts;
  const size_t step = run.size() / static_cast<size_t>(parts);
  if (step == 0) return cuts;  // fewer bytes than pieces: not worth cutting
  if (!separator.whole || separator.splits_pairs) {
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
