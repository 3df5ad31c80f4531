#include "desktop/image_table.h"

#include <array>
#include <cstdint>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "resources/embedded_icons.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  auto operator<=>(const Rgb&) const = default;
};

struct IconFacts {
  ImageNumber number;
  const char* name;
  int size;
  int entries;
  int used;
  int transparent_index;
  int background;
  int min_code_size;
  int transparent_pixels;
};

constexpr IconFacts kIcons[] = {
    {IconOpen, "IconOpen", 16, 128, 102, 127, 102, 7, 31},
    {IconPaste, "IconPaste", 16, 16, 8, 8, 8, 4, 73},
    {IconSwap, "IconSwap", 14, 4, 3, 3, 2, 2, 60},
    {IconWindow, "IconWindow", 16, 16, 10, 15, 10, 4, 97},
};

Bytes EmbeddedCopy(int number) {
  const EmbeddedFile& file = kEmbeddedIcons[number];
  return Bytes(file.data, file.data + file.size);
}

// What a GIF file holds, read byte by byte without giflib.
struct ParsedGif {
  bool complete = false;  // reached the trailer, and the trailer is the last byte
  std::string signature;
  int width = 0, height = 0;
  bool global_table = false;
  std::vector<Rgb> table;
  int background = -1;
  int gce_count = 0;
  int disposal = -1, user_input = -1, transparency_flag = -1, delay = -1, transparent_index = -1;
  int image_count = 0;
  int left = -1, top = -1, image_width = 0, image_height = 0;
  bool local_table = false, interlaced = false;
  int min_code_size = 0;
  Bytes lzw;
};

ParsedGif ParseGif(const Bytes& gif) {
  ParsedGif parsed;
  size_t at = 0;
  auto has = [&](size_t n) { return at + n <= gif.size(); };
  auto word = [&](size_t offset) { return gif[offset] | (gif[offset + 1] << 8); };
  auto skip_sub_blocks = [&](Bytes* into) {
    while (has(1)) {
      const size_t length = gif[at++];
      if (length == 0) return true;
      if (!has(length)) return false;
      if (into) into->insert(into->end(), gif.begin() + at, gif.begin() + at + length);
      at += length;
    }
    return false;
  };
  if (!has(13)) return parsed;
  parsed.signature.assign(gif.begin(), gif.begin() + 6);
  parsed.width = word(6);
  parsed.height = word(8);
  parsed.global_table = gif[10] & 0x80;
  parsed.background = gif[11];
  at = 13;
  if (parsed.global_table) {
    const size_t entries = size_t{2} << (gif[10] & 7);
    if (!has(entries * 3)) return parsed;
    for (size_t i = 0; i < entries; ++i)
      parsed.table.push_back({gif[at + i * 3], gif[at + i * 3 + 1], gif[at + i * 3 + 2]});
    at += entries * 3;
  }
  while (has(1)) {
    const uint8_t introducer = gif[at++];
    if (introducer == 0x3B) {
      parsed.complete = at == gif.size();
      return parsed;
    }
    if (introducer == 0x21) {
      if (!has(1)) return parsed;
      const uint8_t label = gif[at++];
      if (label == 0xF9) {
        if (!has(6) || gif[at] != 4) return parsed;
        ++parsed.gce_count;
        const uint8_t packed = gif[at + 1];
        parsed.disposal = (packed >> 2) & 7;
        parsed.user_input = (packed >> 1) & 1;
        parsed.transparency_flag = packed & 1;
        parsed.delay = word(at + 2);
        parsed.transparent_index = gif[at + 4];
      }
      if (!skip_sub_blocks(nullptr)) return parsed;
    } else if (introducer == 0x2C) {
      if (!has(10)) return parsed;
      ++parsed.image_count;
      parsed.left = word(at);
      parsed.top = word(at + 2);
      parsed.image_width = word(at + 4);
      parsed.image_height = word(at + 6);
      parsed.local_table = gif[at + 8] & 0x80;
      parsed.interlaced = gif[at + 8] & 0x40;
      at += 9;
      if (parsed.local_table) at += (size_t{2} << (gif[at - 1] & 7)) * 3;
      if (!has(1)) return parsed;
      parsed.min_code_size = gif[at++];
      parsed.lzw.clear();
      if (!skip_sub_blocks(&parsed.lzw)) return parsed;
    } else {
      return parsed;
    }
  }
  return parsed;
}

