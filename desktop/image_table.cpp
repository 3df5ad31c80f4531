#include "desktop/image_table.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "resources/embedded_icons.h"

namespace {

constexpr int kRgbaDepth = 32;
constexpr int kPaletteDepth = 8;

struct GFree {
  void operator()(void* memory) const { g_free(memory); }
};
using PixelBuffer = std::unique_ptr<uint8_t[], GFree>;

struct GifClose {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};
using GifPtr = std::unique_ptr<GifFileType, GifClose>;

// The only window giflib has onto the data: it never hands out a byte outside [data, size).
struct MemoryReader {
  const unsigned char* data = nullptr;
  size_t size = 0;
  size_t position = 0;
};

int ReadFromMemory(GifFileType* gif, GifByteType* buffer, int count) {
  auto* reader = static_cast<MemoryReader*>(gif->UserData);
  if (count <= 0 || reader->position >= reader->size) return 0;
  // A request running past the end gets what is left; giflib then reports the short read.
  const size_t length = std::min(static_cast<size_t>(count), reader->size - reader->position);
  std::memcpy(buffer, reader->data + reader->position, length);
  reader->position += length;
  return static_cast<int>(length);
}

struct ImageShape {
  int width = 0;
  int height = 0;
  int depth = 0;
  int source_depth = 0;
  int frame_count = 0;
};

// Everything one decode holds; the close step is the destruction of its members.
struct DecodingContext {
  MemoryReader reader;
  GifPtr gif;
  // A frame that a failed first read left half decoded; a retry that then succeeds still
  // carries it, and its unread pixels are garbage.
  int damaged_frame = -1;
  PixelBuffer canvas;
};

struct Decoder {
  const char* format;  // four letters
  bool (*recognise)(DecodingContext& context, ImageShape& shape);
  // Fills rgba (width * height * 4 bytes) with frame k composed onto the canvas.
  bool (*decode_frame)(DecodingContext& context, int frame, uint8_t* rgba, int& delay_ms);
};

// The loader exists for the program's own icons (16 x 16, one frame). giflib allocates each
// frame's pixels, and the caller a canvas and a buffer per frame, at whatever size the file
// claims: a 35-byte file may claim 65535 x 65535, and a few hundred bytes may claim hundreds of
// frames. Anything far beyond an icon is refused before giflib allocates for it; at these
// bounds one image costs at most about 17 MB.
constexpr int kMaxScreenSide = 256;
constexpr int kMaxFrames = 64;
// giflib keeps every extension sub-block (up to 255 bytes) and regrows its list by one entry
// for each, so their number is bounded too.
constexpr int kMaxExtensionBlocks = 1024;

struct RecordBudget {
  int frames = kMaxFrames;
  int extension_blocks = kMaxExtensionBlocks;
};

// Walks the records that DGifSlurp is about to read from the reader's position, with giflib's
// own grammar, and spends the budget on what it would allocate. False when a frame is larger
// than the screen or the budget runs out. A walk that meets the trailer, an unknown record or
// the end of the data stops with true: giflib stops there as well, with nothing more to
// allocate. Where giflib fails inside image data, it stops on a block boundary, so a second
// walk from the reader's new position sees what a second DGifSlurp will read.
//
// One trap: after an extension whose first sub-block is already the empty terminator, the
// giflib we build against reads on through the next chain of sub-blocks as part of the
// extension, where a stricter reader would take a record. A file can hide a frame from one
// reading in the other, so the walk follows both readings; a position it has walked once is
// not walked again, which keeps it linear in the size of the data.
bool RecordsWithinBounds(const MemoryReader& reader, int screen_width, int screen_height,
                         RecordBudget& budget) {
  const unsigned char* data = reader.data;
  const size_t size = reader.size;
  size_t at = reader.position;
  // Steps over data sub-blocks up to their empty terminator; false at the end of the data.
  auto skip_sub_blocks = [&](int* counted) {
    while (at < size) {
      const size_t length = data[at++];
      if (length == 0) return true;
      if (counted && --*counted < 0) return false;
      if (length > size - at) return false;
      at += length;
    }
    return false;
  };
  std::vector<bool> walked(size, false);
  std::vector<size_t> record_starts = {at};
  while (!record_starts.empty()) {
    at = record_starts.back();
    record_starts.pop_back();
    while (at < size && !walked[at]) {
      walked[at] = true;
      const unsigned char introducer = data[at++];
      if (introducer == 0x21) {
        if (size - at < 2) break;
        ++at;  // the extension's label
        const size_t first_length = data[at++];
        if (first_length == 0) {
          record_starts.push_back(at);  // the stricter reading
        } else {
          if (--budget.extension_blocks < 0) return false;
          if (first_length > size - at) break;
          at += first_length;
        }
        if (!skip_sub_blocks(&budget.extension_blocks)) {
          if (budget.extension_blocks < 0) return false;
          break;
        }
      } else if (introducer == 0x2C) {
        if (size - at < 9) break;
        const int width = data[at + 4] | data[at + 5] << 8;
        const int height = data[at + 6] | data[at + 7] << 8;
        const unsigned char flags = data[at + 8];
        at += 9;
        if (--budget.frames < 0 || width > screen_width || height > screen_height) return false;
        if (flags & 0x80) {
          const size_t table_bytes = size_t{3} << ((flags & 7) + 1);
          if (table_bytes > size - at) break;
          at += table_bytes;
        }
        if (at >= size) break;
        ++at;  // the LZW minimum code size
        if (!skip_sub_blocks(nullptr)) break;
      } else {
        break;  // the trailer, or a record giflib refuses
      }
    }
  }
  return true;
}

bool RecogniseGif(DecodingContext& context, ImageShape& shape) {
  int error = 0;
  context.gif.reset(DGifOpen(&context.reader, ReadFromMemory, &error));
  if (!context.gif) return false;
  GifFileType* gif = context.gif.get();
  if (gif->SWidth < 1 || gif->SHeight < 1) return false;
  if (gif->SWidth > kMaxScreenSide || gif->SHeight > kMaxScreenSide) return false;
  RecordBudget budget;
  if (!RecordsWithinBounds(context.reader, gif->SWidth, gif->SHeight, budget)) return false;
  if (DGifSlurp(gif) != GIF_OK) {
    context.damaged_frame = gif->ImageCount - 1;
    // The failed read may have left extension blocks waiting for their image; the second
    // read starts a fresh list and would lose them.
    GifFreeExtensions(&gif->ExtensionBlockCount, &gif->ExtensionBlocks);
    if (!RecordsWithinBounds(context.reader, gif->SWidth, gif->SHeight, budget)) return false;
    if (DGifSlurp(gif) != GIF_OK) return false;
  }
  if (gif->ImageCount < 1) return false;
  shape.width = gif->SWidth;
  shape.height = gif->SHeight;
  shape.depth = kRgbaDepth;
  shape.source_depth = kPaletteDepth;
  shape.frame_count = gif->ImageCount;
  return true;
}

void PutColour(uint8_t* pixel, const GifColorType& colour) {
  pixel[0] = colour.Red;
  pixel[1] = colour.Green;
  pixel[2] = colour.Blue;
  pixel[3] = 255;
}

bool DecodeGifFrame(DecodingContext& context, int frame, uint8_t* rgba, int& delay_ms) {
  GifFileType* gif = context.gif.get();
  if (frame < 0 || frame >= gif->ImageCount || frame == context.damaged_frame) return false;
  const SavedImage& image = gif->SavedImages[frame];
  const GifImageDesc& desc = image.ImageDesc;
  const ColorMapObject* colours = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
  if (!colours || !colours->Colors || colours->ColorCount < 1) return false;
  if (desc.Left < 0 || desc.Top < 0 || desc.Width < 1 || desc.Height < 1 ||
      desc.Width > gif->SWidth - desc.Left || desc.Height > gif->SHeight - desc.Top) {
    return false;
  }
  if (!image.RasterBits) return false;

  GraphicsControlBlock control{};
  control.TransparentColor = NO_TRANSPARENT_COLOR;
  if (DGifSavedExtensionToGCB(gif, frame, &control) != GIF_OK) {
    control = GraphicsControlBlock{};
    control.TransparentColor = NO_TRANSPARENT_COLOR;
  }
  delay_ms = control.DelayTime * 10;

  const size_t screen_pixels = static_cast<size_t>(gif->SWidth) * gif->SHeight;
  if (!context.canvas) {
    context.canvas.reset(static_cast<uint8_t*>(g_try_malloc(screen_pixels * 4)));
    if (!context.canvas) return false;
    uint8_t background[4] = {0, 0, 0, 0};
    if (control.TransparentColor == NO_TRANSPARENT_COLOR && gif->SBackGroundColor != 255) {
      background[3] = 255;  // opaque black unless the index names a colour
      if (gif->SBackGroundColor < colours->ColorCount) {
        PutColour(background, colours->Colors[gif->SBackGroundColor]);
      }
    }
    for (size_t i = 0; i < screen_pixels; ++i)
      std::memcpy(context.canvas.get() + i * 4, background, 4);
  }

  // Later frames are drawn over what the earlier ones left; no embedded image animates, so
  // the disposal methods between frames are not applied.
  const GifByteType* indices = image.RasterBits;
  for (int y = 0; y < desc.Height; ++y) {
    uint8_t* row =
        context.canvas.get() + ((static_cast<size_t>(desc.Top) + y) * gif->SWidth + desc.Left) * 4;
    for (int x = 0; x < desc.Width; ++x) {
      const int index = *indices++;
      if (index == control.TransparentColor || index >= colours->ColorCount) continue;
      PutColour(row + static_cast<size_t>(x) * 4, colours->Colors[index]);
    }
  }
  std::memcpy(rgba, context.canvas.get(), screen_pixels * 4);
  return true;
}

// Bitmaps would come first, but no image the program carries is one, so no bitmap decoder
// is built in; a bitmap is simply refused.
constexpr std::array<Decoder, 1> kDecoders = {{
    {"GIF ", RecogniseGif, DecodeGifFrame},
}};

bool LooksLikeBitmap(const unsigned char* data, size_t size) {
  return size >= 2 && data[0] == 'B' && data[1] == 'M';
}

void FreePixels(guchar* pixels, gpointer) {
  g_free(pixels);
}

}  // namespace

