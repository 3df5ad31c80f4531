// Lists as office software saves them: each text is written here in UTF-8, converted by the C
// library's iconv, and must give the items of its UTF-8 copy, with the encoding named.
#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/code_pages.h"
#include "core/source_bytes.h"
#include "core/utf8.h"
#include "engine/run_steps.h"
#include "tests/support/byte_sink.h"
#include "tests/support/naive_model.h"
#include "tests/support/read_source.h"
#include "tests/support/test_files.h"

namespace {

std::string Convert(const std::string& utf8, const char* to) {
  iconv_t cd = iconv_open(to, "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << to;
  std::string in = utf8, out(utf8.size() * 4 + 8, '\0');
  char* src = in.data();
  char* dst = out.data();
  size_t src_left = in.size(), dst_left = out.size();
  EXPECT_NE(iconv(cd, &src, &src_left, &dst, &dst_left), static_cast<size_t>(-1)) << to;
  iconv_close(cd);
  out.resize(out.size() - dst_left);
  return out;
}

const char kSurnames[] =
    "Иванов\r\nСмирнова\r\nКузнецов\r\nПопов\r\nВасильев\r\nПетров\r\nСоколова\r\nМихайлов\r\n"
    "Новиков\r\nФёдоров\r\nМорозов\r\nВолков\r\nАлексеева\r\nЛебедев\r\nСемёнов\r\nЕгоров\r\n"
    "Павлов\r\nКозлов\r\nСтепанова\r\nНиколаев\r\nОрлов\r\nАндреев\r\nМакаров\r\nНикитин\r\n";
// What accounting software exports: capitals, numbers, punctuation, several fields a line.
const char k1cExport[] =
    "000123;ИВАНОВ ИВАН ИВАНОВИЧ;ООО \"РОМАШКА\";г. МОСКВА\n"
    "000124;ПЕТРОВА АННА СЕРГЕЕВНА;ИП ПЕТРОВА А.С.;г. ТВЕРЬ\n"
    "000125;СИДОРОВ ПЁТР;АО \"ВЕКТОР\";г. ЯРОСЛАВЛЬ\n";
const char kBankExchange[] =
    "СекцияДокумент=Платежное поручение\nНомер=15\nДата=01.02.2024\nСумма=1500.00\n"
    "Получатель1=ООО \"ВЕКТОР\"\nНазначениеПлатежа=Оплата по счету 12, НДС не облагается\n"
    "КонецДокумента\n";
const char kWestern[] =
    "Müller\nMuller\nStraße\nStrasse\ncafé\ncafe\nOrléans\nOrleans\nZürich\nGenève\nFrançoise\n"
    "Gaëlle\nPeña\nNúñez\n";

// Scripts whose characters may have a zero low byte (一 U+4E00, Ѐ U+0400), and lines long
// enough that their line ends are few among their zeros.
const char kMonths[] = "一月\r\n二月\r\n三月\r\n十一月\r\n十二月";
const char kYolka[] = "Ѐлка\r\nИванов\r\nПетров";
std::string LongCjkLines() {
  std::string text;
  char16_t c = u'\u4E00';  // on through the ideographs, some with a zero low byte
  for (int length : {64, 65, 300, 3000, 20}) {
    for (int k = 0; k < length; ++k) text += Utf8FromText(Text(1, c++));
    text += "\r\n";
  }
  return text;
}

std::string Upper(const std::string& utf8) {
  Text text = TextFromUtf8(utf8);
  for (char16_t& unit : text)
    if ((unit >= u'а' && unit <= u'я') || unit == u'ё')
      unit = unit == u'ё' ? u'Ё' : static_cast<char16_t>(unit - 0x20);
  return Utf8FromText(text);
}

// Items of a dedupe run, in the order the result gives them.
Text Dedupe(const Text& path, SourceNotices* notices = nullptr) {
  RunRequest request;
  request.operation = Operation::ModeDeduplicate;
  request.first_field = path;
  request.read_separator = u"\\r\\n";
  request.result_separator = u"|";
  LoadedRun run;
  EXPECT_EQ(LoadRun(request, run), InputError::None);
  ByteSink result;
  MakeResult(run, result);
  if (notices != nullptr) *notices = run.first_notices;
  return TextFromUtf8(result.bytes());
}

}  // namespace

// Every byte of a code page is a character of its own (so distinct lines stay distinct), the
// one the C library's iconv gives, or the byte's own value where the code page has none.
TEST(Encodings, CodePagesAgreeWithTheCLibrary) {
  const struct {
    CodePage page;
    const char* iconv_name;
  } pages[] = {{CodePage::Windows1251, "CP1251"},
               {CodePage::Koi8R, "KOI8-R"},
               {CodePage::Cp866, "CP866"},
               {CodePage::Windows1252, "CP1252"},
               {CodePage::Latin1, "ISO-8859-1"}};
  for (const auto& p : pages) {
    iconv_t cd = iconv_open("UTF-16LE", p.iconv_name);
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1)) << p.iconv_name;
    std::vector<char16_t> seen;
    for (int b = 0x80; b <= 0xFF; ++b) {
      char in = static_cast<char>(b);
      char16_t out = 0;
      char* src = &in;
      char* dst = reinterpret_cast<char*>(&out);
      size_t src_left = 1, dst_left = 2;
      const bool defined = iconv(cd, &src, &src_left, &dst, &dst_left) != static_cast<size_t>(-1);
      const char16_t expected = defined ? out : static_cast<char16_t>(b);
      EXPECT_EQ(CodePageHighHalf(p.page)[b - 0x80], expected) << p.iconv_name << " byte " << b;
      seen.push_back(CodePageHighHalf(p.page)[b - 0x80]);
    }
    iconv_close(cd);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end()) << p.iconv_name;
  }
}

