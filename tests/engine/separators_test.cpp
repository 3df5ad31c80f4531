#include "engine/separators.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/utf8.h"

namespace {

// The rules of cutting a text into items, written as plainly as they read, over 16-bit units.
std::vector<Text> PlainItems(const Text& text, const Text& separator, bool whole) {
  std::vector<Text> items;
  if (whole) {
    size_t at = 0;
    for (size_t found; (found = text.find(separator, at)) != Text::npos;
         at = found + separator.size())
      items.push_back(text.substr(at, found - at));
    items.push_back(text.substr(at));
    return items;
  }
  Text piece;
  for (char16_t unit : text) {
    if (separator.find(unit) == Text::npos) {
      piece += unit;
    } else if (!piece.empty()) {
      items.push_back(piece);
      piece.clear();
    }
  }
  items.push_back(piece);
  return items;
}

std::string Bytes(TextView text) {
  return Utf8FromText(text, LoneHighSurrogate::ThreeBytes);
}

bool IsContinuation(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// Runs read in chunks that end after the last separator, each cut into pieces for threads,
// give the items of the whole text, in the bytes of the 16-bit items: whatever the separator,
// the rule and the cuts. Each item's offset grows and, when it points into the run, is its own.
TEST(Separators, CutLikeTheTextWhateverTheRunsAndPieces) {
  static const Text alphabet[] = {u"a",  u";",          u"\n",         u"ж",      u"→",
                                  u"中", u"\U0001F600", u"\U0001F601", u"\xD83D", u"\xDE00"};
  std::mt19937 rng(20261209);
  auto piece = [&] { return alphabet[rng() % std::size(alphabet)]; };
  for (int round = 0; round < 20000; ++round) {
    Text text, separator;
    for (int k = static_cast<int>(rng() % 60); k > 0; --k) text += piece();
    for (int k = 1 + static_cast<int>(rng() % 3); k > 0; --k) separator += piece();
    const bool whole = rng() % 2 == 0;
    ByteSeparator byte_separator;
    ASSERT_TRUE(MakeByteSeparator(separator, whole, byte_separator));
    const std::string bytes = Bytes(text);
    const std::string context = "text " + bytes + ", separator " + Bytes(separator) +
                                (whole ? " whole" : "") + ", round " + std::to_string(round);

    std::vector<std::string> expected;
    for (const Text& item : PlainItems(text, separator, whole)) expected.push_back(Bytes(item));
    std::vector<std::string> got;
    ByteItemCursor cursor(byte_separator);
    size_t run_start = 0;
    int64_t previous = -1;
    while (run_start <= bytes.size()) {
      const std::string_view rest = std::string_view(bytes).substr(run_start);
      size_t cut = EndOfLastSeparator(rest.data(), rng() % (rest.size() + 1), byte_separator);
      if (cut == 0) cut = EndOfLastSeparator(rest.data(), rest.size(), byte_separator);
      ASSERT_TRUE(cut == rest.size() || !IsContinuation(rest[cut])) << context;
      const bool last = cut == 0;
      const std::string_view run = last ? rest : rest.substr(0, cut);
      size_t from = 0;
      std::vector<size_t> ends = CutPoints(run, 1 + static_cast<int>(rng() % 4), byte_separator);
      ends.push_back(run.size());
      for (size_t k = 0; k < ends.size(); ++k) {
        ASSERT_TRUE(ends[k] > from || (k + 1 == ends.size() && ends[k] == from)) << context;
        ASSERT_TRUE(ends[k] == run.size() || !IsContinuation(run[ends[k]])) << context;
        cursor.Start(run.substr(from, ends[k] - from), last && k + 1 == ends.size());
        std::string_view item;
        while (cursor.Next(item)) {
          got.emplace_back(item);
          const size_t offset = run_start + from + cursor.OffsetOf(item);
          EXPECT_GT(static_cast<int64_t>(offset), previous) << context;
          previous = static_cast<int64_t>(offset);
          if (!byte_separator.splits_pairs) {
            EXPECT_EQ(bytes.substr(offset, item.size()), item) << context;
          }
        }
        from = ends[k];
      }
      if (last) break;
      run_start += cut;
    }
    ASSERT_EQ(got, expected) << context;
  }
}

// A chunk is cut only where the separator ends between two characters: an end between the
// halves of a pair is passed over for an earlier one.
TEST(Separators, RunsAreCutBetweenCharactersOnly) {
  const struct {
    const char16_t* text;
    const char16_t* separator;
    bool whole;
    size_t end;
  } cases[] = {
      {u"x;\U0001F600", u";\xD83D", false, 2},
      {u"x;\U0001F600", u";\xDE00", false, 6},
      {u"x;\U0001F600y", u"\xD83D", true, 0},
      {u"\U0001F600y\U0001F600", u"\xDE00y", true, 5},
      {u"aжbжc", u"ж", false, 6},
      {u"aжbж", u"жb", true, 4},
  };
  for (const auto& c : cases) {
    ByteSeparator separator;
    ASSERT_TRUE(MakeByteSeparator(c.separator, c.whole, separator));
    const std::string bytes = Bytes(c.text);
    EXPECT_EQ(EndOfLastSeparator(bytes.data(), bytes.size(), separator), c.end) << bytes;
  }
}

}  // namespace
