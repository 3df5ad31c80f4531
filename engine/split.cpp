#include "engine/split.h"

#include <algorithm>
#include <cstring>

#include "core/simd.h"

ItemSplitter::ItemSplitter(TextView text, TextView separator, bool whole_separator)
    : text_(text), separator_(separator), whole_(whole_separator) {
  if (whole_) {
    if (!separator.empty()) {
      few_[0] = separator[0];
      few_count_ = 1;
    }
    return;
  }
  for (char16_t unit : separator) {
    if (std::find(few_, few_ + few_count_, unit) != few_ + few_count_) continue;
    if (few_count_ == 4) {
      few_count_ = 0;
      break;
    }
    few_[few_count_++] = unit;
  }
  if (few_count_ == 0 && !separator.empty()) {
    unit_set_.assign(65536 / 64, 0);
    for (char16_t unit : separator) unit_set_[unit >> 6] |= uint64_t{1} << (unit & 63);
  }
}

bool ItemSplitter::Next(TextView& item) {
  if (done_) return false;
  return whole_ ? NextWhole(item) : NextChars(item);
}

bool ItemSplitter::NextWhole(TextView& item) {
  // An empty separator never occurs; the whole text is then the only item.
  size_t found = TextView::npos;
  if (few_count_ == 1) {
    const size_t n = text_.size();
    const size_t m = separator_.size();
    for (size_t from = at_; from + m <= n;) {
      const size_t first = FindAnyUnit(text_.data(), from, n - m + 1, few_, 1);
      if (first > n - m) break;
      if (std::memcmp(text_.data() + first, separator_.data(), m * sizeof(char16_t)) == 0) {
        found = first;
        break;
      }
      from = first + 1;
    }
  }
  if (found == TextView::npos) {
    item = text_.substr(at_);
    done_ = true;
    return true;
  }
  item = text_.substr(at_, found - at_);
  at_ = found + separator_.size();
  return true;
}

bool ItemSplitter::NextChars(TextView& item) {
  const size_t n = text_.size();
  const char16_t* units = text_.data();
  size_t start = at_;
  size_t i = at_;
  for (;;) {
    if (few_count_ > 0) {
      i = FindAnyUnit(units, i, n, few_, few_count_);
    } else if (!unit_set_.empty()) {
      while (i < n && !((unit_set_[units[i] >> 6] >> (units[i] & 63)) & 1)) ++i;
    } else {
      i = n;  // no separator units at all
    }
    if (i == n) {
      item = text_.substr(start);
      done_ = true;
      return true;
    }
    if (i > start) {
      item = text_.substr(start, i - start);
      at_ = i + 1;
      return true;
    }
    start = ++i;  // an empty piece before a separator unit is dropped
  }
}

KeyedItemReader::KeyedItemReader(TextView text, TextView separator, bool whole_separator,
                                 bool case_sensitive, KeyHashes hashes)
    : splitter_(text, separator, whole_separator),
      case_sensitive_(case_sensitive),
      slot_hash_((static_cast<uint8_t>(hashes) & 1) != 0),
      lookup_hash_((static_cast<uint8_t>(hashes) & 2) != 0) {}

bool KeyedItemReader::Read(ItemBatch& batch) {
  batch.size = 0;
  if (case_sensitive_) {
    while (batch.size < ItemBatch::kCapacity && splitter_.Next(batch.items[batch.size])) {
      const TextView key = batch.items[batch.size];
      batch.keys[batch.size] = key;
      if (slot_hash_) batch.hashes[batch.size] = StringHash(key);
      if (lookup_hash_) batch.lookups[batch.size] = LookupHash(key);
      ++batch.size;
    }
  } else {
    size_t total = 0;
    while (batch.size < ItemBatch::kCapacity && splitter_.Next(batch.items[batch.size])) {
      total += batch.items[batch.size].size();
      ++batch.size;
    }
    if (folded_.size() < total) folded_.resize(total * 2);
    char16_t* out = folded_.data();
    for (int k = 0; k < batch.size; ++k) {
      TextLowerInto(batch.items[k], out);
      batch.keys[k] = TextView(out, batch.items[k].size());
      if (slot_hash_) batch.hashes[k] = StringHash(batch.keys[k]);
      if (lookup_hash_) batch.lookups[k] = LookupHash(batch.keys[k]);
      out += batch.items[k].size();
    }
  }
  return batch.size > 0;
}

namespace {

void SplitToTable(TextView text, ItemTable<TextRef>& table, TextView separator, bool whole,
                  bool case_sensitive) {
  TableClear(table);
  KeyedItemReader reader(text, separator, whole, case_sensitive, KeyHashes::Both);
  ItemBatch batch;
  while (reader.Read(batch)) {
    for (int k = 0; k < batch.size; ++k) {
      // Borrowed keys point into the text; folded keys live in a scratch buffer and are copied.
      TextRef* value =
          Required(table.Add(batch.keys[k], batch.hashes[k], batch.lookups[k], !case_sensitive));
      if (!case_sensitive) {
        value->data = batch.items[k].data();
        value->size = batch.items[k].size();
      }
    }
  }
}

}  // namespace

void SplitWholeToTable(TextView text, ItemTable<TextRef>& table, TextView separator,
                       bool case_sensitive) {
  SplitToTable(text, table, separator, true, case_sensitive);
}

void SplitCharsToTable(TextView text, ItemTable<TextRef>& table, TextView separator,
                       bool case_sensitive) {
  SplitToTable(text, table, separator, false, case_sensitive);
}

namespace {

void SplitToList(TextView text, ItemList<Text>& list, TextView separator, bool whole) {
  ListClear(list);
  ItemSplitter splitter(text, separator, whole);
  TextView item;
  while (splitter.Next(item)) {
    if (Text* value = ListAdd(list)) value->assign(item);
  }
}

}  // namespace

void SplitWholeToList(TextView text, ItemList<Text>& list, TextView separator) {
  SplitToList(text, list, separator, true);
}

void SplitCharsToList(TextView text, ItemList<Text>& list, TextView separator) {
  SplitToList(text, list, separator, false);
}
