#include <gtest/gtest.h>

#include "core/utf8.h"
#include "engine/group_worker.h"
#include "tests/support/byte_sink.h"
#include "tests/support/naive_model.h"
#include "tests/support/operation_texts.h"

#include <set>
#include <string>
#include <vector>

namespace {

Text Ascii(const std::string& ascii) {
  return Text(ascii.begin(), ascii.end());
}

}  // namespace

namespace {

// The result text of one operation, written with visible separators.
struct Case {
  const char* name;
  int operation;
  const char16_t* first;
  const char16_t* second;
  const char16_t* read_separator;
  const char16_t* result_separator;
  bool whole;
  bool case_sensitive;
  const char16_t* result;
  int32_t found;
};

GivenRun RunCase(const Case& c) {
  return RunGiven(static_cast<Operation>(c.operation), c.first, c.second ? c.second : u"",
                  c.read_separator, c.result_separator, c.whole, c.case_sensitive);
}

// The n-th of 2^blocks distinct keys that share one hash: the 2-unit blocks (c, b) and
// (c + 65473, b + 3969) add the same amount to it, since 65473 * 65599 + 3969 is 2^32.
Text CollidingKey(uint32_t n, int blocks) {
  Text key;
  for (int j = 0; j < blocks; ++j) {
    const char16_t c = static_cast<char16_t>(u'!' + j % 20), b = static_cast<char16_t>(u'a' + j);
    const bool shifted = (n >> j) & 1;
    key += static_cast<char16_t>(shifted ? c + 65473 : c);
    key += static_cast<char16_t>(shifted ? b + 3969 : b);
  }
  return key;
}

}  // namespace

// Keys land in slot hash % 512: a 97, b 98, c 99, d 100, x 120, y 121, X 88; the walk is by
// ascending slot, so single letters come out in code order.
TEST(Operations, ResultsAndCounts) {
  const Case cases[] = {
      {"only-in-second", 0, u"a;b", u"b;c;c;;d;", u";", u"|", 0, 1, u"c|d|", 2},
      {"only-in-second folds", 0, u"Apple", u"APPLE;Pear;PEAR;pear", u";", u"|", 0, 0, u"Pear|", 1},
      {"only-in-second empty second", 0, u"a", u"", u";", u"|", 0, 1, u"", 0},
      {"only-in-second keeps first spelling", 0, u"z", u"Q;q", u";", u"|", 0, 0, u"Q|", 1},
      {"only-in-second whole rule", 0, u"a", u"b;;a;b", u";", u"|", 1, 1, u"b|", 1},
      {"in-both", 1, u"d;a;b;c", u"c;a;x", u";", u"|", 0, 1, u"a|c|", 2},
      {"in-both folds and shows the first list's spelling", 1, u"Bee;x;BEE", u"bee", u";", u"|", 0,
       0, u"BEE|", 1},
      {"in-both case counts", 1, u"Bee", u"bee", u";", u"|", 0, 1, u"", 0},
      {"in-both empty item", 1, u";a", u"b;", u";", u"|", 1, 1, u"|", 1},
      {"dedupe whole rule", 2, u"b;a;b;;a", nullptr, u";", u"|", 1, 1, u"a|b|", 2},
      {"dedupe folds to the last spelling", 2, u"Foo;foo;FOO", nullptr, u";", u"|", 0, 0, u"FOO|",
       1},
      {"dedupe keeps each key's last spelling", 2, u"Apple;APPLE;pear;Pear", nullptr, u";", u"|", 0,
       0, u"APPLE|Pear|", 2},  // apple 90, pear 454
      {"dedupe only empty", 2, u";;", nullptr, u";", u"|", 1, 1, u"", 0},
      {"count", 3, u"x;y;x;X", nullptr, u";", u"|", 0, 1, u"1 X|2 x|1 y|", 3},
      {"count folded", 3, u"x;y;x;X", nullptr, u";", u"|", 0, 0, u"3 x|1 y|", 2},
      {"count empty text", 3, u"", nullptr, u";", u"|", 0, 1, u"1 |", 1},
      {"merge", 4, u"a;b;c", u"1;2", u";", u"\t", 0, 1, u"a\t1\r\nb\t2\r\nc\r\n", 2},
      {"merge longer second", 4, u"a", u"1;2;3", u";", u"\t", 0, 1, u"a\t1\r\n2\r\n3\r\n", 1},
      {"merge empty texts", 4, u"", u"", u";", u"\t", 0, 1, u"\t\r\n", 1},
      {"merge ignores case", 4, u"A", u"a", u";", u"=", 0, 0, u"A=a\r\n", 1},
  };
  for (const Case& c : cases) {
    const GivenRun got = RunCase(c);
    EXPECT_EQ(TextFromUtf8(got.bytes), c.result) << c.name;
    EXPECT_EQ(got.found, c.found) << c.name;
  }
}

