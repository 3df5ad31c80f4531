// The desktop clipboard (the CLIPBOARD selection, not the primary one).
#pragma once

#include "core/text.h"

// The clipboard's text exactly as its owner gives it (no trimming, line ends kept); the empty
// text when it holds no text. Waits for the owner's answer while GTK keeps handling events.
Text ClipboardText();

// Hands the clipboard's content to the clipboard manager, so that text copied from the tool
// stays available after it has ended. Called once at shutdown.
void StoreClipboardOnExit();