// A decoder of our own for the image data, so that the pixbufs can be checked against the
// palette indices without trusting the decoder under test.
Bytes DecodeLzw(int min_code_size, const Bytes& data) {
  const int clear = 1 << min_code_size;
  const int end = clear + 1;
  std::vector<Bytes> table;
  int width = 0;
  auto reset = [&] {
    table.assign(clear + 2, Bytes{});
    for (int i = 0; i < clear; ++i) table[i] = {static_cast<uint8_t>(i)};
    width = min_code_size + 1;
  };
  reset();
  Bytes out;
  size_t bit = 0;
  int previous = -1;
  while (bit + width <= data.size() * 8) {
    int code = 0;
    for (int i = 0; i < width; ++i, ++bit) code |= ((data[bit / 8] >> (bit % 8)) & 1) << i;
    if (code == clear) {
      reset();
      previous = -1;
      continue;
    }
    if (code == end) return out;
    Bytes entry;
    if (code < static_cast<int>(table.size()) && !table[code].empty()) {
      entry = table[code];
    } else if (code == static_cast<int>(table.size()) && previous >= 0) {
      entry = table[previous];
      entry.push_back(table[previous][0]);
    } else {
      return {};
    }
    out.insert(out.end(), entry.begin(), entry.end());
    if (previous >= 0 && table.size() < 4096) {
      Bytes added = table[previous];
      added.push_back(entry[0]);
      table.push_back(added);
      if (table.size() == (size_t{1} << width) && width < 12) ++width;
    }
    previous = code;
  }
  return {};  // no end code
}

// The pixel at (x, y) as R, G, B, A.
std::array<uint8_t, 4> PixelAt(GdkPixbuf* pixbuf, int x, int y) {
  const guchar* p = gdk_pixbuf_read_pixels(pixbuf) + y * gdk_pixbuf_get_rowstride(pixbuf) + x * 4;
  return {p[0], p[1], p[2], p[3]};
}

// --- Building small GIFs for the decoding rules -------------------------------------------

struct TestFrame {
  int left = 0, top = 0, width = 1, height = 1;
  std::vector<Rgb> local{};  // empty: none
  int transparent = -1;      // -1: a control block without transparency
  bool control_block = true;
  int delay = 0;
  Bytes indices{};
};

struct TestGif {
  int width = 1, height = 1;
  std::vector<Rgb> global{};  // empty: none; otherwise a power of two from 2 entries
  int background = 0;
  std::vector<TestFrame> frames{};
};

int TableBits(size_t entries) {
  int bits = 1;
  while ((size_t{1} << bits) < entries) ++bits;
  return bits;
}

// Image data that never lets the code table grow: a clear code before every pixel keeps
// each code at the minimum width, which any decoder must accept.
Bytes ClearBeforeEveryPixel(int min_code_size, const Bytes& indices) {
  const int clear = 1 << min_code_size;
  const int width = min_code_size + 1;
  Bytes packed;
  uint32_t buffer = 0;
  int count = 0;
  auto emit = [&](int code) {
    buffer |= static_cast<uint32_t>(code) << count;
    count += width;
    while (count >= 8) {
      packed.push_back(buffer & 0xFF);
      buffer >>= 8;
      count -= 8;
    }
  };
  for (uint8_t index : indices) {
    emit(clear);
    emit(index);
  }
  emit(clear + 1);
  if (count) packed.push_back(buffer & 0xFF);
  return packed;
}