bool LoadImageFromMemory(ImageTable& images, int number, const unsigned char* data, size_t size) {
  if (number < 0 || number >= kImageCount) return false;
  images.entries[number] = ImageEntry{};
  if (!data || size == 0 || LooksLikeBitmap(data, size)) return false;

  DecodingContext context;
  context.reader = MemoryReader{data, size, 0};
  const Decoder* decoder = nullptr;
  ImageShape shape;
  for (const Decoder& candidate : kDecoders) {
    if (candidate.recognise(context, shape)) {
      decoder = &candidate;
      break;
    }
  }
  if (!decoder || shape.width < 1 || shape.height < 1 || shape.frame_count < 1) return false;

  const int stride = shape.width * 4;
  const size_t buffer_size = static_cast<size_t>(stride) * shape.height;
  ImageEntry entry;
  for (int frame = 0; frame < shape.frame_count; ++frame) {
    PixelBuffer pixels(static_cast<uint8_t*>(g_try_malloc(buffer_size)));
    if (!pixels) return false;
    int delay_ms = 0;
    if (!decoder->decode_frame(context, frame, pixels.get(), delay_ms)) return false;
    GdkPixbuf* pixbuf =
        gdk_pixbuf_new_from_data(pixels.get(), GDK_COLORSPACE_RGB, TRUE, 8, shape.width,
                                 shape.height, stride, FreePixels, nullptr);
    if (!pixbuf) return false;
    pixels.release();  // the pixbuf frees it now
    entry.frames.push_back(ImageFrame{PixbufPtr(pixbuf), delay_ms});
  }
  entry.width = shape.width;
  entry.height = shape.height;
  entry.depth = shape.depth;
  entry.source_depth = shape.source_depth;
  entry.frame_count = shape.frame_count;
  images.entries[number] = std::move(entry);
  return true;
}

bool LoadEmbeddedIcons(ImageTable& images) {
  static_assert(kEmbeddedIconCount == kImageCount);
  bool all = true;
  for (int number = IconOpen; number <= IconWindow; ++number) {
    const EmbeddedFile& file = kEmbeddedIcons[number];
    all = LoadImageFromMemory(images, number, file.data, file.size) && all;
  }
  return all;
}

GdkPixbuf* ImagePixbuf(const ImageTable& images, int number) {
  const ImageEntry* entry = ImageInfo(images, number);
  return entry ? entry->frames.front().pixbuf.get() : nullptr;
}

const ImageEntry* ImageInfo(const ImageTable& images, int number) {
  if (number < 0 || number >= kImageCount || images.entries[number].frames.empty()) return nullptr;
  return &images.entries[number];
}

void ReleaseImages(ImageTable& images) {
  for (ImageEntry& entry : images.entries) entry = ImageEntry{};
}
