// The engine on UTF-8 bytes: the sources are never made into 16-bit text. The table operations
// read their sources into SlotBuckets (in memory, or spilled to disk when they do not fit), then
// make their result a group of slots at a time on every core the run may use; Merge pairs the items
// as they stand. The results are those of the 16-bit engine, byte for byte.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/source_bytes.h"
#include "core/source_format.h"
#include "core/text.h"
#include "engine/operations.h"
#include "engine/run_plan.h"
#include "engine/run_progress.h"
#include "engine/run_request.h"

// The sources of a run in bytes, read by LoadByteSource.
struct ByteSources;

enum class ByteLoad {
  Loaded,
  Unreadable,  // a read error: the source is "Файл не удаётся открыть"
  NotBytes,    // not well-formed UTF-8, or UTF-16 that UTF-8 cannot hold: the 16-bit engine must
  NoRoom,      // the lists fit neither in memory nor in temporary files
  Stopped,     // the run's RunProgress asked it to stop
};

// Whether the byte engine can take runs with these settings at all.
bool ByteRunPossible(Operation operation, TextView read_separator, TextView result_separator,
                     bool case_sensitive);

// `progress` (when set) hears of every run of bytes read and every step of the operation.
std::shared_ptr<ByteSources> NewByteSources(Operation operation, TextView read_separator,
                                            bool whole_separator, bool case_sensitive,
                                            const RunPlan& plan, RunProgress* progress = nullptr);
// Reads source 0 or 1 from its bytes in `format` (not UTF-32, which only the 16-bit engine
// reads). Merge reads the bytes again as it writes. With `check`, UTF-8 bytes read as they stand
// are checked (a file's); without, they are taken as the program's own, which may hold lone
// surrogates. ended_at_zero is set when the source stops at a zero unit.
ByteLoad LoadByteSource(ByteSources& sources, int source, std::shared_ptr<const SourceBytes> bytes,
                        const SourceFormat& format, bool check, bool& ended_at_zero);
// Drops what LoadByteSource took of a source, before it is read again in another format.
void ForgetByteSource(ByteSources& sources, int source);

// The source (0 or 1) that Merge found changed when it read it again, whose result is then
// incomplete; -1 when none.
int ByteRunSourceReadAgainFailed(const ByteSources& sources);

// Runs the operation into the sink and returns the count, or -1 when its RunProgress stopped it.
int32_t RunByteOperation(Operation operation, ByteSources& sources, TextView result_separator,
                         TextView line_end, ResultSink& sink);
