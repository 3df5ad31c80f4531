#include "core/text_format.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_files.h"

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
