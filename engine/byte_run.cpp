#include "engine/byte_run.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

#include "core/utf8.h"
#include "engine/byte_source.h"
#include "engine/group_results.h"
#include "engine/parallel.h"
#include "engine/separators.h"
#include "engine/slot_buckets.h"
#include "engine/table_rows.h"
#include "engine/temporary_space.h"

namespace {

const unsigned char* Bytes(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

// The source whose items an operation keeps with their places, to write them in the walk of a
// table of their own spellings, or -1. Only the two that show the items one list lacks do, and
// only when keys are folded: each folded key is written in the spelling of its first occurrence,
// filed under the slot of that spelling, which lies in any group.
int KeptSource(Operation operation, const ItemRules& rules) {
  if (!rules.folds()) return -1;
  if (operation == Operation::ModeOnlyInSecond) return 1;
  if (operation == Operation::ModeOnlyInFirst) return 0;
  return -1;
}

}  // namespace

struct ByteSources {
  Operation operation;
  ByteSeparator separator;
  ItemRules rules;
  ItemOrder order;
  RunPlan plan;
  std::unique_ptr<SlotBuckets> buckets[2];
  // Merge reads a source twice: once to check it, once as it writes the lines, taking no more
  // of it than the first reading found.
  struct MergeSource {
    std::shared_ptr<const SourceBytes> bytes;
    SourceFormat format;
    LenientUtf8 lenient = LenientUtf8::AsItStands;
    bool check = true;
    uint64_t length = 0;
  };
  MergeSource merge[2];
  int reread_failed = -1;  // the source that changed between its two readings, if one did
  RunProgress* progress = nullptr;
  // Lists read as tables: what was asked, and what each source's first rows showed.
  std::optional<ColumnChoice> table;
  struct TableSource {
    std::string header_row;           // as it stands, when the lists have headers
    std::vector<std::string> header;  // the values of its fields
    std::atomic<uint64_t> rows_without_field{0};
  };
  TableSource tables[2];
};

void ReadAsTables(ByteSources& sources, const ColumnChoice& choice) {
  sources.table = choice;
  sources.rules.whole_rows = choice.whole_rows;
  // Rows end at line ends; a line end inside quotes is found again by the rows' own reading.
  MakeByteSeparator(u"\r\n", false, sources.separator);
}

bool TablesAlike(const ByteSources& sources) {
  return sources.rules.fields[0].separator == sources.rules.fields[1].separator &&
         sources.tables[0].header == sources.tables[1].header;
}

std::shared_ptr<ByteSources> NewByteSources(Operation operation, TextView read_separator,
                                            bool whole_separator, const ItemRules& rules,
                                            ItemOrder order, const RunPlan& plan,
                                            RunProgress* progress) {
  auto sources = std::make_shared<ByteSources>();
  sources->progress = progress;
  sources->operation = operation;
  MakeByteSeparator(read_separator, whole_separator, sources->separator);
  sources->rules = rules;
  // Merge writes its lines as they stand, whatever the order.
  sources->order = operation == Operation::ModeMerge ? ItemOrder::OrderTable : order;
  sources->plan = plan;
  // Merge reads its sources again as it writes: it keeps no items.
  if (operation == Operation::ModeMerge) return sources;
  // The orders that go by where the items first stand need each item's place in its source; in
  // table order only the source whose items are kept in their own spelling does.
  const bool by_place =
      sources->order == ItemOrder::OrderFirst || sources->order == ItemOrder::OrderCount;
  // The second list's buckets of an operation that reads one list stay empty: one lane will do.
  for (int k = 0; k < 2; ++k)
    sources->buckets[k] =
        std::make_unique<SlotBuckets>(by_place || KeptSource(operation, rules) == k,
                                      k == 0 || UsesSecondSource(operation) ? plan.threads : 1,
                                      plan.spill_block, plan.block_region);
  return sources;
}

namespace {

// The slot of an item's key, its bytes well-formed: equal keys must meet in one group. Case
// folding takes `scratch`.
uint32_t KeySlot(const ItemRules& rules, std::string_view item,
                 std::vector<unsigned char>& scratch) {
  if (rules.case_sensitive)
    return rules.fold_yo ? YoFoldedUtf8Slot(Bytes(item), item.size())
                         : Utf8Slot(Bytes(item), item.size());
  if (scratch.size() < item.size() * 3) scratch.resize(item.size() * 3 + 64);
  const std::string_view key = ItemKey(rules, item, scratch.data());
  return Utf8Slot(Bytes(key), key.size());
}

// Piece k of a run cut at `cuts` (ascending offsets inside it), of cuts.size() + 1.
std::string_view PieceAt(std::string_view run, const std::vector<size_t>& cuts, size_t k) {
  const size_t from = k == 0 ? 0 : cuts[k - 1];
  return run.substr(from, (k < cuts.size() ? cuts[k] : run.size()) - from);
}

// All the pieces of such a run.
std::vector<std::string_view> PiecesAt(std::string_view run, const std::vector<size_t>& cuts) {
  std::vector<std::string_view> pieces;
  for (size_t k = 0; k <= cuts.size(); ++k) pieces.push_back(PieceAt(run, cuts, k));
  return pieces;
}

// Cuts a run of whole items into the buckets: the run's pieces are split, checked, hashed and
// copied side by side, each on a core of its own and into its own lane of the buckets.
class BucketFeeder {
 public:
  // With `check`, the runs are a file's bytes as they stand, to be checked as they are cut;
  // without, they were made by the program (converted, or from a text), surrogate halves and all.
  BucketFeeder(ByteSources& sources, SlotBuckets& buckets, bool check)
      : sources_(sources),
        buckets_(buckets),
        folded_(static_cast<size_t>(buckets.lanes())),
        values_(static_cast<size_t>(buckets.lanes())),
        held_(static_cast<size_t>(buckets.lanes())),
        arenas_(static_cast<size_t>(buckets.lanes())),
        check_(check) {}

