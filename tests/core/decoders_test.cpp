#include "core/decoders.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_files.h"

namespace {

Text Decode(std::string bytes, TextFormat format, bool* well_formed = nullptr) {
  bool ok = true;
  Text text = DecodeBytes(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size(), format, ok);
  if (well_formed != nullptr) *well_formed = ok;
  return text;
}

}  // namespace

// What is written before a text must be read back as the same format, whatever the order of
// the marks that begin alike (FF FE, FF FE 00 00).
TEST(ByteOrderMarks, WrittenMarksAreFoundAsTheirFormat) {
  for (TextFormat format :
       {FormatUtf8, FormatUtf16LE, FormatUtf16BE, FormatUtf32LE, FormatUtf32BE}) {
    std::string bytes(ByteOrderMarkBytes(format));
    ASSERT_FALSE(bytes.empty()) << format;
    bytes += "x";
    const ByteOrderMark mark =
        FindByteOrderMark(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    EXPECT_EQ(mark.format, format);
    EXPECT_EQ(mark.length, bytes.size() - 1) << format;
  }
  EXPECT_TRUE(ByteOrderMarkBytes(FormatSingleByte).empty());
}

TEST(DecodeBytes, Utf8DecodesInTwoStages) {
  const struct {
    std::string bytes;
    Text text;
    bool well_formed;
  } cases[] = {
      {Bytes({0x61, 0x80, 0x62}), u"a?b", false},  // a stray byte becomes "?"
      {Bytes({0x61, 0xF8, 0xFF, 0x62}), u"a??b", false},
      {Bytes({0x61, 0xC3, 0x62, 0x63}), Text{u'a', 0x0003, u'c'}, false},  // 62 taken in
      {Bytes({0xF0, 0x9F, 0x98, 0x80}), Text{0xD83D, 0xDE00}, true},
      {Bytes({0xF4, 0x90, 0x80, 0x80, 0x61}), u"", false},
      {Bytes({0x61, 0x62, 0xE2, 0x82}), u"ab", false},   // a group cut off by the end is dropped
      {Bytes({0xC3, 0x00, 0x61}), Text{0x0003}, false},  // the bytes end at a zero in a group
      {Bytes({0x61, 0x00, 0xE9}), u"a", true},           // nothing after a zero is looked at
      {"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", u"Привет", true},
  };
  for (const auto& c : cases) {
    bool well_formed;
    EXPECT_EQ(Decode(c.bytes, FormatUtf8, &well_formed), c.text) << c.bytes;
    EXPECT_EQ(well_formed, c.well_formed) << c.bytes;
  }
}
