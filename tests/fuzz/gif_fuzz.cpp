// GIF loading from memory: whatever the bytes, the loader stays inside them, keeps to its
// size bounds, and every image it accepts holds only opaque colours and transparent black.
#include "desktop/image_table.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ImageTable images;
  const bool loaded = LoadImageFromMemory(images, IconOpen, data, size);
  const ImageEntry* entry = ImageInfo(images, IconOpen);
  FUZZ_CHECK(loaded == (entry != nullptr));
  if (entry) {
    FUZZ_CHECK(entry->width >= 1 && entry->width <= 256 && entry->height >= 1 &&
               entry->height <= 256);
    FUZZ_CHECK(entry->frame_count == static_cast<int>(entry->frames.size()));
    FUZZ_CHECK(entry->frame_count >= 1 && entry->frame_count <= 64);
    for (const ImageFrame& frame : entry->frames) {
      GdkPixbuf* pixbuf = frame.pixbuf.get();
      FUZZ_CHECK(gdk_pixbuf_get_width(pixbuf) == entry->width);
      FUZZ_CHECK(gdk_pixbuf_get_height(pixbuf) == entry->height);
      FUZZ_CHECK(gdk_pixbuf_get_rowstride(pixbuf) == entry->width * 4);
      const guchar* pixels = gdk_pixbuf_read_pixels(pixbuf);
      for (int i = 0; i < entry->width * entry->height; ++i) {
        const guchar* p = pixels + i * 4;
        FUZZ_CHECK(p[3] == 255 || (p[3] == 0 && p[0] == 0 && p[1] == 0 && p[2] == 0));
      }
    }
  }
  ReleaseImages(images);
  return 0;
}