Bytes BuildGif(const TestGif& test_gif) {
  Bytes gif = {'G', 'I', 'F', '8', '9', 'a'};
  auto put_word = [&](int value) {
    gif.push_back(value & 0xFF);
    gif.push_back((value >> 8) & 0xFF);
  };
  auto put_table = [&](const std::vector<Rgb>& table) {
    for (const Rgb& c : table) gif.insert(gif.end(), {c.r, c.g, c.b});
  };
  put_word(test_gif.width);
  put_word(test_gif.height);
  gif.push_back(test_gif.global.empty() ? 0 : 0x80 | (TableBits(test_gif.global.size()) - 1));
  gif.push_back(test_gif.background);
  gif.push_back(0);
  put_table(test_gif.global);
  for (const TestFrame& frame : test_gif.frames) {
    if (frame.control_block) {
      gif.insert(gif.end(), {0x21, 0xF9, 4, static_cast<uint8_t>(frame.transparent >= 0 ? 1 : 0)});
      put_word(frame.delay);
      gif.push_back(frame.transparent >= 0 ? frame.transparent : 0);
      gif.push_back(0);
    }
    gif.push_back(0x2C);
    put_word(frame.left);
    put_word(frame.top);
    put_word(frame.width);
    put_word(frame.height);
    gif.push_back(frame.local.empty() ? 0 : 0x80 | (TableBits(frame.local.size()) - 1));
    put_table(frame.local);
    const size_t entries = frame.local.empty() ? test_gif.global.size() : frame.local.size();
    const int min_code_size = std::max(2, TableBits(std::max<size_t>(entries, 2)));
    gif.push_back(min_code_size);
    const Bytes data = ClearBeforeEveryPixel(min_code_size, frame.indices);
    for (size_t at = 0; at < data.size(); at += 255) {
      const size_t length = std::min<size_t>(255, data.size() - at);
      gif.push_back(length);
      gif.insert(gif.end(), data.begin() + at, data.begin() + at + length);
    }
    gif.push_back(0);
  }
  gif.push_back(0x3B);
  return gif;
}

class ImageTableTest : public ::testing::Test {
 protected:
  ImageTable images;
};

// --- The embedded icons --------------------------------------------------------------------

TEST_F(ImageTableTest, EmbeddedFilesHaveThePromisedStructure) {
  for (const IconFacts& icon : kIcons) {
    SCOPED_TRACE(icon.name);
    const ParsedGif gif = ParseGif(EmbeddedCopy(icon.number));
    EXPECT_TRUE(gif.complete);
    EXPECT_EQ(gif.signature, "GIF89a");
    EXPECT_EQ(gif.width, icon.size);
    EXPECT_EQ(gif.height, icon.size);
    EXPECT_TRUE(gif.global_table);
    EXPECT_EQ(static_cast<int>(gif.table.size()), icon.entries);
    EXPECT_EQ(gif.background, icon.background);
    EXPECT_EQ(gif.gce_count, 1);
    EXPECT_EQ(gif.disposal, 0);
    EXPECT_EQ(gif.user_input, 0);
    EXPECT_EQ(gif.transparency_flag, 1);
    EXPECT_EQ(gif.delay, 10);
    EXPECT_EQ(gif.transparent_index, icon.transparent_index);
    EXPECT_EQ(gif.image_count, 1);
    EXPECT_EQ(std::tie(gif.left, gif.top, gif.image_width, gif.image_height),
              std::make_tuple(0, 0, icon.size, icon.size));
    EXPECT_FALSE(gif.local_table);
    EXPECT_FALSE(gif.interlaced);
    EXPECT_EQ(gif.min_code_size, icon.min_code_size);

    const Bytes indices = DecodeLzw(gif.min_code_size, gif.lzw);
    ASSERT_EQ(static_cast<int>(indices.size()), icon.size * icon.size);
    std::set<int> used;
    int transparent = 0;
    for (uint8_t index : indices) {
      if (index == icon.transparent_index) {
        ++transparent;
      } else {
        used.insert(index);
      }
    }
    EXPECT_EQ(transparent, icon.transparent_pixels);
    EXPECT_EQ(static_cast<int>(used.size()), icon.used);
    EXPECT_LT(*used.rbegin(), icon.entries);
  }
}

