// Starting an outside program detached from the tool: the desktop's viewer for the result file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/text.h"

// Starts `program` with the words of `parameters` as its arguments, in `working_directory` when
// that is not empty (a directory that cannot be entered is ignored). The program is started by a
// double fork, so the tool never waits for it and leaves no defunct children. Returns true once
// the started process exists; false when the program was not found or the start itself failed.
// Whether the program then runs successfully is not observed.
bool LaunchProgram(TextView program, TextView parameters, TextView working_directory);

// True for a file whose status can be read (following links) that is no directory, holds at
// least one byte and may be executed by the calling user.
bool IsRunnableFile(const std::string& path);

// The file that LaunchProgram would start for `name`, with `search_path` as the value of PATH
// (nullptr when PATH is unset); the empty string when nothing runnable is found. A name with a
// slash is tried as it stands first; a name beginning with "/" or "./" is tried only so.
std::string LocateProgram(const std::string& name, const char* search_path);

// Cuts a parameter string into argument words. Blanks (space, tab, line feed) separate words; a
// word that begins with a double quote runs to the next double quote (or the end) and may hold
// blanks; elsewhere a double quote is an ordinary character. No other escapes exist.
std::vector<std::string> SplitParameters(std::string_view text);
