// The icon files carried inside the program, generated at build time from resources/*.gif.
#pragma once

#include <cstddef>

struct EmbeddedFile {
  const unsigned char* data;
  size_t size;
};

inline constexpr int kEmbeddedIconCount = 4;

// The four GIF files in image-number order: open, paste, swap, window. They lie one after
// another in a single block, so each size is what keeps a reader inside its own file.
extern const EmbeddedFile kEmbeddedIcons[kEmbeddedIconCount];