TEST_F(ImageTableTest, EmbeddedFilesLieOneAfterAnother) {
  for (int number = 1; number < kEmbeddedIconCount; ++number) {
    EXPECT_EQ(kEmbeddedIcons[number].data,
              kEmbeddedIcons[number - 1].data + kEmbeddedIcons[number - 1].size);
  }
}

TEST_F(ImageTableTest, EmbeddedIconsBecomeRgbaPixbufsMatchingTheirPalettes) {
  ASSERT_TRUE(LoadEmbeddedIcons(images));
  for (const IconFacts& icon : kIcons) {
    SCOPED_TRACE(icon.name);
    GdkPixbuf* pixbuf = ImagePixbuf(images, icon.number);
    ASSERT_NE(pixbuf, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_colorspace(pixbuf), GDK_COLORSPACE_RGB);
    EXPECT_TRUE(gdk_pixbuf_get_has_alpha(pixbuf));
    EXPECT_EQ(gdk_pixbuf_get_n_channels(pixbuf), 4);
    EXPECT_EQ(gdk_pixbuf_get_bits_per_sample(pixbuf), 8);
    EXPECT_EQ(gdk_pixbuf_get_width(pixbuf), icon.size);
    EXPECT_EQ(gdk_pixbuf_get_height(pixbuf), icon.size);
    EXPECT_EQ(gdk_pixbuf_get_rowstride(pixbuf), icon.size * 4);
    EXPECT_EQ(G_OBJECT(pixbuf)->ref_count, 1u);  // the table's own reference, nothing leaked

    const ImageEntry* entry = ImageInfo(images, icon.number);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(std::tie(entry->width, entry->height, entry->depth, entry->source_depth,
                       entry->frame_count),
              std::make_tuple(icon.size, icon.size, 32, 8, 1));
    ASSERT_EQ(entry->frames.size(), 1u);
    EXPECT_EQ(entry->frames[0].delay_ms, 100);

    const ParsedGif gif = ParseGif(EmbeddedCopy(icon.number));
    const Bytes indices = DecodeLzw(gif.min_code_size, gif.lzw);
    ASSERT_EQ(static_cast<int>(indices.size()), icon.size * icon.size);
    int transparent = 0;
    for (int y = 0; y < icon.size; ++y) {
      for (int x = 0; x < icon.size; ++x) {
        const int index = indices[y * icon.size + x];
        const auto pixel = PixelAt(pixbuf, x, y);
        if (index == icon.transparent_index) {
          ++transparent;
          EXPECT_EQ(pixel, (std::array<uint8_t, 4>{0, 0, 0, 0})) << x << "," << y;
        } else {
          const Rgb c = gif.table[index];
          EXPECT_EQ(pixel, (std::array<uint8_t, 4>{c.r, c.g, c.b, 255})) << x << "," << y;
        }
      }
    }
    EXPECT_EQ(transparent, icon.transparent_pixels);
  }
}

// The swap arrows' outline has the very grey of the transparent entry, yet must be drawn.
TEST_F(ImageTableTest, SwapOutlineIsOpaqueThoughItSharesTheTransparentGrey) {
  const ParsedGif gif = ParseGif(EmbeddedCopy(IconSwap));
  ASSERT_EQ(gif.table.size(), 4u);
  const Rgb grey{212, 212, 212};
  EXPECT_EQ(gif.table[3], grey);
  ASSERT_TRUE(LoadImageFromMemory(images, IconSwap, kEmbeddedIcons[IconSwap].data,
                                  kEmbeddedIcons[IconSwap].size));
  GdkPixbuf* pixbuf = ImagePixbuf(images, IconSwap);
  ASSERT_NE(pixbuf, nullptr);
  int opaque_grey = 0, opaque = 0;
  for (int y = 0; y < 14; ++y) {
    for (int x = 0; x < 14; ++x) {
      const auto p = PixelAt(pixbuf, x, y);
      if (p[3] == 255) ++opaque;
      if (p == std::array<uint8_t, 4>{212, 212, 212, 255}) ++opaque_grey;
    }
  }
  EXPECT_EQ(opaque, 14 * 14 - 60);
  // The outline rings both arrows: far more than a stray pixel or two.
  EXPECT_GT(opaque_grey, 40);
}

