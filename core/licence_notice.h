// What both programs print for --version under their name and version, as GNU programs do: the
// copyright and the licence (LICENSE has its whole text), then what the licence allows.
#pragma once

// A string literal, so that each program joins it to its own first line at compile time.
#define LISTWISE_LICENCE_NOTICE                                          \
  "Copyright (C) 2026 The Listwise developers.\n"                        \
  "License MIT: <https://opensource.org/licenses/MIT>.\n"                \
  "This is free software: you are free to change and redistribute it.\n" \
  "There is NO WARRANTY, to the extent permitted by law.\n"