  // The pieces a run is cut into for the threads.
  int Parts(std::string_view run) const {
    return static_cast<int>(std::clamp<size_t>(run.size() / sources_.plan.piece_bytes, 1,
                                               static_cast<size_t>(buckets_.lanes())));
  }
  // False when the bytes are not well-formed UTF-8.
  bool Feed(std::string_view run, bool last) {
    return FeedPieces(run, CutPoints(run, Parts(run), sources_.separator), last, nullptr);
  }
  // Rows of a table cut at line ends without a look at its quotes first, each piece read on a
  // core of its own and its rows held back; they go into the buckets only when every piece
  // ended at the end of a row, which makes each line end the pieces begin after the end of a
  // row too. A quoted field that holds the line end where a piece begins makes the piece before
  // end inside quotes: then nothing was fed (Unsure), and the rows' quotes must tell the cuts.
  // `whole`: the end of the last whole row, after which the rows a run cut short begin.
  enum class Speculation { Fed, NotBytes, Unsure };
  Speculation FeedRowsCutAtLineEnds(std::string_view rows, bool last, uint64_t offset, int source,
                                    size_t& whole) {
    source_ = source;
    run_start_ = rows.data();
    const std::vector<size_t> cuts = LineStarts(rows, Parts(rows));
    const std::vector<std::string_view> pieces = PiecesAt(rows, cuts);
    const size_t parts = pieces.size();
    std::vector<size_t> rests(parts, 0);
    std::vector<uint64_t> shorts(parts, 0);
    std::vector<char> well_formed(parts, 1);
    const bool spread = rows.size() >= kWorthSpreading;
    OnCores(
        static_cast<int>(parts),
        [&](int part) {
          const size_t k = static_cast<size_t>(part);
          const std::string_view bytes = pieces[k];
          if (check_ && !IsWellFormedUtf8(Bytes(bytes), bytes.size())) {
            well_formed[k] = 0;
            return;
          }
          shorts[k] = ReadPieceOfRows(bytes, k + 1 == parts && last, part, rests[k]);
        },
        spread);
    if (!std::all_of(well_formed.begin(), well_formed.end(), [](char ok) { return ok != 0; }))
      return Speculation::NotBytes;
    for (size_t k = 0; k + 1 < parts; ++k)
      if (rests[k] != pieces[k].size()) return Speculation::Unsure;
    whole = static_cast<size_t>(pieces.back().data() - rows.data()) + rests.back();
    OnCores(
        static_cast<int>(parts),
        [&](int part) {
          const size_t k = static_cast<size_t>(part);
          const std::string_view bytes = pieces[k];
          const std::string& arena = arenas_[k];
          for (const HeldRow& held : held_[k]) {
            const std::string_view record = held.copied
                                                ? std::string_view(arena).substr(held.at, held.size)
                                                : bytes.substr(held.at, held.size);
            const size_t readable = held.copied ? arena.size() - held.at : bytes.size() - held.at;
            buckets_.Add(part, held.slot, record, offset + held.place, held.size ? readable : 0);
          }
        },
        spread);
    buckets_.EndSegment();
    uint64_t short_rows = 0;
    for (uint64_t n : shorts) short_rows += n;
    sources_.tables[source].rows_without_field += short_rows;
    return Speculation::Fed;
  }
  // Rows of a table that start at `offset` in the source, cut at `cuts` (row starts).
  bool FeedRows(std::string_view rows, const std::vector<size_t>& cuts, bool last, uint64_t offset,
                int source) {
    offset_ = offset;
    source_ = source;
    return FeedPieces(rows, cuts, last, &sources_.tables[source]);
  }