// --- Damaged data ----------------------------------------------------------------------------

struct Damage {
  const char* name;
  std::function<Bytes(const Bytes&)> apply;
};

size_t ImageDataOffset(const Bytes& gif) {
  const size_t entries = size_t{2} << (gif[10] & 7);
  return 13 + entries * 3 + 8 + 10 + 1;  // screen, table, control block, descriptor, code size
}

const Damage kDamages[] = {
    {"truncated in the image data",
     [](const Bytes& g) { return Bytes(g.begin(), g.begin() + g.size() - 12); }},
    {"missing its trailer", [](const Bytes& g) { return Bytes(g.begin(), g.end() - 1); }},
    {"not a GIF signature",
     [](const Bytes& g) {
       Bytes d = g;
       d[0] = 'X';
       return d;
     }},
    {"a bitmap signature",
     [](const Bytes& g) {
       Bytes d = g;
       d[0] = 'B';
       d[1] = 'M';
       return d;
     }},
    {"zero screen width",
     [](const Bytes& g) {
       Bytes d = g;
       d[6] = d[7] = 0;
       return d;
     }},
    {"undecodable image data",
     [](const Bytes& g) {
       Bytes d = g;
       const size_t first = ImageDataOffset(g) + 1;  // past the first block's length byte
       for (size_t i = first; i < first + 8; ++i) d[i] = 0xFF;
       return d;
     }},
    {"frame beyond the screen's right edge",
     [](const Bytes& g) {
       Bytes d = g;
       d[ImageDataOffset(g) - 10] = 1;  // the image's left position
       return d;
     }},
    {"no colour table at all",
     [](const Bytes& g) {
       const size_t entries = size_t{2} << (g[10] & 7);
       Bytes d = g;
       d[10] &= 0x7F;
       d.erase(d.begin() + 13, d.begin() + 13 + entries * 3);
       return d;
     }},
    {"empty", [](const Bytes&) { return Bytes{}; }},
};

TEST_F(ImageTableTest, DamagedIconIsLeftOutAndTheOthersStay) {
  for (const Damage& damage : kDamages) {
    for (const IconFacts& broken : kIcons) {
      SCOPED_TRACE(std::string(damage.name) + " in " + broken.name);
      ASSERT_TRUE(LoadEmbeddedIcons(images));
      // Exact-size heap copies: a read past the end is caught by the address sanitizer.
      for (const IconFacts& icon : kIcons) {
        const Bytes original = EmbeddedCopy(icon.number);
        const Bytes data = icon.number == broken.number ? damage.apply(original) : original;
        const bool loaded = LoadImageFromMemory(images, icon.number,
                                                data.empty() ? nullptr : data.data(), data.size());
        EXPECT_EQ(loaded, icon.number != broken.number) << icon.name;
        EXPECT_EQ(ImagePixbuf(images, icon.number) != nullptr, icon.number != broken.number)
            << icon.name;
      }
    }
  }
}

// Each icon is followed in memory by the next one, so a reader that ignored the size would
// run on into valid data; every cut short file must still fail.
TEST_F(ImageTableTest, ReaderStopsAtTheGivenSizeEvenWhenMoreDataFollows) {
  for (const IconFacts& icon : kIcons) {
    SCOPED_TRACE(icon.name);
    const EmbeddedFile& file = kEmbeddedIcons[icon.number];
    for (size_t size = 0; size < file.size; ++size) {
      ASSERT_FALSE(LoadImageFromMemory(images, icon.number, file.data, size)) << "size " << size;
      Bytes exact(file.data, file.data + size);
      ASSERT_FALSE(LoadImageFromMemory(images, icon.number, exact.data(), exact.size()))
          << "size " << size;
    }
    EXPECT_TRUE(LoadImageFromMemory(images, icon.number, file.data, file.size));
  }
}