// Real texts in each code page, in mixed case and in capitals, and in UTF-16 of either order
// with and without a mark: the items of the UTF-8 copy, and the encoding judged is named.
TEST(Encodings, ListsReadAsTheTextTheyHold) {
  ScratchDir scratch("encodings");
  const struct {
    const char* name;
    std::string utf8;
    const char* iconv_name;
    const char* told;  // "" when nothing is told
  } cases[] = {
      {"surnames, Windows-1251", kSurnames, "CP1251", "Windows-1251"},
      {"surnames, KOI8-R", kSurnames, "KOI8-R", "KOI8-R"},
      {"surnames, CP866", kSurnames, "CP866", "CP866"},
      {"capitals, Windows-1251", Upper(kSurnames), "CP1251", "Windows-1251"},
      {"capitals, KOI8-R", Upper(kSurnames), "KOI8-R", "KOI8-R"},
      {"capitals, CP866", Upper(kSurnames), "CP866", "CP866"},
      {"an export, Windows-1251", k1cExport, "CP1251", "Windows-1251"},
      {"an export, KOI8-R", k1cExport, "KOI8-R", "KOI8-R"},
      {"an export, CP866", k1cExport, "CP866", "CP866"},
      {"bank exchange, CP866", kBankExchange, "CP866", "CP866"},
      {"bank exchange, Windows-1251", kBankExchange, "CP1251", "Windows-1251"},
      {"one short line, KOI8-R", "Иванов Иван Иванович, г. Москва", "KOI8-R", "KOI8-R"},
      {"one line in capitals, CP866", "ИВАНОВ ИВАН ИВАНОВИЧ, Г. МОСКВА", "CP866", "CP866"},
      {"Western words, Latin-1", kWestern, "ISO-8859-1", "Windows-1252"},
      {"UTF-16LE with its mark", kSurnames, "UTF-16", ""},
      {"UTF-16LE without a mark", kSurnames, "UTF-16LE", "UTF-16LE"},
      {"UTF-16BE without a mark", kSurnames, "UTF-16BE", "UTF-16BE"},
      {"UTF-8", kSurnames, "UTF-8", ""},
      {"month names, UTF-16LE without a mark", kMonths, "UTF-16LE", "UTF-16LE"},
      {"month names, UTF-16BE without a mark", kMonths, "UTF-16BE", "UTF-16BE"},
      {"Russian with Ѐ, UTF-16LE without a mark", kYolka, "UTF-16LE", "UTF-16LE"},
      {"Russian with Ѐ, UTF-16BE without a mark", kYolka, "UTF-16BE", "UTF-16BE"},
      {"long Chinese lines, UTF-16LE without a mark", LongCjkLines(), "UTF-16LE", "UTF-16LE"},
      {"long Chinese lines, UTF-16BE without a mark", LongCjkLines(), "UTF-16BE", "UTF-16BE"},
      // The halves of a character above U+FFFF may have zero low bytes; they are no sign of
      // another order.
      {"a short line with 𐀀, UTF-16BE without a mark", "ЖЖFO𐀀", "UTF-16BE", "UTF-16BE"},
  };
  for (const auto& c : cases) {
    const std::string utf8_path = scratch.Put("utf8.txt", c.utf8);
    const std::string path = scratch.Put("list.txt", Convert(c.utf8, c.iconv_name));
    SourceNotices notices;
    EXPECT_EQ(Dedupe(TextFromUtf8(path), &notices), Dedupe(TextFromUtf8(utf8_path))) << c.name;
    const std::string told =
        notices.assumed.has_value() ? SourceFormatName(*notices.assumed) : std::string();
    EXPECT_EQ(told, c.told) << c.name;
    // Merge reads the same text.
    EXPECT_EQ(Utf8FromText(ReadThroughRun(TextFromUtf8(path)).text), c.utf8) << c.name;
  }
}

