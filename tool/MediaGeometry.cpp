#include "tool/Extraction.h"

namespace tool {

namespace {

constexpr MediaGeometry kMedia[] = {
    // type  line                  N  bytes tracks spt dirSec dirBytes shift mask
    {0x10, "MEDIA TYPE=2DD\n", 2, 512, 160, 9, 3, 1536, 4, 0x0F},
    {0x20, "MEDIA TYPE=2HD\n", 3, 1024, 154, 8, 2, 2048, 3, 0x07},
};

constexpr bool FitsBuffers() {
  for (const MediaGeometry& m : kMedia) {
    if (m.DiskBytes() > kLargestDiskBytes || m.tracks * m.sectorsPerTrack > kMostDiskSectors ||
        m.directoryBytes > kDirectoryBufferBytes || m.sectorBytes != (128 << m.sizeCode)) {
      return false;
    }
  }
  return true;
}
static_assert(FitsBuffers(), "every medium fits the tool's buffers");

}  // namespace

const MediaGeometry* FindMediaGeometry(int mediaType) {
  for (const MediaGeometry& m : kMedia) {
    if (m.mediaType == mediaType) return &m;
  }
  return nullptr;
}

}  // namespace tool
