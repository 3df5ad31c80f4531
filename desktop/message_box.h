// The modal message box through which the tool tells the user about an error.
#pragma once

#include "core/text.h"

// Bits of the `kind` of a message box. The icon: information wins over warning, warning over
// error; none of them gives a box without an icon. The buttons: Yes/No wins over
// Yes/No/Cancel; neither gives a single OK button.
inline constexpr int kMessageYesNo = 1;
inline constexpr int kMessageYesNoCancel = 2;
inline constexpr int kMessageInformation = 4;
inline constexpr int kMessageError = 8;
inline constexpr int kMessageWarning = 16;

// Shows a box without a parent window and returns when the user has closed it (a button,
// Escape or the window's close button alike) and the box is gone from the screen. The texts are
// shown exactly as given: percent signs in them are no format directives. A `detail`, when not
// empty, stands below the text, which is then shown as its heading.
void ShowMessage(TextView title, TextView text, int kind, TextView detail = {});