// Lists that are partly UTF-8: lines that are well-formed stay UTF-8, the others are read in the
// code page the first of them shows; nothing is merged that differs, and what is the same text
// in two encodings is one item.
TEST(Encodings, MixedListsKeepEveryLine) {
  ScratchDir scratch("encodings");
  const std::string utf8 = "Жук\nЁж\nЯк\nПетров\n";
  std::string long_line = "a";
  for (int k = 0; k < 40000; ++k) long_line += "Ж";
  const struct {
    const char* name;
    std::string bytes;
    std::vector<Text> items;  // some of the items the result must hold
    size_t count;
    const char* told;
  } cases[] = {
      {"UTF-8 with a Latin-1 word",
       utf8 + "caf\xE9\n",
       {u"Жук", u"café"},
       6,
       "UTF-8 и Windows-1252"},
      {"UTF-8, then Windows-1251",
       utf8 + Convert("Кузнецов\nПетров\n", "CP1251"),
       {u"Кузнецов", u"Петров"},
       6,
       "UTF-8 и Windows-1251"},
      {"Windows-1251, then more UTF-8",
       Convert("Кузнецов\n", "CP1251") + utf8 + utf8,
       {u"Кузнецов", u"Ёж"},
       6,
       "UTF-8 и Windows-1251"},
      {"a stray byte far after plain ASCII",
       std::string(300000, 'x') + "\n" + utf8 + "\xFF\n",
       {u"Жук", u"я"},
       7,
       "UTF-8 и Windows-1251"},
      {"Windows-1251 far after plain ASCII",
       std::string(2 << 20, 'x') + "\n" + Convert("Жук\nЖук\n", "CP1251"),
       {u"Жук"},
       3,
       "Windows-1251"},
      // Cut into pieces between characters, a long UTF-8 line stays UTF-8.
      {"a line of 40,000 Ж, then Windows-1251",
       "Ёж\n" + long_line + "\n" + Convert("Щука\n", "CP1251"),
       {TextFromUtf8(long_line), u"Щука"},
       4,
       "UTF-8 и Windows-1251"},
      {"lines ended by CR alone",
       "Привет\rМосква\rЁлка\rСервер\r" + Convert("Щука\r", "CP1251"),
       {u"Привет", u"Сервер", u"Щука"},
       6,
       "UTF-8 и Windows-1251"},
      {"lines ended by CR LF",
       "Привет\r\nМосква\r\n" + Convert("Щука\r\n", "CP1251") + "Ёлка\r\nСервер\r\n",
       {u"Привет", u"Щука", u"Ёлка"},
       6,
       "UTF-8 и Windows-1251"},
  };
  for (const auto& c : cases) {
    const std::string path = scratch.Put("list.txt", c.bytes);
    RunRequest request;
    request.operation = Operation::ModeDeduplicate;
    request.first_field = TextFromUtf8(path);
    request.read_separator = u"\\r\\n";
    request.result_separator = u"|";
    LoadedRun run;
    ASSERT_EQ(LoadRun(request, run), InputError::None) << c.name;
    ByteSink sink;
    MakeResult(run, sink);
    const Text text = ReadThroughRun(request.first_field).text;
    EXPECT_EQ(sink.bytes(), NaiveRun({Operation::ModeDeduplicate, text, u"", u"\r\n", u"|"}).bytes)
        << c.name;
    const Text result = TextFromUtf8(sink.bytes()) + u"|";
    std::vector<Text> items;
    for (size_t at = 0; at <= result.size();) {
      const size_t bar = std::min(result.find(u'|', at), result.size());
      items.push_back(result.substr(at, bar - at));
      at = bar + 1;
    }
    EXPECT_EQ(items.size(), c.count) << c.name;
    for (const Text& item : c.items)
      EXPECT_NE(std::find(items.begin(), items.end(), item), items.end()) << c.name;
    ASSERT_TRUE(run.first_notices.assumed.has_value()) << c.name;
    EXPECT_EQ(SourceFormatName(*run.first_notices.assumed), c.told) << c.name;
  }
}

