// The text a source's bytes read as in the format judged for them, written out plainly from the
// rules of each format, for checking what the reading makes of them.
#pragma once

#include <string_view>

#include "core/source_format.h"
#include "core/text.h"

// A text without a mark ends at its first zero byte, but in UTF-16. In UTF-8 with lines in a
// code page, each line (with its line end) is UTF-8 when it is well-formed and in the code page
// when not; a longer piece than the reading takes at once steps back before a character it
// would cut.
Text ModelSourceText(std::string_view bytes, const SourceFormat& format);
