#include "engine/table_rows.h"

#include <algorithm>
#include <cstring>

#include "core/simd.h"
#include "engine/byte_source.h"
#include "engine/item_keys.h"

namespace {

constexpr size_t kNone = std::string_view::npos;
// A closing quote the end of a run leaves in doubt: the quote after it may be in the next run.
constexpr size_t kInDoubt = kNone - 1;

bool IsLineEnd(char c) {
  return c == '\r' || c == '\n';
}

const unsigned char* Bytes(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

}  // namespace

std::string_view FieldValue(const RowField& field, char* scratch) {
  const std::string_view raw = field.raw;
  if (!field.quoted) return raw;
  // Most quoted fields hold no quote of their own and end at their closing quote.
  const size_t first = raw.find('"', 1);
  if (first + 1 == raw.size()) return raw.substr(1, first - 1);
  size_t out = 0;
  size_t at = 1;
  for (;;) {
    const size_t quote = raw.find('"', at);
    std::memcpy(scratch + out, raw.data() + at, quote - at);
    out += quote - at;
    if (quote + 1 < raw.size() && raw[quote + 1] == '"') {
      scratch[out++] = '"';
      at = quote + 2;
      continue;
    }
    // The closing quote: what follows it is kept as it stands.
    const size_t rest = raw.size() - quote - 1;
    std::memcpy(scratch + out, raw.data() + quote + 1, rest);
    return {scratch, out + rest};
  }
}

RowCursor::RowCursor(FieldPlace place) : place_(place), stops_{'\r', '\n', 0} {
  stop_count_ = 2;
  if (place.separator != kNoFieldSeparator)
    stops_[stop_count_++] = static_cast<unsigned char>(place.separator);
}

void RowCursor::Start(std::string_view run, bool last) {
  run_ = run;
  last_ = last;
  at_ = 0;
  row_start_ = 0;
  rest_ = run.size();
  fields_ = 0;
  block_known_ = false;
}

size_t RowCursor::UnquotedEndBeyond(size_t at) {
  const size_t n = run_.size();
  for (;;) {
    if (block_known_ && at >= block_ && at < block_ + 64) {
      const uint64_t bits = bits_ & (~uint64_t{0} << (at - block_));
      if (bits != 0) return block_ + static_cast<size_t>(__builtin_ctzll(bits));
      at = block_ + 64;
    }
    if (at >= n) return n;
    block_ = at / 64 * 64;
    block_known_ = true;
    const unsigned char* b = Bytes(run_) + block_;
    if (n - block_ >= 64) {
      bits_ = SeparatorMask64(b, stops_, stop_count_);
    } else {
      bits_ = 0;
      for (size_t i = 0; i < n - block_; ++i)
        for (int k = 0; k < stop_count_; ++k)
          if (b[i] == stops_[k]) bits_ |= uint64_t{1} << i;
    }
  }
}

size_t RowCursor::ClosingQuote(size_t at) const {
  for (size_t from = at + 1;;) {
    const size_t quote = run_.find('"', from);
    if (quote == kNone) return kNone;
    if (quote + 1 == run_.size()) return last_ ? quote : kInDoubt;
    if (run_[quote + 1] != '"') return quote;
    from = quote + 2;
  }
}

bool RowCursor::Next(std::string_view& row, RowField& field, bool& found) {
  const size_t n = run_.size();
  while (at_ < n && IsLineEnd(run_[at_])) ++at_;
  if (at_ >= n) {
    rest_ = n;
    return false;
  }
  const size_t start = at_;
  // A row the end of the run may cut short is left for the run that goes on with it.
  auto cut_short = [&] {
    rest_ = start;
    at_ = n;
    return false;
  };
  found = false;
  uint32_t index = 0;
  for (size_t at = start;;) {
    const size_t field_start = at;
    bool quoted = false;
    if (at < n && run_[at] == '"') {
      const size_t close = ClosingQuote(at);
      if (close == kInDoubt || (close == kNone && !last_)) return cut_short();
      // Nothing closes the quote before the end of the list: it is a plain character.
      if (close != kNone) {
        quoted = true;
        at = close + 1;
      }
    }
    const size_t end = UnquotedEnd(at);
    if (end == n && !last_) return cut_short();
    if (index == place_.column) {
      field = {run_.substr(field_start, end - field_start), quoted};
      found = true;
    }
    ++index;
    if (end < n && !IsLineEnd(run_[end])) {
      at = end + 1;  // a separator: the next field
      continue;
    }
    row_start_ = start;
    fields_ = index;
    row = run_.substr(start, end - start);
    at_ = end;
    return true;
  }
}

RowField FieldOfRow(std::string_view row, FieldPlace place, bool& found) {
  RowCursor cursor(place);
  cursor.Start(row, true);
  std::string_view whole;
  RowField field;
  found = false;
  cursor.Next(whole, field, found);
  return field;
}

std::vector<std::string> RowValues(std::string_view row, char separator) {
  std::vector<std::string> values;
  std::string scratch(row.size(), '\0');
  // Each field is the first of what is left of the row.
  for (size_t at = 0;;) {
    bool found = false;
    const RowField field = FieldOfRow(row.substr(at), {separator, 0}, found);
    values.emplace_back(FieldValue(field, scratch.data()));
    at += field.raw.size();
    if (at >= row.size() || row[at] != separator || separator == kNoFieldSeparator) break;
    ++at;
    if (at == row.size()) {
      values.emplace_back();  // the row ends with a separator: an empty last field
      break;
    }
  }
  return values;
}

namespace {

// Cuts a stretch [from, to) of a run in which every line end ends a row at the first line end
// after each target, the targets `step` apart (the first at `target`, which moves on), until
// there are `wanted` cuts.
void CutAtLineEnds(std::string_view run, size_t from, size_t to, size_t wanted, size_t step,
                   size_t& target, std::vector<size_t>& cuts) {
  const size_t n = run.size();
  while (cuts.size() < wanted && target < to) {
    size_t cut = std::max(target, from);
    while (cut < to && !IsLineEnd(run[cut])) ++cut;
    if (cut >= to) break;
    while (cut < n && IsLineEnd(run[cut])) ++cut;
    if (cut >= n) break;
    if (cuts.empty() || cut > cuts.back()) cuts.push_back(cut);
    target = cut + step;
  }
}

}  // namespace

size_t WholeRows(std::string_view run, bool last, char separator, int parts,
                 std::vector<size_t>& cuts) {
  cuts.clear();
  const size_t n = run.size();
  const size_t wanted = parts > 1 ? static_cast<size_t>(parts) - 1 : 0;
  const size_t step = wanted > 0 ? n / static_cast<size_t>(parts) : 0;
  size_t target = step;
  auto outside = [&](size_t from, size_t to) {
    CutAtLineEnds(run, from, to, wanted, step, target, cuts);
  };
  // Only quotes change whether a line end ends a row, so only they are looked at: a quote that
  // begins a field opens a quoted stretch up to the quote that closes it.
  size_t from = 0;
  for (size_t at = 0;;) {
    const size_t quote = run.find('"', at);
    if (quote == kNone) break;
    at = quote + 1;
    const bool opens = quote == 0 || IsLineEnd(run[quote - 1]) ||
                       (separator != kNoFieldSeparator && run[quote - 1] == separator);
    if (!opens) continue;
    size_t close = kNone;
    for (size_t k = quote + 1;;) {
      const size_t q = run.find('"', k);
      if (q == kNone || (q + 1 == n && !last)) break;  // may close in the next run
      if (q + 1 < n && run[q + 1] == '"') {
        k = q + 2;
        continue;
      }
      close = q;
      break;
    }
    if (close == kNone && last) continue;  // nothing closes it: a plain character
    outside(from, quote);
    if (close == kNone) {
      // The row of the open quote waits for the run that goes on with it. Where that row begins
      // the rows before it tell: such a row comes once a run at most.
      RowCursor cursor({separator, 0});
      cursor.Start(run, false);
      std::string_view row;
      RowField field;
      bool found;
      while (cursor.Next(row, field, found)) {
      }
      while (!cuts.empty() && cuts.back() >= cursor.rest()) cuts.pop_back();
      return cursor.rest();
    }
    from = at = close + 1;
  }
  outside(from, n);
  return n;
}

std::vector<size_t> LineStarts(std::string_view run, int parts) {
  std::vector<size_t> cuts;
  const size_t wanted = parts > 1 ? static_cast<size_t>(parts) - 1 : 0;
  const size_t step = wanted > 0 ? run.size() / static_cast<size_t>(parts) : 0;
  size_t target = step;
  CutAtLineEnds(run, 0, run.size(), wanted, step, target, cuts);
  return cuts;
}

bool JudgeFieldSeparator(std::string_view rows, bool last, char& separator) {
  constexpr size_t kSampled = 100;
  constexpr char kCandidates[] = {';', ',', '\t'};
  char best = kNoFieldSeparator;
  uint32_t best_fields = 0;
  size_t best_alike = 0;
  bool best_consistent = false;
  for (char candidate : kCandidates) {
    RowCursor cursor({candidate, 0});
    cursor.Start(rows, last);
    std::string_view row;
    RowField field;
    bool found;
    uint32_t first = 0;
    size_t sampled = 0, alike = 0;
    while (sampled < kSampled && cursor.Next(row, field, found)) {
      if (sampled++ == 0) first = cursor.fields();
      if (cursor.fields() == first) ++alike;
    }
    if (sampled < kSampled && !last) return false;
    if (first < 2) continue;
    const bool consistent = alike == sampled;
    // A candidate that cuts every row alike beats one that does not, then more fields, then
    // more rows alike; the earlier candidate wins a tie.
    const bool better = consistent != best_consistent ? consistent
                        : consistent                  ? first > best_fields
                                                      : alike > best_alike;
    if (best == kNoFieldSeparator || better) {
      best = candidate;
      best_fields = first;
      best_alike = alike;
      best_consistent = consistent;
    }
  }
  separator = best;
  return true;
}

int ColumnNamed(const std::vector<std::string>& header, std::string_view name) {
  for (size_t k = 0; k < header.size(); ++k)
    if (header[k] == name) return static_cast<int>(k);
  auto loose = [](std::string_view text) {
    const std::string_view trimmed = TrimmedItem(text);
    std::string folded(trimmed.size() * 3 + 1, '\0');
    auto* out = reinterpret_cast<unsigned char*>(folded.data());
    folded.resize(FoldUtf8(Bytes(trimmed), trimmed.size(), out));
    return folded;
  };
  const std::string wanted = loose(name);
  for (size_t k = 0; k < header.size(); ++k)
    if (loose(header[k]) == wanted) return static_cast<int>(k);
  return -1;
}

std::string_view RecordItem(const ItemRules& rules, int source, std::string_view record,
                            unsigned char* scratch) {
  if (!rules.whole_rows) return record;
  bool found = false;
  const RowField field = FieldOfRow(record, rules.fields[source], found);
  if (!found) return record.substr(0, 0);  // empty, but not null: keys are compared by memcmp
  const std::string_view value = FieldValue(field, reinterpret_cast<char*>(scratch));
  return rules.trim ? TrimmedItem(value) : value;
}

std::string_view RecordKey(const ItemRules& rules, int source, std::string_view record,
                           unsigned char* scratch) {
  const std::string_view item = RecordItem(rules, source, record, scratch);
  return ItemKey(rules, item, scratch + record.size());
}