 private:
  bool FeedPieces(std::string_view run, const std::vector<size_t>& cuts, bool last,
                  ByteSources::TableSource* table) {
    const size_t pieces = cuts.size() + 1;
    std::vector<char>& well_formed = well_formed_;
    well_formed.assign(pieces, 1);
    OnCores(
        static_cast<int>(pieces),
        [&](int part) {
          const std::string_view bytes = PieceAt(run, cuts, static_cast<size_t>(part));
          // With case, the hash checks each item's bytes as it goes; the rest of a run is the
          // separator's own well-formed bytes, and so is the white space that trimming cuts off.
          // Case folding wants them checked first, and so does a separator with a surrogate half:
          // its bytes are no UTF-8, and a pair it cuts leaves halves in the items. (ё folding keeps
          // the length and the well-formedness of the bytes: the hash of the item checks them.)
          char& checked_piece = well_formed[static_cast<size_t>(part)];
          const ItemRules& rules = sources_.rules;
          const bool check_piece = check_ && (!rules.case_sensitive ||
                                              sources_.separator.has_halves || table != nullptr);
          if (check_piece && !IsWellFormedUtf8(Bytes(bytes), bytes.size())) {
            checked_piece = 0;
            return;
          }
          bool checked = true;
          // The source's last item is the final piece of the run's last piece.
          const bool final_piece = last && static_cast<size_t>(part) + 1 == pieces;
          std::vector<unsigned char>& folded = folded_[static_cast<size_t>(part)];
          // An item's place in the source is its first byte's offset: what orders the kept items of
          // only-in-second and only-in-first when keys are folded.
          const uint64_t base = offset_ + static_cast<uint64_t>(bytes.data() - run.data());
          if (table != nullptr) {
            table->rows_without_field += FeedPieceOfRows(bytes, base, part);
            return;
          }
          ForEachByteItem(
              bytes, sources_.separator, final_piece,
              // Inline: the call and its spills cost a short item more than its copy.
              [&](std::string_view item,
                  const ByteItemCursor& cursor) __attribute__((always_inline)) {
                const uint64_t place = base + cursor.OffsetOf(item);
                if (rules.trim) item = TrimmedItem(item);
                // The item may be the cursor's copy rather than part of the run.
                const std::string_view around = cursor.Around();
                // Equal keys must meet in one group: the slot is the key's.
                uint32_t slot;
                const size_t before = static_cast<size_t>(item.data() - around.data());
                if (rules.case_sensitive && check_ && !check_piece) {
                  slot = rules.fold_yo
                             ? CheckedYoFoldedUtf8Slot(Bytes(item), item.size(), before, checked)
                             : CheckedUtf8Slot(Bytes(item), item.size(), before, checked);
                } else if (rules.case_sensitive) {  // converted, or checked already
                  slot = rules.fold_yo ? YoFoldedUtf8Slot(Bytes(item), item.size(), before)
                                       : Utf8Slot(Bytes(item), item.size(), before);
                } else {
                  slot = KeySlot(rules, item, folded);
                }
                buckets_.Add(part, slot, item, place,
                             static_cast<size_t>(around.data() + around.size() - item.data()));
              });
          checked_piece = checked;
        },
        run.size() >= kWorthSpreading);
    buckets_.EndSegment();
    offset_ += run.size();
    return std::all_of(well_formed.begin(), well_formed.end(), [](char ok) { return ok != 0; });
  }

  // The rows of a piece, read with lane `part`'s scratch: fn(record, slot, row_start, copied) for
  // each, the record being the whole row or its field's value, and `copied` telling that the
  // value lies in values_[part] (with room to read a short item past its end, as the buckets do)
  // rather than in the piece. The piece is well-formed UTF-8. Returns the rows too short to hold
  // the field, and sets `rest` to where the rows the piece cut short begin.
  template <typename Fn>
  uint64_t ForEachRowOfPiece(std::string_view bytes, bool last, int part, size_t& rest, Fn&& fn) {
    const ItemRules& rules = sources_.rules;
    std::vector<unsigned char>& scratch = folded_[static_cast<size_t>(part)];
    std::vector<char>& values = values_[static_cast<size_t>(part)];
    RowCursor cursor(rules.fields[source_]);
    cursor.Start(bytes, last);
    std::string_view row;
    RowField field;
    bool found;
    uint64_t short_rows = 0;
    while (cursor.Next(row, field, found)) {
      std::string_view item = row.substr(0, 0);
      if (found) {
        if (values.size() < field.raw.size() + 64) values.resize(field.raw.size() * 2 + 64);
        item = FieldValue(field, values.data());
      } else {
        ++short_rows;
      }
      if (rules.trim) item = TrimmedItem(item);
      const std::string_view record = rules.whole_rows ? row : item;
      const bool copied = !record.empty() && record.data() >= values.data() &&
                          record.data() < values.data() + values.size();
      fn(record, KeySlot(rules, item, scratch), cursor.row_start(), copied);
    }
    rest = cursor.rest();
    return short_rows;
  }

