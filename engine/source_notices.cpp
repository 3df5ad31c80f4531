#include "engine/source_notices.h"

#include "core/utf8.h"

namespace {

// "1 байт", "2 байта", "5 байт"; after "из", "1 байта" and "2 байт".
Text ByteCountText(uint64_t bytes, bool after_of) {
  const uint64_t last = bytes % 10, tens = bytes % 100;
  const bool one = last == 1 && tens != 11;
  const bool few = last >= 2 && last <= 4 && (tens < 12 || tens > 14);
  const char16_t* word = after_of ? (one ? u" байта" : u" байт") : (few ? u" байта" : u" байт");
  return TextFromInteger(static_cast<int64_t>(bytes)) + word;
}

}  // namespace

ByteSize SplitByteSize(uint64_t bytes) {
  ByteSize size;
  if (bytes < 1024) {
    size.whole = bytes;
    return size;
  }
  uint64_t scale = 1024;
  size.unit = 1;
  while (size.unit < 4 && bytes / scale >= 1024) {
    scale *= 1024;
    ++size.unit;
  }
  // Tenths below ten units, whole units above; never rounded up, so that a part never reads as
  // the whole.
  const uint64_t tenths = bytes / scale * 10 + bytes % scale * 10 / scale;
  size.whole = tenths / 10;
  size.tenth = tenths < 100 ? static_cast<int>(tenths % 10) : 0;
  return size;
}

Text ByteSizeText(uint64_t bytes, bool after_of) {
  const ByteSize size = SplitByteSize(bytes);
  if (size.unit == 0) return ByteCountText(bytes, after_of);
  const char16_t* units[] = {u"", u" КБ", u" МБ", u" ГБ", u" ТБ"};
  Text text = TextFromInteger(static_cast<int64_t>(size.whole));
  if (size.tenth != 0) text += u"," + TextFromInteger(size.tenth);
  return text + units[size.unit];
}

namespace {

// What the reader of a binary file needs to hear: that it is one, and how little of it the
// result stands for.
Text ZeroEndPhrase(const SourceNotices& notices) {
  Text read = ByteSizeText(notices.read_bytes);
  if (notices.size == 0) return u"похож на двоичный: прочитано " + read + u" до нулевого байта";
  Text size = ByteSizeText(notices.size, true);
  if (read == ByteSizeText(notices.size) && notices.read_bytes != notices.size) {
    read = ByteCountText(notices.read_bytes, false);
    size = ByteCountText(notices.size, true);
  }
  return u"похож на двоичный: прочитано " + read + u" из " + size;
}

}  // namespace

std::vector<Text> SourceNoticePhrases(const SourceNotices& notices) {
  std::vector<Text> phrases;
  if (notices.assumed.has_value())
    phrases.push_back(u"прочитан как " + TextFromUtf8(SourceFormatName(*notices.assumed)));
  if (notices.not_utf8) phrases.push_back(u"не в UTF-8");
  if (notices.ended_at_zero) phrases.push_back(ZeroEndPhrase(notices));
  return phrases;
}

Text SourceNoticesText(const SourceNotices& first, const SourceNotices& second) {
  const std::vector<Text> phrases[2] = {SourceNoticePhrases(first), SourceNoticePhrases(second)};
  Text text;
  if (phrases[0].empty() || phrases[1].empty()) {
    for (int k = 0; k < 2; ++k)
      for (const Text& phrase : phrases[k])
        text += u"; файл " + TextFromInteger(k + 1) + u" " + phrase;
    return text;
  }
  // Both lists have something to tell: the long form would not fit the status line, and its
  // ellipsis would take the middle, so each list's notices shrink to the essential words.
  static constexpr TextView kReadAs = u"прочитан как ";
  static constexpr TextView kLooksBinary = u"похож на двоичный: прочитано ";
  text = u"; файлы: ";
  for (int k = 0; k < 2; ++k) {
    if (k > 0) text += u", ";
    text += TextFromInteger(k + 1);
    for (size_t i = 0; i < phrases[k].size(); ++i) {
      TextView phrase = phrases[k][i];
      if (phrase.starts_with(kReadAs)) phrase.remove_prefix(kReadAs.size());
      text += i == 0 ? u" " : u" и ";
      if (phrase.starts_with(kLooksBinary)) {
        phrase.remove_prefix(kLooksBinary.size());
        text += u"двоичный: ";
      }
      text += phrase;
    }
  }
  return text;
}