// The first read fails inside the image data; the retry then meets a trailer and reports
// success, but the half-decoded frame must not become an image.
TEST_F(ImageTableTest, HalfDecodedFrameFromAFailedFirstReadIsRefused) {
  // clang-format off
  const Bytes gif = {
      'G', 'I', 'F', '8', '9', 'a', 2, 0, 1, 0, 0x80, 0, 0,  // 2 x 1, two-entry table
      200, 0, 0,   0, 150, 0,                              // red, green
      0x2C, 0, 0, 0, 0, 2, 0, 1, 0, 0,                     // image over the whole screen
      2,                                                   // code size
      2, 0x44, 0x01,  // clear, index 0, then the end code one pixel too soon
      0x3B,           // a trailer where the block terminator belongs
  };
  // clang-format on
  EXPECT_FALSE(LoadImageFromMemory(images, IconOpen, gif.data(), gif.size()));
  EXPECT_EQ(ImagePixbuf(images, IconOpen), nullptr);
}

TEST_F(ImageTableTest, NumbersOutsideTheTableHoldNothing) {
  const EmbeddedFile& file = kEmbeddedIcons[IconOpen];
  for (int number : {-1, kImageCount, 1000}) {
    EXPECT_FALSE(LoadImageFromMemory(images, number, file.data, file.size)) << number;
    EXPECT_EQ(ImagePixbuf(images, number), nullptr) << number;
    EXPECT_EQ(ImageInfo(images, number), nullptr) << number;
  }
}

TEST_F(ImageTableTest, ReleaseDropsOnlyTheTablesReferences) {
  ASSERT_TRUE(LoadEmbeddedIcons(images));
  GdkPixbuf* kept = GDK_PIXBUF(g_object_ref(ImagePixbuf(images, IconWindow)));
  ReleaseImages(images);
  for (int number = 0; number < kImageCount; ++number)
    EXPECT_EQ(ImagePixbuf(images, number), nullptr) << number;
  EXPECT_EQ(G_OBJECT(kept)->ref_count, 1u);
  EXPECT_EQ(gdk_pixbuf_get_width(kept), 16);
  EXPECT_EQ(PixelAt(kept, 0, 0)[3], 255);  // the pixel buffer went nowhere with the table
  g_object_unref(kept);
}

// --- The decoding rules, on small hand-made files ------------------------------------------

using Pixels = std::vector<std::array<uint8_t, 4>>;

Pixels AllPixels(GdkPixbuf* pixbuf) {
  Pixels pixels;
  for (int y = 0; y < gdk_pixbuf_get_height(pixbuf); ++y) {
    for (int x = 0; x < gdk_pixbuf_get_width(pixbuf); ++x) pixels.push_back(PixelAt(pixbuf, x, y));
  }
  return pixels;
}

const Rgb kRed{200, 0, 0}, kGreen{0, 150, 0}, kBlue{0, 0, 250}, kWhite{255, 255, 255};
constexpr std::array<uint8_t, 4> kClear{0, 0, 0, 0}, kBlack{0, 0, 0, 255}, kR{200, 0, 0, 255},
    kG{0, 150, 0, 255}, kB{0, 0, 250, 255}, kW{255, 255, 255, 255};

