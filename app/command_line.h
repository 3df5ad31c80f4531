// How the arguments reach the program: --version and --help are answered before GTK starts;
// everything else goes to GTK and, once it has taken its own options, to the two input fields.
#pragma once

#include <vector>

#include "core/text.h"

enum class StartRequest {
  OpenWindow,
  PrintVersion,
  PrintHelp,
};

// What the arguments (argv[0] being the program) ask for. Only an argument that is exactly
// "--version" or "--help", before any "--", asks for text; the first of them wins. Every other
// argument, "-x" and "--foo" among them, is left to GTK and the fields.
StartRequest RequestedAtStart(int argc, char** argv);

// "listwise 1.0.0" with the copyright and licence under it, and the usage, each ending with a
// line end.
const char* VersionText();
const char* UsageText();

// The texts for FieldFirst and FieldSecond from argv (argv[0] being the program): none, one or
// two, in order; further arguments are ignored. Arguments are read as UTF-8 and kept as they
// are, without any test: whether they name files is found out when a run starts.
std::vector<Text> FieldArguments(int argc, char** argv);