  // The rows of a piece into lane `part`, each filed under the key of its field.
  //
  // The piece holds whole rows, as the reading of its run found them: a quote that nothing in
  // the piece closes is one that nothing closes at all, a plain character. So the piece is read
  // as though the list ended with it.
  uint64_t FeedPieceOfRows(std::string_view bytes, uint64_t base, int part) {
    const std::vector<char>& values = values_[static_cast<size_t>(part)];
    size_t rest = 0;
    return ForEachRowOfPiece(
        bytes, true, part, rest,
        [&](std::string_view record, uint32_t slot, size_t row_start, bool copied) {
          // What may be read past the record: to the end of the piece, or of the values' copy.
          const char* end = copied ? values.data() + values.size() : bytes.data() + bytes.size();
          const size_t readable = record.empty() ? 0 : static_cast<size_t>(end - record.data());
          buckets_.Add(part, slot, record, base + row_start, readable);
        });
  }

  // The rows of a piece read ahead, into held_[part], their place counted from the piece's run:
  // each as a piece of the piece, or of arenas_[part] where its value was copied.
  uint64_t ReadPieceOfRows(std::string_view bytes, bool last, int part, size_t& rest) {
    const size_t k = static_cast<size_t>(part);
    std::vector<HeldRow>& held = held_[k];
    std::string& arena = arenas_[k];
    held.clear();
    arena.clear();
    const uint64_t base = static_cast<uint64_t>(bytes.data() - run_start_);
    return ForEachRowOfPiece(
        bytes, last, part, rest,
        [&](std::string_view record, uint32_t slot, size_t row_start, bool copied) {
          HeldRow h{base + row_start, 0, record.size(), slot, copied};
          if (copied) {
            h.at = arena.size();
            arena.append(record);
          } else if (!record.empty()) {
            h.at = static_cast<size_t>(record.data() - bytes.data());
          }
          held.push_back(h);
        });
  }
  struct HeldRow {
    uint64_t place;
    size_t at;
    size_t size;
    uint32_t slot;
    bool copied;
  };

  ByteSources& sources_;
  SlotBuckets& buckets_;
  std::vector<std::vector<unsigned char>> folded_;  // one a lane
  std::vector<std::vector<char>> values_;           // one a lane: fields with quotes taken out
  std::vector<std::vector<HeldRow>> held_;          // one a lane: rows read ahead
  std::vector<std::string> arenas_;                 // one a lane: their copied values
  std::vector<char> well_formed_;                   // of each piece of the run being fed
  const char* run_start_ = nullptr;
  int source_ = 0;
  bool check_;
  uint64_t offset_ = 0;  // of the run in the source
};

// A source read as a table: its runs of lines become runs of whole rows (a quoted field may hold
// line ends, so a row the end of a run cuts short waits for the next), its first rows tell the
// field separator and its header the column.
class TableReading {
 public:
  TableReading(ByteSources& sources, int source, bool check)
      : sources_(sources), source_(source), check_(check) {
    const ColumnChoice& choice = *sources.table;
    FieldPlace& place = sources.rules.fields[source];
    place.separator = choice.field_separator != 0 ? choice.field_separator : kNoFieldSeparator;
    place.column = choice.number > 0 ? choice.number - 1 : 0;
    judged_ = choice.field_separator != 0;
    header_taken_ = !choice.header;
    ByteSources::TableSource& table = sources.tables[source];
    table.header_row.clear();
    table.header.clear();
    table.rows_without_field = 0;
  }

  ByteLoad Feed(BucketFeeder& feeder, std::string_view run, bool last) {
    std::string_view rows = run;
    if (!held_.empty()) {
      held_.append(run);
      rows = held_;
    }
    FieldPlace& place = sources_.rules.fields[source_];
    // The first runs wait until they hold the rows the separator is judged from.
    if (!judged_) {
      if (!JudgeFieldSeparator(rows, last, place.separator)) return Hold(rows, 0);
      judged_ = true;
    }
    // Most runs are cut at line ends at once; only where that turns out to cut a quoted field do
    // the rows' quotes tell where they are cut.
    if (header_taken_) {
      size_t whole = 0;
      switch (feeder.FeedRowsCutAtLineEnds(rows, last, offset_, source_, whole)) {
        case BucketFeeder::Speculation::Fed:
          return Hold(rows, whole);
        case BucketFeeder::Speculation::NotBytes:
          return ByteLoad::NotBytes;
        case BucketFeeder::Speculation::Unsure:
          break;
      }
    }
    std::vector<size_t> cuts;
    const size_t whole = WholeRows(rows, last, place.separator, feeder.Parts(rows), cuts);
    size_t from = 0;
    if (!header_taken_) {
      if (whole == 0 && !last) return Hold(rows, 0);
      const ByteLoad taken = TakeHeader(rows, last, from);
      if (taken != ByteLoad::Loaded) return taken;
      cuts.erase(cuts.begin(),
                 std::find_if(cuts.begin(), cuts.end(), [&](size_t cut) { return cut > from; }));
    }
    for (size_t& cut : cuts) cut -= from;
    if (!feeder.FeedRows(rows.substr(from, whole - from), cuts, last, offset_ + from, source_))
      return ByteLoad::NotBytes;
    return Hold(rows, whole);
  }

