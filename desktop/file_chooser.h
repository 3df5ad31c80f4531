// The open-file chooser of the open buttons, and the working directory it starts in.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/text.h"

// One file filter of the chooser: the name shown in its filter box and its glob patterns.
struct FileFilter {
  std::string name;
  std::vector<std::string> patterns;
};

// Reads a pattern list of the form name|patterns|name|patterns..., where ";" separates the
// patterns of one filter. Names and patterns are taken unchanged (no trimming); a pattern "*.*"
// becomes "*" so that names without a dot are listed too; a final name without a following "|"
// makes no filter. *selected receives the position of the filter numbered pattern_index, -1
// when there is none.
std::vector<FileFilter> ParsePatternList(std::string_view list, int pattern_index, int* selected);

// Shows a modal open-file chooser without a parent window and returns the chosen file's full
// path, or the empty text when the user cancels or closes it. An initial path ending with "/"
// is the folder to start in; any other non-empty initial path is the file to preselect.
Text ChooseFileToOpen(TextView title, TextView initial_path, TextView pattern_list,
                      int pattern_index);

// The process's working directory, ending with "/"; the empty text when it cannot be read.
Text CurrentDirectoryPath();