// Results walk the table: slots ascending, newest first within a slot, and a re-added key
// keeps its place.
TEST(Operations, OrderFollowsTheTableNotTheSource) {
  const struct {
    const char16_t *first, *result;
    bool case_sensitive;
  } cases[] = {
      {u"b;a;abc", u"a,abc,b,", true},      // a 97; abc 98, added after b 98
      {u"b;abc;ab;b", u"ab,abc,b,", true},  // ab 65
      {u"b;abc;b", u"abc,b,", true},        // b stays behind abc
      {u"B;abc;b", u"abc,b,", false},       // and so does its newer spelling
      {u"B;a", u"a,B,", false},             // folded keys decide: B files under b
      {u"B;a", u"B,a,", true},              // B 66
  };
  for (const auto& c : cases)
    EXPECT_EQ(Deduplicate(c.first, u";", u",", false, c.case_sensitive), c.result)
        << Utf8FromText(c.first);
  // The empty item has slot 0, so its count comes first.
  EXPECT_EQ(CountUnique(u"b;;a", u";", u",", true, true), u"1 ,1 a,1 b,");
  // Keys of one slot, however many, come out newest first.
  Text list, newest_first;
  for (uint32_t n = 0; n < 64; ++n) {
    list += CollidingKey(n, 6) + u"\n";
    newest_first.insert(0, CollidingKey(n, 6) + u"\n");
  }
  EXPECT_EQ(Deduplicate(list, u"\n", u"\n", false, true), newest_first);
}

// Merge keeps every item in its place: with an empty second list and no result separator it
// writes the items one to a line.
TEST(Operations, ListsSplitByTheWholeStringOrByEachCharacter) {
  const struct {
    const char16_t *text, *separator;
    bool whole;
    std::vector<Text> items;
  } cases[] = {
      {u"a;b;;c;", u";", true, {u"a", u"b", u"", u"c", u""}},  // every empty item kept
      {u";a", u";", true, {u"", u"a"}},
      {u"", u";", true, {u""}},
      {u"abc", u";", true, {u"abc"}},
      {u"xaby", u"ab", true, {u"x", u"y"}},
      {u"xbay", u"ab", true, {u"xbay"}},
      {u"a\r\nb\nc\r\n", u"\r\n", true, {u"a", u"b\nc", u""}},
      {u"a\r\n\r\nb", u"\r\n", true, {u"a", u"", u"b"}},
      {u"ab", u"abc", true, {u"ab"}},                      // separator longer than the text
      {u"aaaa", u"aa", true, {u"", u"", u""}},             // occurrences never overlap
      {u"a;b;;c;", u";", false, {u"a", u"b", u"c", u""}},  // empty pieces dropped but the last
      {u";a", u";", false, {u"a"}},
      {u"", u";", false, {u""}},
      {u"xaby", u"ab", false, {u"x", u"y"}},
      {u"xbay", u"ab", false, {u"x", u"y"}},
      {u"a\r\nb\nc\rd\r\n\r\n", u"\r\n", false, {u"a", u"b", u"c", u"d", u""}},
      {u";;;", u";", false, {u""}},
      {u"a\u0416b", u"\u0416;", false, {u"a", u"b"}},
      {u"no separator here", u"\t", false, {u"no separator here"}},
  };
  for (const auto& c : cases) {
    Text lines;
    for (const Text& item : c.items) lines += item + u"\r\n";
    EXPECT_EQ(Merge(c.text, u"", c.separator, u"", c.whole), lines) << Utf8FromText(c.text);
  }
  // Many items, keyed with and without case, as the model splits and files them.
  Text many;
  for (int n = 0; n < 3000; ++n) many += Ascii("Item" + std::to_string(n % 37)) + u"\r\n";
  for (const Operation operation : {Operation::ModeDeduplicate, Operation::ModeCountUnique}) {
    for (const bool case_sensitive : {true, false}) {
      const GivenRun got =
          RunGiven(operation, many, u"", u"\r\n", u"|", false, case_sensitive, true);
      const NaiveResult expected =
          NaiveRun({operation, many, u"", u"\r\n", u"|", false, case_sensitive});
      EXPECT_EQ(got.bytes, expected.bytes);
      EXPECT_EQ(got.found, expected.count);
    }
  }
}

