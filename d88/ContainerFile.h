// Opening a container by its path, through the platform layer, so that a
// path outside the ANSI code page opens on Windows too.
#ifndef D88EXTRACT_D88_CONTAINERFILE_H
#define D88EXTRACT_D88_CONTAINERFILE_H

#include "diskimage/DiskImage.h"

namespace d88 {

// As DiskImage::Open(path) does: false, errno saying why, when the file
// cannot be opened.
bool OpenContainerFile(diskimage::DiskImage& disk, const char* path);

}  // namespace d88

#endif
