// Values that live beside the window from start-up to exit.
#pragma once

#include <cstdint>

#include "core/text.h"

// The clipboard texts kept by the paste buttons for the first and the second source.
extern Text ClipboardFirst;
extern Text ClipboardSecond;
// How often each paste button has been used; shown in its field's marker "<count>".
extern int32_t PasteCountFirst;
extern int32_t PasteCountSecond;

// Back to the values of a fresh start: empty texts, counters 0, and the engine's FoundCount 0.
void ResetProgramValues();
