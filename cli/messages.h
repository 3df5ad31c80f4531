// What listwise-cli tells its user, in the language of the user's locale. Its own texts are
// English in the source and go through gettext, so a Russian locale reads them in Russian and
// any other in English; the engine's Russian texts are the window's, which speaks Russian
// whatever the locale, so the CLI words input errors, notices and the count itself.
#pragma once

#include <string>
#include <vector>

#include "engine/run_request.h"
#include "engine/run_steps.h"

// Binds the catalogue installed beside the program; once, after setlocale.
void SetUpTranslations();

// The translation of an English message, or the message itself.
const char* Translated(const char* message) __attribute__((format_arg(1)));

// printf into a string, for translated formats.
std::string Formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The system's reason for an errno value, in the locale's language when the system has it.
std::string SystemReason(int error);

std::string InputErrorText(InputError error);
// Each notice of one source as a short phrase: "read as Windows-1251" and the like.
std::vector<std::string> NoticeTexts(const SourceNotices& notices);
// "Found N in M ms"
std::string CountText(const RunCount& count);
std::string OutOfMemoryText();
std::string NoTemporarySpaceText();
