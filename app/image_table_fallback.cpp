// Stands in for the icon decoder while desktop/ does not provide it: every image number is
// empty, so the buttons show empty images and the window keeps the desktop's default icon.
#include "desktop/image_table.h"

bool LoadImageFromMemory(int, const unsigned char*, size_t) { return false; }
bool LoadEmbeddedIcons() { return false; }
GdkPixbuf* ImagePixbuf(int) { return nullptr; }
const ImageEntry* ImageInfo(int) { return nullptr; }
void ReleaseImages() {}
