#include "tests/support/naive_model.h"

#include <algorithm>
#include <array>
#include <vector>

#include "core/utf8.h"

namespace {

// Every piece between separators; the character rule drops the empty ones but the last.
void Split(TextView text, TextView separator, bool whole, std::vector<TextView>& items) {
  items.clear();
  size_t start = 0;
  if (whole) {
    for (size_t at; !separator.empty() && (at = text.find(separator, start)) != TextView::npos;
         start = at + separator.size())
      items.push_back(text.substr(start, at - start));
  } else {
    for (size_t i = 0; i < text.size(); ++i) {
      if (separator.find(text[i]) == TextView::npos) continue;
      if (i > start) items.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  items.push_back(text.substr(start));
}

struct Entry {
  TextView key;
  TextView shown;  // the spelling the result gives
  int32_t count = 0;
  bool marked = false;
  int source = 0;  // where the key was first seen: the source and its item's number there
  size_t first = 0;
};

// 512 slots, each kept oldest first: the walk reads a slot from its end.
class Table {
 public:
  void Clear() {
    for (auto& slot : slots_) slot.clear();
  }
  Entry* Find(TextView key) {
    for (Entry& e : slots_[NaiveSlot(key)])
      if (e.key == key) return &e;
    return nullptr;
  }
  // A key already there keeps its place and takes the newer spelling.
  Entry& Add(TextView key, TextView shown, int source = 0, size_t first = 0) {
    if (Entry* e = Find(key)) {
      e->shown = shown;
      return *e;
    }
    return slots_[NaiveSlot(key)].emplace_back(Entry{key, shown, 0, false, source, first});
  }
  template <typename Fn>
  void Walk(Fn&& fn) {
    for (auto& slot : slots_)
      for (auto e = slot.rbegin(); e != slot.rend(); ++e) fn(*e);
  }

 private:
  std::array<std::vector<Entry>, 512> slots_;
};

// Unicode's White_Space, and the zero-width space and the byte-order mark of pasted text.
bool IsWhiteSpace(char16_t u) {
  return (u >= 0x09 && u <= 0x0D) || u == 0x20 || u == 0x85 || u == 0xA0 || u == 0x1680 ||
         (u >= 0x2000 && u <= 0x200B) || u == 0x2028 || u == 0x2029 || u == 0x202F || u == 0x205F ||
         u == 0x3000 || u == 0xFEFF;
}

TextView Trimmed(TextView item) {
  while (!item.empty() && IsWhiteSpace(item.front())) item.remove_prefix(1);
  while (!item.empty() && IsWhiteSpace(item.back())) item.remove_suffix(1);
  return item;
}

char16_t FoldUnit(char16_t u, const NaiveInput& in) {
  if (!in.case_sensitive) u = LowerUnit(u);
  if (in.fold_yo && u == u'ё') u = u'е';
  if (in.fold_yo && u == u'Ё') u = u'Е';
  return u;
}

// The items of one source with their keys: views into the source, or into its folded copy at
// the same places (folding keeps the length).
struct Items {
  Items(TextView text, const NaiveInput& in) {
    Split(text, in.read_separator, in.whole_separator, items);
    if (in.trim)
      for (TextView& item : items) item = Trimmed(item);
    if (in.case_sensitive && !in.fold_yo) {
      keys = items;
      return;
    }
    folded.resize(text.size());
    for (size_t i = 0; i < text.size(); ++i) folded[i] = FoldUnit(text[i], in);
    for (TextView item : items)
      keys.push_back(
          TextView(folded).substr(static_cast<size_t>(item.data() - text.data()), item.size()));
  }
  std::vector<TextView> items;
  std::vector<TextView> keys;
  Text folded;
};

// The code point at text[i], a surrogate without its partner standing for itself; i moves past it.
char32_t NextCodePoint(TextView text, size_t& i) {
  const char16_t u = text[i++];
  if (u >= 0xD800 && u < 0xDC00 && i < text.size() && text[i] >= 0xDC00 && text[i] < 0xE000)
    return 0x10000 + ((u - 0xD800) << 10) + (text[i++] - 0xDC00);
  return u;
}

// Whether x comes before y in code point order.
bool CodePointsBefore(TextView x, TextView y) {
  size_t i = 0, j = 0;
  while (i < x.size() && j < y.size()) {
    const char32_t a = NextCodePoint(x, i), b = NextCodePoint(y, j);
    if (a != b) return a < b;
  }
  return j < y.size();
}

// A line of the result with what its order goes by.
struct Line {
  Text text;
  TextView item;  // what code point order compares
  const Entry* entry;
};

// The lines in the order asked for; those of the table's walk come in as they are.
void PutInOrder(std::vector<Line>& lines, ItemOrder order) {
  auto first_seen = [](const Line& x, const Line& y) {
    if (x.entry->source != y.entry->source) return x.entry->source < y.entry->source;
    return x.entry->first < y.entry->first;
  };
  switch (order) {
    case ItemOrder::OrderTable:
      break;
    case ItemOrder::OrderFirst:
      std::sort(lines.begin(), lines.end(), first_seen);
      break;
    case ItemOrder::OrderSorted:
      std::sort(lines.begin(), lines.end(), [&](const Line& x, const Line& y) {
        if (x.item != y.item) return CodePointsBefore(x.item, y.item);
        return first_seen(x, y);
      });
      break;
    case ItemOrder::OrderCount:
      std::sort(lines.begin(), lines.end(), [&](const Line& x, const Line& y) {
        if (x.entry->count != y.entry->count) return x.entry->count > y.entry->count;
        return first_seen(x, y);
      });
      break;
  }
}

}  // namespace

uint32_t NaiveSlot(TextView key) {
  uint32_t h = 0;
  for (char16_t unit : key) h = h * 65599u + unit;
  return h % 512;
}

NaiveResult NaiveRun(const NaiveInput& in) {
  // Kept from call to call: a fuzz target runs this thousands of times a second.
  static Table table, found;
  table.Clear();
  found.Clear();
  Text out;
  size_t last_separator = 0;
  int32_t count = 0;
  auto emit = [&](TextView text, TextView separator) {
    out.append(text).append(separator);
    last_separator = separator.size();
  };
  // The lines of the table operations, put in order before they are emitted.
  std::vector<Line> lines;
  const Items a(in.first, in);
  const Items b(in.second, in);
  // The items of source `source` whose keys the other lacks (an empty item is never missing).
  // Lookups go by the key; the result keeps the first spelling and walks by that spelling.
  auto only_in = [&](const Items& items, const Items& other, int source) {
    for (TextView key : other.keys) table.Add(key, key);
    table.Add(u"", u"");
    for (size_t i = 0; i < items.items.size(); ++i) {
      if (table.Find(items.keys[i]) != nullptr) continue;
      table.Add(items.keys[i], items.keys[i]);
      found.Add(items.items[i], items.items[i], source, i);
    }
    found.Walk([&](Entry& e) { lines.push_back({Text(e.shown), e.shown, &e}); });
  };
  switch (in.operation) {
    case Operation::ModeOnlyInSecond:
      only_in(b, a, 1);
      break;
    case Operation::ModeInBoth:
      for (size_t i = 0; i < a.items.size(); ++i) table.Add(a.keys[i], a.items[i], 0, i);
      for (TextView key : b.keys)
        if (Entry* e = table.Find(key)) e->marked = true;
      table.Walk([&](Entry& e) {
        if (e.marked) lines.push_back({Text(e.shown), e.shown, &e});
      });
      break;
    case Operation::ModeDeduplicate:
      for (size_t i = 0; i < a.items.size(); ++i) table.Add(a.keys[i], a.items[i], 0, i);
      table.Walk([&](Entry& e) {
        // An empty item never reaches the result.
        if (!e.key.empty()) lines.push_back({Text(e.shown), e.shown, &e});
      });
      break;
    case Operation::ModeCountUnique:
      for (size_t i = 0; i < a.keys.size(); ++i) ++table.Add(a.keys[i], a.keys[i], 0, i).count;
      table.Walk([&](Entry& e) {
        lines.push_back({TextFromInteger(e.count) + u" " + Text(e.key), e.key, &e});
      });
      break;
    case Operation::ModeMerge:
      for (size_t i = 0; i < std::max(a.items.size(), b.items.size()); ++i) {
        if (i < a.items.size() && i < b.items.size()) {
          emit(Text(a.items[i]) + Text(in.result_separator) + Text(b.items[i]), u"\r\n");
          ++count;
        } else {
          emit(i < a.items.size() ? a.items[i] : b.items[i], u"\r\n");
        }
      }
      break;
    case Operation::ModeOnlyInFirst:
      only_in(a, b, 0);
      break;
    case Operation::ModeUnion:
    case Operation::ModeSymmetric:
      // The first list's keys, then the second's; a key keeps the last spelling of the list
      // that brought it, and is marked when the other list has it too.
      for (size_t i = 0; i < a.items.size(); ++i) table.Add(a.keys[i], a.items[i], 0, i);
      for (size_t i = 0; i < b.items.size(); ++i) {
        if (Entry* e = table.Find(b.keys[i]); e != nullptr && e->source == 0) {
          e->marked = true;
          continue;
        }
        table.Add(b.keys[i], b.items[i], 1, i);
      }
      table.Walk([&](Entry& e) {
        if (e.key.empty()) return;  // an empty item never reaches the result
        if (in.operation == Operation::ModeSymmetric && e.marked) return;
        lines.push_back({Text(e.shown), e.shown, &e});
      });
      break;
    case Operation::ModeDuplicates:
      for (size_t i = 0; i < a.items.size(); ++i) ++table.Add(a.keys[i], a.items[i], 0, i).count;
      table.Walk([&](Entry& e) {
        if (e.count > 1 && !e.key.empty()) lines.push_back({Text(e.shown), e.shown, &e});
      });
      break;
    default:
      break;
  }
  PutInOrder(lines, in.order);
  for (const Line& line : lines) {
    emit(line.text, in.result_separator);
    ++count;
  }
  out.resize(out.size() - last_separator);
  return {Utf8FromText(out, LoneHighSurrogate::ThreeBytes), count};
}
