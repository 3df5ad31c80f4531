// The engine, on the program's UTF-8 bytes. The table operations read their sources into
// SlotBuckets (in memory, or spilled to disk when they do not fit), then make their result a group
// of slots at a time on every core the run may use; Merge pairs the items as they stand. The
// results are those of the operations on the 16-bit texts the bytes stand for, byte for byte.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/source_bytes.h"
#include "core/source_format.h"
#include "core/text.h"
#include "engine/item_keys.h"
#include "engine/result_sink.h"
#include "engine/run_plan.h"
#include "engine/run_progress.h"
#include "engine/run_request.h"

// The sources of a run in bytes, read by LoadByteSource.
struct ByteSources;

enum class ByteLoad {
  Loaded,
  Unreadable,  // a read error: the source is "Файл не удаётся открыть"
  NotBytes,    // UTF-8 taken as it stands turned out not to be well-formed
  NoRoom,      // the lists fit neither in memory nor in temporary files
  Stopped,     // the run's RunProgress asked it to stop
  NoColumn,    // a table's header names no column as asked
};

// `progress` (when set) hears of every run of bytes read and every step of the operation. The
// order is that of the result's lines; Merge keeps its own, line by line, whatever it says.
std::shared_ptr<ByteSources> NewByteSources(Operation operation, TextView read_separator,
                                            bool whole_separator, const ItemRules& rules,
                                            ItemOrder order, const RunPlan& plan,
                                            RunProgress* progress = nullptr);
// From now on the sources are read as tables, each row's item one of its fields.
void ReadAsTables(ByteSources& sources, const ColumnChoice& choice);
// Whether the two sources, read as tables, are one table: the same field separator, and with
// headers the same header. Rows of both in one result need it.
bool TablesAlike(const ByteSources& sources);

// How a source's bytes are taken: a file's UTF-8 as it stands, checked as it is cut; UTF-8 the
// program made itself (from a text handed in), as it stands and unchecked, lone surrogates and
// all; or converted as it is read. A source in any format but UTF-8 is always converted.
enum class ByteTaking { FileAsItStands, OwnAsItStands, Converted };
// What reading a source showed besides its items.
struct SourceReading {
  bool ended_at_zero = false;  // the text ends at a zero unit
  bool not_utf8 = false;       // converted UTF-8 that was not well-formed
  // Read as a table: the rows too short to hold the column, and the column (from 1).
  uint64_t rows_without_field = 0;
  uint32_t column = 0;
};
// Reads source 0 or 1 from its bytes in `format`, dropping what an earlier reading of it took.
// Merge reads the bytes again as it writes.
ByteLoad LoadByteSource(ByteSources& sources, int source, std::shared_ptr<const SourceBytes> bytes,
                        SourceFormat format, ByteTaking taking, SourceReading& reading);

// The source (0 or 1) that Merge found changed when it read it again, whose result is then
// incomplete; -1 when none.
int ByteRunSourceReadAgainFailed(const ByteSources& sources);

// Runs the operation into the sink and returns the count, or -1 when its RunProgress stopped it.
int32_t MakeByteResult(Operation operation, ByteSources& sources, TextView result_separator,
                       TextView line_end, ResultSink& sink);
