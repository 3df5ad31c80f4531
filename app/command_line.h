// How the arguments left after GTK's own options reach the two input fields.
#pragma once

#include <vector>

#include "core/text.h"

// The texts for FieldFirst and FieldSecond from argv (argv[0] being the program): none, one or
// two, in order; further arguments are ignored. Arguments are read as UTF-8 and kept as they
// are, without any test: whether they name files is found out when a run starts.
std::vector<Text> FieldArguments(int argc, char** argv);
