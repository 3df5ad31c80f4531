// The one failure of temporary files that a run reports as such.
#pragma once

// Raised when lists larger than memory cannot go to temporary files: the disk under $TMPDIR (or
// /tmp) is full, or no file can be made there. Caught where std::bad_alloc is.
struct TemporarySpaceExhausted {};
