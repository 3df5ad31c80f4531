// The program's decoded images, addressed by a fixed number. The four icons are decoded once
// at start-up from GIF files carried inside the program and live until shutdown.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstddef>
#include <vector>

enum ImageNumber : int {
  IconOpen = 0,    // OpenFirst, OpenSecond
  IconPaste = 1,   // PasteFirst, PasteSecond
  IconSwap = 2,    // SwapButton
  IconWindow = 3,  // the main window's own icon
};
inline constexpr int kImageCount = 4;

struct ImageFrame {
  GdkPixbuf* pixbuf = nullptr;  // owned by the table
  int delay_ms = 0;
};

// One registered image. The table owns one reference to each pixbuf; widgets that show an
// icon take their own references through GTK.
struct ImageEntry {
  GdkPixbuf* pixbuf = nullptr;  // the first frame's
  int width = 0;
  int height = 0;
  int depth = 0;         // of the pixel data handed to GdkPixbuf: 32 (RGBA)
  int source_depth = 0;  // 8 for palette indices
  int frame_count = 0;
  std::vector<ImageFrame> frames;
};

// Decodes the image file held in data[0, size) and registers it under number, replacing what
// was there. Never reads outside the block. On failure the number is left empty and false
// comes back; nothing is reported to the user.
bool LoadImageFromMemory(int number, const unsigned char* data, size_t size);

// Decodes the four embedded icons in the order IconOpen, IconPaste, IconSwap, IconWindow.
// A damaged icon leaves only its own number empty; true when all four loaded.
bool LoadEmbeddedIcons();

// The image's pixbuf, or nullptr when the number holds no image.
GdkPixbuf* ImagePixbuf(int number);

// The whole entry, or nullptr when the number holds no image.
const ImageEntry* ImageInfo(int number);

// Drops every entry and the table's references to their pixbufs.
void ReleaseImages();