 private:
  // Keeps the rows from `from` on for the next run.
  ByteLoad Hold(std::string_view rows, size_t from) {
    offset_ += from;
    std::string rest(rows.substr(from));
    held_.swap(rest);
    return ByteLoad::Loaded;
  }
  // The first row is the header: it names the columns. `from` is set to where the rows after it
  // begin.
  ByteLoad TakeHeader(std::string_view rows, bool last, size_t& from) {
    header_taken_ = true;
    ByteSources::TableSource& table = sources_.tables[source_];
    FieldPlace& place = sources_.rules.fields[source_];
    RowCursor cursor(place);
    cursor.Start(rows, last);
    std::string_view row;
    RowField field;
    bool found;
    if (cursor.Next(row, field, found)) {
      if (check_ && !IsWellFormedUtf8(Bytes(row), row.size())) return ByteLoad::NotBytes;
      table.header_row.assign(row);
      table.header = RowValues(row, place.separator);
      from = static_cast<size_t>(row.data() + row.size() - rows.data());
    }
    const ColumnChoice& choice = *sources_.table;
    if (choice.number == 0) {
      const int column = ColumnNamed(table.header, choice.name);
      if (column < 0) return ByteLoad::NoColumn;
      place.column = static_cast<uint32_t>(column);
    }
    return ByteLoad::Loaded;
  }