TEST(Operations, CyrillicFoldsUnderTheUtf8Locale) {
  const GivenRun dedupe =
      RunGiven(Operation::ModeDeduplicate, u"Ёж\nЁЖ\nёж", u"", u"\n", u";", false, false);
  EXPECT_EQ(TextFromUtf8(dedupe.bytes), u"ёж;");
  EXPECT_EQ(dedupe.found, 1);
  EXPECT_EQ(OnlyInSecond(u"МОСКВА", u"москва\nКиев", u"\n", u";", false, false), u"Киев;");
}

// The four modes of later, and trimming and ё folding under every mode. Slots as above; a
// folded key files under the slot of its folded form: еж 321, Еж 353, apple 90, pear 454.
TEST(Operations, NewModesAndItemRules) {
  const struct {
    const char* name;
    Operation operation;
    const char16_t *first, *second;
    bool whole, case_sensitive, trim, fold_yo;
    const char16_t* result;
    int32_t found;
  } cases[] = {
      {"only-in-first mirrors only-in-second", Operation::ModeOnlyInFirst, u"a;b;c;c;;d", u"b",
       false, true, false, false, u"a|c|d|", 3},
      {"only-in-first keeps the first spelling", Operation::ModeOnlyInFirst, u"Q;q;z", u"Z", false,
       false, false, false, u"Q|", 1},
      {"only-in-first never shows the empty item", Operation::ModeOnlyInFirst, u";;a", u"b", true,
       true, false, false, u"a|", 1},
      {"union without repeats or the empty item", Operation::ModeUnion, u"b;a", u"c;a;;", true,
       true, false, false, u"a|b|c|", 3},
      {"union spells a key as the list that brought it", Operation::ModeUnion, u"Apple;APPLE",
       u"apple;Pear;pear", false, false, false, false, u"APPLE|pear|", 2},
      {"union: the first list's keys are older", Operation::ModeUnion, u"abc", u"b", false, true,
       false, false, u"b|abc|", 2},  // abc and b share slot 98
      {"symmetric", Operation::ModeSymmetric, u"a;b;c", u"b;d", false, true, false, false,
       u"a|c|d|", 3},
      {"symmetric folds", Operation::ModeSymmetric, u"A;b", u"a;C", false, false, false, false,
       u"b|C|", 2},
      {"duplicates: the repeated items, each once", Operation::ModeDuplicates, u"x;y;x;X;", nullptr,
       false, true, false, false, u"x|", 1},
      {"duplicates folded keep the last spelling", Operation::ModeDuplicates, u"x;y;x;X", nullptr,
       false, false, false, false, u"X|", 1},
      {"duplicates never shows the empty item", Operation::ModeDuplicates, u"a;;;a", nullptr, true,
       true, false, false, u"a|", 1},
      {"trim: ends only, every kind of white space", Operation::ModeDeduplicate,
       u" a ;a;\u00A0b\u3000;\uFEFFb\u200B;a b", nullptr, false, true, true, false, u"a b|a|b|", 3},
      {"trim: white space alone is the empty item", Operation::ModeCountUnique, u" ;\t\u2028;a",
       nullptr, false, true, true, false, u"2 |1 a|", 2},
      {"trim before comparing", Operation::ModeOnlyInSecond, u"a\u00A0", u" a;b\u205F", false, true,
       true, false, u"b|", 1},
      {"trim leaves the inside", Operation::ModeInBoth, u"a\u00A0b", u"a b", false, true, true,
       false, u"", 0},
      {"trim merges trimmed items", Operation::ModeMerge, u" a ;b", u"1\u00A0;2", false, true, true,
       false, u"a|1\r\nb|2\r\n", 2},
      {"ё as е keeps the last spelling", Operation::ModeDeduplicate, u"Орел;Орёл", nullptr, false,
       true, false, true, u"Орёл|", 1},
      {"ё folding tells case apart", Operation::ModeDeduplicate, u"еж;Ёж;ёж", nullptr, false, true,
       false, true, u"ёж|Ёж|", 2},
      {"ё folding with -i: all four alike", Operation::ModeDeduplicate, u"ёж;Ёж;еж;Еж", nullptr,
       false, false, false, true, u"Еж|", 1},
      {"count shows the folded key", Operation::ModeCountUnique, u"Орёл;Орел", nullptr, false, true,
       false, true, u"2 Орел|", 1},
      {"in-both with ё folding", Operation::ModeInBoth, u"Орёл", u"Орел", false, true, false, true,
       u"Орёл|", 1},
      {"only-in-second with ё folding", Operation::ModeOnlyInSecond, u"Орёл", u"Орел;Ёж", false,
       true, false, true, u"Ёж|", 1},
      {"only-in-first with ё folding", Operation::ModeOnlyInFirst, u"Орёл;Ёж;ёж;еж", u"Орел", false,
       true, false, true, u"ёж|Ёж|", 2},
  };
  for (const auto& c : cases) {
    RunRequest request;
    request.operation = c.operation;
    request.first_text = SourceText{c.first, {}, false};
    request.second_text = SourceText{c.second ? c.second : u"", {}, false};
    request.read_separator.assign(1, u';');
    request.result_separator.assign(1, u'|');
    request.whole_separator = c.whole;
    request.case_sensitive = c.case_sensitive;
    request.trim = c.trim;
    request.fold_yo = c.fold_yo;
    LoadedRun run;
    ASSERT_EQ(LoadRun(request, run), InputError::None) << c.name;
    ByteSink sink(false);
    const int32_t found = MakeResult(run, sink).found;
    EXPECT_EQ(TextFromUtf8(sink.bytes()), c.result) << c.name;
    EXPECT_EQ(found, c.found) << c.name;
    const NaiveResult model = NaiveRun({c.operation, c.first, c.second ? c.second : u"", u";", u"|",
                                        c.whole, c.case_sensitive, c.trim, c.fold_yo});
    EXPECT_EQ(model.bytes + (c.operation == Operation::ModeMerge ? "\r\n"
                             : c.found                           ? "|"
                                                                 : ""),
              sink.bytes())
        << c.name << " (model)";
  }
}