// A binary file has zeros at both parities and no lines: it is not taken for UTF-16, its text
// ends at its first zero, and the user hears how little of it was read.
TEST(Encodings, BinaryFilesTellHowMuchOfThemWasRead) {
  ScratchDir scratch("encodings");
  std::string random;
  uint32_t state = 12345;
  for (int k = 0; k < 50000; ++k) {
    state = state * 1103515245 + 12345;
    random.push_back(static_cast<char>(k == 3000 ? 0 : 1 + (state >> 16) % 255));
  }
  random += std::string(64, '\0') + random;
  std::vector<std::pair<std::string, std::string>> files = {{"random.bin", random}};
  const std::string program = ReadWholeFile("/usr/bin/ls");
  if (!program.empty()) files.emplace_back("ls", program);
  for (const auto& [name, bytes] : files) {
    const Text path = TextFromUtf8(scratch.Put(name, bytes));
    // Dedupe reads a source once; Merge reads it again as it writes.
    for (const bool merge : {false, true}) {
      SourceNotices notices;
      if (merge)
        notices = ReadThroughRun(path).notices;
      else
        Dedupe(path, &notices);
      const bool utf16 =
          notices.assumed.has_value() && (notices.assumed->encoding == SourceEncoding::Utf16LE ||
                                          notices.assumed->encoding == SourceEncoding::Utf16BE);
      EXPECT_FALSE(utf16) << name;
      EXPECT_TRUE(notices.ended_at_zero) << name;
      EXPECT_EQ(notices.read_bytes, bytes.find('\0')) << name;
      EXPECT_EQ(notices.size, bytes.size()) << name;
      const std::vector<Text> phrases = SourceNoticePhrases(notices);
      ASSERT_FALSE(phrases.empty()) << name;
      EXPECT_EQ(phrases.back(), u"похож на двоичный: прочитано " +
                                    ByteSizeText(notices.read_bytes) + u" из " +
                                    ByteSizeText(bytes.size(), true))
          << name;
    }
  }
}
