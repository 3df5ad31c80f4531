// Temporary files, and the one failure of them that a run reports as such.
#pragma once

#include <cstddef>

// Raised when lists larger than memory cannot go to temporary files: the disk under $TMPDIR (or
// /tmp) is full, or no file can be made there. Caught where std::bad_alloc is.
struct TemporarySpaceExhausted {};

// A file with no name in $TMPDIR (or /tmp), open for reading and writing: nothing is left behind
// however the program ends. -1 when none can be made.
int UnnamedTemporaryFile();

// Writes all the bytes at the file's offset; false when they cannot all be written.
bool WriteWhole(int fd, const char* bytes, size_t size);