  ByteSources& sources_;
  int source_;
  bool check_;
  bool judged_ = false;
  bool header_taken_ = false;
  std::string held_;     // the rows a run cut short
  uint64_t offset_ = 0;  // of the held rows (or of the next run) in the source
};

bool OverBudget(const ByteSources& sources) {
  size_t held = 0;
  for (const auto& buckets : sources.buckets) held += buckets->held_bytes();
  return held > sources.plan.memory_budget;
}

ByteLoad Spill(ByteSources& sources) {
  for (auto& buckets : sources.buckets)
    if (!buckets->Spill()) return ByteLoad::NoRoom;
  return ByteLoad::Loaded;
}

// `total`: the bytes the source is expected to hold after its mark, 0 when unknown. `utf8`: the
// runs are the source's own bytes; a converted source is told by how far its reading has come.
ByteLoad LoadRuns(ByteSources& sources, int source, ByteChunks& chunks, uint64_t total, bool utf8) {
  const RunPhase phase = source == 0 ? RunPhase::ReadingFirst : RunPhase::ReadingSecond;
  uint64_t done = 0;
  auto go_on = [&](std::string_view run) {
    done = utf8 ? done + run.size() : chunks.bytes_read();
    return GoOn(sources.progress, phase, done, total);
  };
  const bool check = sources.merge[source].check;
  if (sources.operation == Operation::ModeMerge) {
    std::string_view run;
    bool last = false;
    while (chunks.Next(run, last)) {
      if (check && !IsWellFormedUtf8(Bytes(run), run.size())) return ByteLoad::NotBytes;
      if (!go_on(run)) return ByteLoad::Stopped;
    }
    if (chunks.failed()) return ByteLoad::Unreadable;
    sources.merge[source].length = chunks.bytes_read();
    return ByteLoad::Loaded;
  }
  SlotBuckets& buckets = *sources.buckets[source];
  if (sources.plan.spill_from_start && Spill(sources) != ByteLoad::Loaded) return ByteLoad::NoRoom;
  BucketFeeder feeder(sources, buckets, check);
  TableReading table(sources, source, check);
  std::string_view run;
  bool last = false;
  while (chunks.Next(run, last)) {
    const ByteLoad fed = sources.table            ? table.Feed(feeder, run, last)
                         : feeder.Feed(run, last) ? ByteLoad::Loaded
                                                  : ByteLoad::NotBytes;
    if (fed != ByteLoad::Loaded) return fed;
    if (!buckets.spilled() && OverBudget(sources) && Spill(sources) != ByteLoad::Loaded)
      return ByteLoad::NoRoom;
    if (buckets.failed()) return ByteLoad::NoRoom;
    if (!go_on(run)) return ByteLoad::Stopped;
  }
  return chunks.failed() ? ByteLoad::Unreadable : ByteLoad::Loaded;
}

}  // namespace

ByteLoad LoadByteSource(ByteSources& sources, int source, std::shared_ptr<const SourceBytes> bytes,
                        SourceFormat format, ByteTaking taking, SourceReading& reading) {
  // A source read before, in another format, starts again.
  if (const auto& old = sources.buckets[source]; old != nullptr && sources.merge[source].bytes)
    sources.buckets[source] = std::make_unique<SlotBuckets>(
        old->keeps_sequence(), old->lanes(), old->spill_block(), old->block_region());
  const bool utf8 =
      format.encoding == SourceEncoding::Utf8 || format.encoding == SourceEncoding::Utf8Lenient;
  const bool converted = !utf8 || taking == ByteTaking::Converted;
  // UTF-8 that is converted at all is read by the rules of old, which place every byte.
  if (utf8 && converted) format.encoding = SourceEncoding::Utf8Lenient;
  const LenientUtf8 lenient = utf8 && converted ? LenientUtf8::Converted : LenientUtf8::AsItStands;
  ByteChunks chunks(*bytes, format, sources.separator, sources.plan.chunk_bytes, ByteChunks::kWhole,
                    lenient);
  chunks.UseThreads(sources.plan.threads);
  const uint64_t size = bytes->expected_size();
  const uint64_t total = size > format.mark_length ? size - format.mark_length : 0;
  const bool check = taking == ByteTaking::FileAsItStands && !converted;
  sources.merge[source] = {std::move(bytes), format, lenient, check, 0};
  const ByteLoad load = LoadRuns(sources, source, chunks, total, !converted);
  reading.ended_at_zero = chunks.ended_at_zero();
  reading.not_utf8 = chunks.not_utf8();
  if (sources.table) {
    reading.rows_without_field = sources.tables[source].rows_without_field;
    reading.column = sources.rules.fields[source].column + 1;
  }
  return load;
}

namespace {

// The groups that hold records of either source, in order.
std::vector<uint32_t> HeldGroups(const ByteSources& sources) {
  SlotBuckets::GroupSet held{};
  for (const auto& buckets : sources.buckets)
    for (size_t word = 0; word < held.size(); ++word) held[word] |= buckets->held_groups()[word];
  std::vector<uint32_t> groups;
  for (size_t word = 0; word < held.size(); ++word)
    for (uint64_t bits = held[word]; bits != 0; bits &= bits - 1)
      groups.push_back(
          static_cast<uint32_t>(word * 64 + static_cast<size_t>(std::countr_zero(bits))));
  return groups;
}

// Makes the groups' results on one or two threads and hands them to `emit` in group order, on
// this thread, as soon as each is ready. A group's memory is freed once its result is made, and
// no result is made more than a few groups ahead of the one written last. An emit that returns
// false stops the work, as a failure does. Groups without items are passed over: emit hears of
// each group that has any, with the number of groups done so far counting those before it.
template <typename Emit>
bool ForEachGroupInOrder(ByteSources& sources, std::string_view separator, Emit&& emit) {
  const std::vector<uint32_t> held = HeldGroups(sources);
  uint64_t bytes = 0;
  for (uint32_t g : held)
    for (const auto& buckets : sources.buckets) bytes += buckets->GroupBytes(g);
  const auto groups = static_cast<uint32_t>(held.size());
  // Each thread may have a group in the making while the one next to write waits for its turn.
  const uint32_t ahead = static_cast<uint32_t>(sources.plan.threads) + 1;
  std::vector<GroupResult> results(groups);
  std::vector<char> ready(groups, 0);
  std::mutex mutex;
  std::condition_variable changed;
  uint32_t next = 0;     // the next group to take
  uint32_t emitted = 0;  // groups handed to emit
  bool failed = false;
  // Result buffers written out are filled again: fresh memory costs more than the copying.
  std::vector<std::string> spare;
  auto can_take = [&] { return next < groups && next < emitted + ahead; };
  // Makes the next group, the lock released meanwhile.
  auto make_next = [&](GroupMaker& worker, std::unique_lock<std::mutex>& lock) {
    const uint32_t g = next++;
    GroupResult result;
    if (!spare.empty()) {
      result.out = std::move(spare.back());
      spare.pop_back();
    }
    lock.unlock();
    const bool made = worker.Run(held[g], result);
    lock.lock();
    if (!made) failed = true;
    results[g] = std::move(result);
    ready[g] = 1;
    changed.notify_all();
  };
  SlotBuckets* const buckets[2] = {sources.buckets[0].get(), sources.buckets[1].get()};
  auto new_worker = [&] {
    return GroupMaker(sources.operation, sources.rules, sources.order, buckets, separator,
                      sources.plan.large_group);
  };
  // Part 0 writes each group as soon as it is its turn, and makes groups while none is; the
  // other parts make groups. A part that fails stops the others before their next group.
  const bool spread = bytes >= kWorthSpreading;
  OnCores(
      sources.plan.threads,
      [&](int part) {
        try {
          GroupMaker worker = new_worker();
          std::unique_lock lock(mutex);
          while (part != 0) {
            changed.wait(lock, [&] { return failed || next >= groups || can_take(); });
            if (failed || next >= groups) break;
            make_next(worker, lock);
          }
          while (part == 0 && !failed && emitted < groups) {
            if (ready[emitted]) {
              lock.unlock();
              const bool go_on = emit(results[emitted], held[emitted] + 1);
              std::string out = std::move(results[emitted].out);
              out.clear();
              results[emitted].Free();
              lock.lock();
              spare.push_back(std::move(out));
              ++emitted;
              if (!go_on) failed = true;
              changed.notify_all();
            } else if (can_take()) {
              make_next(worker, lock);
            } else {
              changed.wait(lock, [&] { return failed || ready[emitted] != 0; });
            }
          }
        } catch (...) {
          {
            std::lock_guard lock(mutex);
            failed = true;
          }
          changed.notify_all();
          throw;
        }
      },
      spread);
  return !failed;
}

// The items of one Merge source as they stand, read run by run: from the file again (taking no
// more than the first reading checked, and checking again), or from the bytes kept.
class MergeItems {
 public:
  MergeItems(const ByteSources::MergeSource& source, const ByteSeparator& separator,
             size_t chunk_bytes, bool trim)
      : cursor_(separator),
        chunks_(*source.bytes, source.format, separator, chunk_bytes, source.length,
                source.lenient),
        utf8_(source.lenient == LenientUtf8::AsItStands &&
              (source.format.encoding == SourceEncoding::Utf8 ||
               source.format.encoding == SourceEncoding::Utf8Lenient)),
        check_(source.check),
        trim_(trim) {}
  // The next item, valid until the next call; false at the end or when the file changed.
  bool Next(std::string_view& item) {
    for (;;) {
      if (cursor_.Next(item)) {
        if (trim_) item = TrimmedItem(item);
        return true;
      }
      if (cursor_.last() || failed_) return false;
      std::string_view run;
      bool last = false;
      if (!chunks_.Next(run, last) || (check_ && !IsWellFormedUtf8(Bytes(run), run.size()))) {
        failed_ = true;
        return false;
      }
      // A UTF-8 source's runs are its own bytes; a converted one is as far as its reading.
      taken_ = utf8_ ? taken_ + run.size() : chunks_.bytes_read();
      cursor_.Start(run, last);
    }
  }
  bool failed() const { return failed_ || chunks_.failed(); }
  // Bytes of the source taken so far.
  uint64_t taken() const { return taken_; }

