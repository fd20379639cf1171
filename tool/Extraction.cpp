#include "tool/Extraction.h"

#include <cstdint>
#include <cstring>

#include "diskimage/DiskImage.h"
#include "tool/Directory.h"
#include "tool/Messages.h"
#include "tool/OutputFile.h"

namespace {

// The directory as read from track 0; the unread tail stays zero.
std::uint8_t directoryBuffer[kDirectoryBufferBytes];

// The whole disk in track order, one slot per sector; large enough for the
// largest medium, so a smaller disk leaves a zero tail.
std::uint8_t imageBuffer[kLargestDiskBytes];

void ReadDirectory(DiskImage& disk, const MediaGeometry& geometry) {
  std::memset(directoryBuffer, 0, sizeof directoryBuffer);
  // A missing or short directory sector ends the read; the rest stays zero.
  disk.ReadSectors(0, 0, 0, geometry.directorySector, geometry.sizeCode, directoryBuffer,
                   geometry.directoryBytes);
}

// One request per sector slot of the image buffer.
SectorRequest loadRequests[kMostDiskSectors];

void LoadDisk(DiskImage& disk, const MediaGeometry& geometry) {
  std::memset(imageBuffer, 0, sizeof imageBuffer);
  const int sectors = geometry.tracks * geometry.sectorsPerTrack;
  for (int p = 0; p < sectors; ++p) {
    // Slot p holds sector (p mod spt) + 1 of track index p / spt, whose
    // cylinder and head the track index carries.
    const int t = p / geometry.sectorsPerTrack;
    const int r = p % geometry.sectorsPerTrack + 1;
    loadRequests[p] = SectorRequest{
        t, t >> 1, t & 1, r, geometry.sizeCode,
        imageBuffer + static_cast<std::size_t>(p) * static_cast<std::size_t>(geometry.sectorBytes),
        geometry.sectorBytes, 0};
  }
  // Unread sectors stay zero: the results need no checking.
  disk.ReadSectorBatch(loadRequests, sectors);
}

}  // namespace

int ExtractDisk(DiskImage& disk, const MediaGeometry& geometry, const Console& console) {
  ReadDirectory(disk, geometry);
  LoadDisk(disk, geometry);
  bool filesWritten = true;
  for (int i = 0; i < kMaxDirectoryEntries && filesWritten; ++i) {
    DirectoryEntry entry;
    if (!DecodeDirectoryEntry(directoryBuffer + i * kDirectoryEntryBytes, geometry, &entry)) break;
    std::fprintf(console.out, msg::kListingLine, entry.name, entry.track, entry.sector, entry.size);
    // Data that would lie beyond the buffer is cut off there.
    const DataRange range = EntryDataRange(entry, geometry, kLargestDiskBytes);
    filesWritten = WriteOutputFile(entry.name, imageBuffer + range.offset, range.length);
  }
  // The listing comes first also where both streams share one file.  A
  // listing that never reached its reader (a full device) is output lost
  // like a file that could not be written, and fails the run the same way.
  const bool listed = std::fflush(console.out) == 0 && std::ferror(console.out) == 0;
  if (filesWritten && listed) return kExitSuccess;
  std::fputs(msg::kWriteFailed, console.err);
  return kExitFailure;
}