TEST_F(ImageTableTest, CanvasAndPixelRules) {
  const struct {
    const char* name;
    TestGif test_gif;
    Pixels expected;
  } cases[] = {
      {"no transparency: the background colour fills what the frame leaves",
       {2, 1, {kRed, kGreen}, 0, {{.width = 1, .indices = {1}}}},
       {kG, kR}},
      {"background index outside the table gives opaque black",
       {2, 1, {kRed, kGreen}, 7, {{.left = 1, .width = 1, .indices = {0}}}},
       {kBlack, kR}},
      {"background index 255 gives transparent black even without a transparent index",
       {2, 1, {kRed, kGreen}, 255, {{.width = 1, .indices = {1}}}},
       {kG, kClear}},
      {"a frame without a control block has no transparency",
       {2, 1, {kRed, kGreen}, 1, {{.width = 1, .control_block = false, .indices = {0}}}},
       {kR, kG}},
      {"with a transparent index the canvas starts transparent, and the index keeps it so",
       {3,
        1,
        {kRed, kGreen, kBlue, kWhite},
        1,
        {{.width = 3, .transparent = 2, .indices = {0, 2, 1}}}},
       {kR, kClear, kG}},
      {"an index beyond a two-entry table leaves the canvas as it was",
       {2, 1, {kRed, kGreen}, 1, {{.width = 2, .indices = {3, 0}}}},
       {kG, kR}},
      {"a local table wins over the global one",
       {2, 1, {kRed, kGreen}, 0, {{.width = 2, .local = {kBlue, kWhite}, .indices = {1, 0}}}},
       {kW, kB}},
      {"a frame smaller than the screen lands at its position",
       {2, 2, {kRed, kGreen}, 0, {{.left = 1, .top = 1, .width = 1, .height = 1, .indices = {1}}}},
       {kR, kR, kR, kG}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes gif = BuildGif(c.test_gif);
    ASSERT_TRUE(LoadImageFromMemory(images, IconOpen, gif.data(), gif.size()));
    EXPECT_EQ(AllPixels(ImagePixbuf(images, IconOpen)), c.expected);
  }
}

TEST_F(ImageTableTest, LaterFramesDrawOverEarlierOnes) {
  TestGif test_gif{2, 1, {kRed, kGreen, kBlue, kWhite}, 0, {}};
  test_gif.frames.push_back({.width = 2, .transparent = 3, .delay = 7, .indices = {0, 1}});
  test_gif.frames.push_back({.left = 1, .width = 1, .transparent = 3, .delay = 25, .indices = {2}});
  test_gif.frames.push_back({.width = 2, .transparent = 3, .indices = {3, 3}});
  const Bytes gif = BuildGif(test_gif);
  ASSERT_TRUE(LoadImageFromMemory(images, IconPaste, gif.data(), gif.size()));
  const ImageEntry* entry = ImageInfo(images, IconPaste);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->frame_count, 3);
  ASSERT_EQ(entry->frames.size(), 3u);
  EXPECT_EQ(ImagePixbuf(images, IconPaste), entry->frames[0].pixbuf.get());
  EXPECT_EQ(AllPixels(entry->frames[0].pixbuf.get()), (Pixels{kR, kG}));
  EXPECT_EQ(AllPixels(entry->frames[1].pixbuf.get()), (Pixels{kR, kB}));
  EXPECT_EQ(AllPixels(entry->frames[2].pixbuf.get()), (Pixels{kR, kB}));
  EXPECT_EQ(entry->frames[0].delay_ms, 70);
  EXPECT_EQ(entry->frames[1].delay_ms, 250);
}

TEST_F(ImageTableTest, AnyBadFrameSinksTheWholeImage) {
  TestGif test_gif{2, 1, {kRed, kGreen}, 0, {}};
  test_gif.frames.push_back({.width = 2, .indices = {0, 1}});
  test_gif.frames.push_back({.left = 1, .width = 2, .indices = {0, 1}});  // runs off the screen
  const Bytes gif = BuildGif(test_gif);
  EXPECT_FALSE(LoadImageFromMemory(images, IconSwap, gif.data(), gif.size()));
  EXPECT_EQ(ImagePixbuf(images, IconSwap), nullptr);
}

// --- Files that claim far more than an icon ----------------------------------------------