TEST(Operations, UnknownOperationGivesNothing) {
  const GivenRun got = RunGiven(static_cast<Operation>(9), u"a", u"b", u";", u"|", false, true);
  EXPECT_EQ(got.bytes, "");
  EXPECT_EQ(got.found, 0);
}

TEST(Operations, LargeListsAgreeWithASimpleModel) {
  // 30000 items, a third of them repeats, some differing in case only.
  Text first, second;
  std::vector<Text> first_items, second_items;
  for (int n = 0; n < 30000; ++n) {
    Text item = Ascii("user" + std::to_string(n * 7 % 20000) + "@mail.example");
    if (n % 11 == 0) item = Ascii("USER" + std::to_string(n * 7 % 20000) + "@mail.example");
    first += item + u"\n";
    first_items.push_back(item);
    Text other = Ascii("user" + std::to_string(n * 3 % 25000) + "@mail.example");
    second += other + u"\n";
    second_items.push_back(other);
  }
  std::set<Text> in_first(first_items.begin(), first_items.end());
  std::set<Text> expected_only;
  for (const Text& item : second_items)
    if (!in_first.count(item)) expected_only.insert(item);
  const GivenRun only =
      RunGiven(Operation::ModeOnlyInSecond, first, second, u"\n", u"\n", false, true);
  const Text result = TextFromUtf8(only.bytes);
  std::set<Text> got;
  size_t from = 0;
  for (size_t at; (at = result.find(u'\n', from)) != Text::npos; from = at + 1)
    got.insert(result.substr(from, at - from));
  EXPECT_EQ(got, expected_only);
  EXPECT_EQ(only.found, static_cast<int32_t>(expected_only.size()));
  in_first.erase(u"");
  EXPECT_EQ(RunGiven(Operation::ModeDeduplicate, first, u"", u"\n", u"\n", false, true).found,
            static_cast<int32_t>(in_first.size()));
}

// Keys are compared and lines copied as words that may overlap: a change at any byte of a key of
// any length must still tell it apart, and a copy must take each byte and nothing past them.
TEST(SameBytes, TellsKeysApartAtEveryByteOfEveryLength) {
  for (size_t n = 0; n <= 40; ++n) {
    std::string a(n, 'k');
    for (size_t i = 0; i < n; ++i) a[i] = static_cast<char>('a' + i % 26);
    const std::string b = a;
    const auto* x = reinterpret_cast<const unsigned char*>(a.data());
    EXPECT_TRUE(SameBytes(x, reinterpret_cast<const unsigned char*>(b.data()), n)) << n;
    for (size_t i = 0; i < n; ++i) {
      std::string c = a;
      c[i] = static_cast<char>(c[i] ^ 0x40);
      EXPECT_FALSE(SameBytes(x, reinterpret_cast<const unsigned char*>(c.data()), n))
          << n << " " << i;
    }
    std::string copy(n + 8, '-');
    CopyBytes(copy.data(), x, n);
    EXPECT_EQ(copy, a + std::string(8, '-')) << n;
  }
}
