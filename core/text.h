// The program's text type: a string of 16-bit UTF-16 code units that never holds the unit 0.
// Positions handed to callers are 1-based, 0 meaning "not found".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

using Text = std::u16string;
using TextView = std::u16string_view;

int32_t TextLength(TextView text);
// The first unit as a number, 0 for the empty text.
int32_t FirstUnit(TextView text);
// The first n units; n below 0 counts as 0, n above the length as the length.
Text TextLeft(TextView text, int64_t n);
// From the 0-based unit offset onward, n units (fewer when the text ends first);
// n == -1 takes the rest, n below -1 gives "".
Text TextSlice(TextView text, int64_t offset, int64_t n);
// 1-based position of the first occurrence; 0 when there is none or either text is empty.
int32_t TextFind(TextView text, TextView pattern);
// Every occurrence replaced, scanning left to right without overlap.
Text TextReplaceAll(TextView text, TextView pattern, TextView replacement);
// Each unit mapped on its own by towlower under the process's LC_CTYPE; the length never changes.
Text TextLower(TextView text);
void TextLowerInto(TextView text, char16_t* out);
char16_t LowerUnit(char16_t unit);
// LowerUnit for all 65536 units, for loops that fold many.
const char16_t* LowerUnitTable();
Text TextFromInteger(int64_t value);
bool TextEquals(TextView a, TextView b);

// Convenience for literals in code and tests: ASCII/UTF-8 source text to Text.
Text TextFromAscii(std::string_view ascii);
