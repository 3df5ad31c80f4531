// The program's decoded images, addressed by a fixed number. The four icons are decoded once
// at start-up from GIF files carried inside the program and live until shutdown.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <array>
#include <cstddef>
#include <memory>
#include <vector>

enum ImageNumber : int {
  IconOpen = 0,    // OpenFirst, OpenSecond
  IconPaste = 1,   // PasteFirst, PasteSecond
  IconSwap = 2,    // SwapButton
  IconWindow = 3,  // the main window's own icon
};
inline constexpr int kImageCount = 4;

struct PixbufUnref {
  void operator()(GdkPixbuf* pixbuf) const { g_object_unref(pixbuf); }
};
using PixbufPtr = std::unique_ptr<GdkPixbuf, PixbufUnref>;

struct ImageFrame {
  PixbufPtr pixbuf;  // RGBA, 8 bits a sample, rows of width * 4 bytes
  int delay_ms = 0;
};

// One registered image. The table holds one reference to each pixbuf; widgets that show an
// icon take their own references through GTK.
struct ImageEntry {
  int width = 0;
  int height = 0;
  int depth = 0;         // of the pixel data handed to GdkPixbuf: 32 (RGBA)
  int source_depth = 0;  // of the file's pixels: 8 for palette indices
  int frame_count = 0;
  std::vector<ImageFrame> frames;
};

// The decoded images by number; the window program owns one from start-up to shutdown.
struct ImageTable {
  std::array<ImageEntry, kImageCount> entries;
};

// Decodes the image file held in data[0, size) and registers it under number (0 to
// kImageCount - 1), replacing what was there. Never reads outside the block. On failure the
// number is left empty and false comes back; nothing is reported to the user.
bool LoadImageFromMemory(ImageTable& images, int number, const unsigned char* data, size_t size);

// Decodes the embedded icons in the order IconOpen, IconPaste, IconSwap, IconWindow. A damaged
// icon leaves only its own number empty; true when all four loaded.
bool LoadEmbeddedIcons(ImageTable& images);

// The image's pixbuf (its first frame's), or nullptr when the number holds no image. The
// table keeps the reference; a caller that keeps the pixbuf takes its own.
GdkPixbuf* ImagePixbuf(const ImageTable& images, int number);

// The whole entry, or nullptr when the number holds no image.
const ImageEntry* ImageInfo(const ImageTable& images, int number);

// Empties the table and drops its references to the pixbufs.
void ReleaseImages(ImageTable& images);
