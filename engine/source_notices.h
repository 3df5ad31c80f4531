// What the user is told about a source besides its items, in words: the notices' phrases and
// the sizes they name.
#pragma once

#include <cstdint>
#include <vector>

#include "core/text.h"
#include "engine/run_request.h"

// The notices of one source as short phrases, in the order they are told: "прочитан как
// Windows-1251", "не в UTF-8", "похож на двоичный: прочитано 12 КБ из 140 КБ".
std::vector<Text> SourceNoticePhrases(const SourceNotices& notices);
// A size as people read it: whole units of bytes (0), KB (1), MB, GB or TB (4), with a tenth
// below ten units; never rounded up, so that a part never reads as the whole.
struct ByteSize {
  uint64_t whole = 0;
  int tenth = 0;
  int unit = 0;
};
ByteSize SplitByteSize(uint64_t bytes);
// A size as the notices tell it: "5 байт", "1,5 КБ", "140 КБ", "2 ГБ", never rounded up;
// `after_of` gives the form that follows "из" ("из 1 байта", "из 3 байт").
Text ByteSizeText(uint64_t bytes, bool after_of = false);
// What the status line adds after the count: "; файл 1 прочитан как KOI8-R" and the like, file 1
// first; when both lists have notices, the shorter "; файлы: 1 Windows-1251, 2 CP866".
Text SourceNoticesText(const SourceNotices& first, const SourceNotices& second);
