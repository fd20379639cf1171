#include <cstddef>
#include <cstring>

#include "diskimage/DiskImage.h"
#include "tool/Extraction.h"

namespace tool {

void ReadDirectory(diskimage::DiskImage& disk, const MediaGeometry& geometry,
                   std::uint8_t* directory) {
  std::memset(directory, 0, kDirectoryBufferBytes);
  // A missing or short directory sector ends the read; the rest stays zero.
  disk.ReadSectors(0, 0, 0, geometry.directorySector, geometry.sizeCode, directory,
                   geometry.directoryBytes);
}

void LoadDisk(diskimage::DiskImage& disk, const MediaGeometry& geometry, std::uint8_t* image,
              diskimage::SectorRequest* requests, diskimage::RecordFacts* facts) {
  if (image != nullptr) std::memset(image, 0, kLargestDiskBytes);
  const int sectors = geometry.tracks * geometry.sectorsPerTrack;
  for (int p = 0; p < sectors; ++p) {
    // Slot p holds sector (p mod spt) + 1 of track index p / spt, whose
    // cylinder and head the track index carries.
    const int t = p / geometry.sectorsPerTrack;
    const int r = p % geometry.sectorsPerTrack + 1;
    requests[p] = diskimage::SectorRequest{
        t,
        t >> 1,
        t & 1,
        r,
        geometry.sizeCode,
        image == nullptr
            ? nullptr
            : image + static_cast<std::size_t>(p) * static_cast<std::size_t>(geometry.sectorBytes),
        geometry.sectorBytes,
        0};
  }
  // Unread sectors stay zero.
  disk.ReadSectorBatch(requests, sectors, facts);
}

}  // namespace tool