// A GIF that claims the given screen and holds one image descriptor of the given size but no
// pixel data worth the name: cheap to write, and every byte of it is a claim.
Bytes ClaimingGif(int screen_side, int frame_side) {
  Bytes gif = {'G', 'I', 'F', '8', '9', 'a'};
  auto put_word = [&](int value) {
    gif.push_back(value & 0xFF);
    gif.push_back((value >> 8) & 0xFF);
  };
  put_word(screen_side);
  put_word(screen_side);
  gif.insert(gif.end(), {0x80, 0, 0, 0, 0, 0, 255, 255, 255, 0x2C, 0, 0, 0, 0});
  put_word(frame_side);
  put_word(frame_side);
  gif.insert(gif.end(), {0, 2, 2, 0x44, 0x01, 0, 0x3B});
  return gif;
}

Bytes ManyExtensionBlocks(int count) {
  TestGif test_gif{1, 1, {kRed, kGreen}, 0, {{.width = 1, .control_block = false, .indices = {1}}}};
  Bytes gif = BuildGif(test_gif);
  Bytes blocks = {0x21, 0xFE};
  for (int i = 0; i < count; ++i) blocks.insert(blocks.end(), {1, 'x'});
  blocks.push_back(0);
  gif.insert(gif.begin() + 13 + 6, blocks.begin(), blocks.end());
  return gif;
}

Bytes SquareGif(int side, int frames) {
  TestGif test_gif{side, side, {kRed, kGreen}, 0, {}};
  for (int i = 0; i < frames; ++i) {
    test_gif.frames.push_back(
        {.width = side, .height = side, .indices = Bytes(static_cast<size_t>(side) * side, 1)});
  }
  return BuildGif(test_gif);
}

// giflib reads on after an extension whose first sub-block is empty: the bytes 01 3B 00 that a
// stricter reader would refuse as a record are to giflib one more sub-block, and the huge
// frame after them is real.
Bytes FrameBehindAnEmptyExtension(int frame_side) {
  Bytes gif = ClaimingGif(16, frame_side);
  const Bytes hiding = {0x21, 0xFE, 0, 1, 0x3B, 0};
  gif.insert(gif.begin() + 19, hiding.begin(), hiding.end());
  return gif;
}

TEST_F(ImageTableTest, SizesFarBeyondAnIconAreRefused) {
  const struct {
    const char* name;
    Bytes gif;
    bool loads;
  } cases[] = {
      {"the largest screen", SquareGif(256, 1), true},
      {"a screen one pixel wider", SquareGif(257, 1), false},
      {"a 65535 x 65535 screen in 35 bytes", ClaimingGif(65535, 1), false},
      {"a 40000 x 40000 frame on a 16 x 16 screen", ClaimingGif(16, 40000), false},
      {"64 frames", SquareGif(1, 64), true},
      {"65 frames", SquareGif(1, 65), false},
      {"a comment of 1024 blocks", ManyExtensionBlocks(1024), true},
      {"a comment of 1025 blocks", ManyExtensionBlocks(1025), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LoadImageFromMemory(images, IconOpen, c.gif.data(), c.gif.size()), c.loads) << c.name;
  }
}

long VmKilobytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
  }
  return -1;
}

// The refusal must come before the allocation, not from a failed one: a child process loads
// each hostile file and reports how far its address space ever grew.
TEST_F(ImageTableTest, HostileSizesAreRefusedWithoutAllocatingThem) {
  // 40000 x 40000 stays below giflib's own overflow check, so giflib would allocate it.
  const Bytes files[] = {ClaimingGif(65535, 1), ClaimingGif(16, 40000), ClaimingGif(40000, 40000),
                         FrameBehindAnEmptyExtension(40000)};
  for (const Bytes& gif : files) {
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      const long before = VmKilobytes("VmSize:");
      const bool loaded = LoadImageFromMemory(images, IconOpen, gif.data(), gif.size());
      const long growth = VmKilobytes("VmPeak:") - before;
      _exit(!loaded && before > 0 && growth < 32 * 1024 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "file of " << gif.size();
  }
}

}  // namespace
