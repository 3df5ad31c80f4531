// The program's text type: a string of 16-bit UTF-16 code units that never holds the unit 0. The
// window, the command line and the messages speak it; the engine works on UTF-8 bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

using Text = std::u16string;
using TextView = std::u16string_view;

// The first unit as a number, 0 for the empty text.
int32_t FirstUnit(TextView text);
// Every occurrence replaced, scanning left to right without overlap.
Text TextReplaceAll(TextView text, TextView pattern, TextView replacement);
// Each unit mapped on its own by towlower under the process's LC_CTYPE, the low 16 bits kept.
char16_t LowerUnit(char16_t unit);
// LowerUnit for all 65536 units, for loops that fold many.
const char16_t* LowerUnitTable();
Text TextFromInteger(int64_t value);
bool TextEquals(TextView a, TextView b);