 private:
  ByteItemCursor cursor_;
  ByteChunks chunks_;
  bool utf8_;
  bool check_;
  bool trim_;
  bool failed_ = false;
  uint64_t taken_ = 0;
};

// Merge: the items of the two sources side by side, as they stand, in blocks of lines. Returns
// the source that could not be read again as it was read first, or -1.
int MergeBytes(ByteSources& sources, std::string_view separator, std::string_view line_end,
               ResultSink& sink, int32_t& pairs) {
  // Merge compares nothing, but it shows items: trimmed, when the run trims.
  MergeItems a(sources.merge[0], sources.separator, sources.plan.chunk_bytes, sources.rules.trim);
  MergeItems b(sources.merge[1], sources.separator, sources.plan.chunk_bytes, sources.rules.trim);
  std::string block;
  constexpr size_t kBlock = size_t{1} << 20;
  const uint64_t total = sources.merge[0].length + sources.merge[1].length;
  // Short lists make short results: fresh memory costs more than the copying of a string grown.
  block.reserve(static_cast<size_t>(std::min<uint64_t>(kBlock * 2, total + 64)));
  bool go_on = true;
  auto flush = [&] {
    if (!block.empty()) sink.AppendUtf8Block(block, line_end);
    block.clear();
    go_on = GoOn(sources.progress, RunPhase::Working, a.taken() + b.taken(), total);
  };
  std::string_view x, y;
  bool has_a = a.Next(x);
  bool has_b = b.Next(y);
  pairs = 0;
  while (has_a && has_b && go_on) {
    block.append(x).append(separator).append(y).append(line_end);
    ++pairs;
    if (block.size() >= kBlock) flush();
    has_a = a.Next(x);
    has_b = b.Next(y);
  }
  // The rest of the longer list, line by line, with nothing to mark the missing partner.
  for (; has_a && go_on; has_a = a.Next(x)) {
    block.append(x).append(line_end);
    if (block.size() >= kBlock) flush();
  }
  for (; has_b && go_on; has_b = b.Next(y)) {
    block.append(y).append(line_end);
    if (block.size() >= kBlock) flush();
  }
  if (go_on) flush();
  return a.failed() ? 0 : b.failed() ? 1 : -1;
}

}  // namespace

int ByteRunSourceReadAgainFailed(const ByteSources& sources) {
  return sources.reread_failed;
}

int32_t MakeByteResult(Operation operation, ByteSources& sources, TextView result_separator,
                       TextView line_end, ResultSink& sink) {
  // The mode box with nothing chosen: nothing to do.
  if (operation < Operation::ModeOnlyInSecond || operation > Operation::ModeDuplicates) return 0;
  const std::string separator = Utf8FromText(result_separator, LoneHighSurrogate::ThreeBytes);
  const auto stopped = [&] { return sources.progress != nullptr && sources.progress->stopped(); };
  if (operation == Operation::ModeMerge) {
    int32_t pairs = 0;
    sources.reread_failed = MergeBytes(
        sources, separator, Utf8FromText(line_end, LoneHighSurrogate::ThreeBytes), sink, pairs);
    return stopped() ? -1 : pairs;
  }
  // A group too large to make in memory next to the rest goes to disk with all the others, to be
  // made a share of its keys at a time.
  if (sources.plan.large_group > 0 && !sources.buckets[0]->spilled()) {
    uint64_t largest = 0;
    for (uint32_t g : HeldGroups(sources)) {
      uint64_t bytes = 0;
      for (const auto& buckets : sources.buckets) bytes += buckets->GroupBytes(g);
      largest = std::max(largest, bytes);
    }
    if (largest > sources.plan.large_group && Spill(sources) != ByteLoad::Loaded)
      throw TemporarySpaceExhausted();
  }
  // Whole rows of tables with headers come under the header of the list they are taken from.
  if (sources.table && sources.table->whole_rows && sources.table->header) {
    const int shown = operation == Operation::ModeOnlyInSecond ? 1 : 0;
    const std::string line = sources.tables[shown].header_row + separator;
    sink.AppendUtf8Block(line, separator);
  }
  int32_t count = 0;
  // Lines put in order across groups wait for the last group: in memory, or for lists larger
  // than memory in sorted runs on disk (a group made in shares brings its own). The other
  // groups are written as they come.
  const bool kept_order =
      sources.order != ItemOrder::OrderTable || KeptSource(operation, sources.rules) >= 0;
  std::vector<GroupResult> kept_groups;
  bool kept_on_disk =
      kept_order && (sources.buckets[0]->spilled() || sources.buckets[1]->spilled());
  // What the kept groups may hold in memory: the buckets give back theirs as the groups are
  // made, but not all of it at once.
  const size_t kept_memory = sources.plan.memory_budget / 2;
  size_t kept_held = 0;
  KeptRuns kept_runs;
  std::vector<std::unique_ptr<KeptRuns>> share_runs;
  const bool complete =
      ForEachGroupInOrder(sources, separator, [&](GroupResult& result, uint32_t groups) {
        count += result.count;
        if (!kept_order && !result.out.empty()) sink.AppendUtf8Block(result.out, separator);
        // A temporary file that cannot be read back ends the run as a group that cannot.
        if (result.large != nullptr && !result.large->WriteTo(sink, separator))
          throw std::bad_alloc();
        if (result.kept_runs != nullptr) share_runs.push_back(std::move(result.kept_runs));
        if (kept_order && !result.kept.empty()) {
          kept_held += result.out.capacity() + result.kept.capacity() * sizeof(KeptItem);
          kept_on_disk = kept_on_disk || kept_held > kept_memory;
          if (!kept_on_disk)
            kept_groups.push_back(std::move(result));
          else if (!kept_runs.Add(result.kept, result.out))
            throw TemporarySpaceExhausted();
        }
        return GoOn(sources.progress, RunPhase::Working, groups, SlotBuckets::kGroups);
      });
  if (stopped()) return -1;
  if (!complete) throw std::bad_alloc();  // a spilled group could not be read back
  if (kept_order) {
    KeptMerge merge(sources.order);
    for (const GroupResult& group : kept_groups) merge.Add(KeptList{&group.kept, group.out});
    merge.Add(kept_runs);
    for (const auto& runs : share_runs) merge.Add(*runs);
    uint64_t written = 0;
    const bool read = merge.Write(
        sources.plan.memory_budget / 4, sink, separator,
        [&](uint64_t done, uint64_t total) {
          return GoOn(sources.progress, RunPhase::Writing, done, total);
        },
        written, sources.plan.threads);
    if (stopped()) return -1;
    if (!read) throw std::bad_alloc();
    count = static_cast<int32_t>(written);
  }
  return count;
}
