#include "tool/Extraction.h"

#include <cstdint>

#include "diskimage/DiskImage.h"
#include "tool/Directory.h"
#include "tool/DiskLoad.h"
#include "tool/Messages.h"
#include "tool/OutputFile.h"

namespace {

// The directory as read from track 0; the unread tail stays zero.
std::uint8_t directoryBuffer[kDirectoryBufferBytes];

// The whole disk in track order, one slot per sector; large enough for the
// largest medium, so a smaller disk leaves a zero tail.
std::uint8_t imageBuffer[kLargestDiskBytes];

// One request per sector slot of the image buffer.
SectorRequest loadRequests[kMostDiskSectors];

}  // namespace

int ExtractDisk(DiskImage& disk, const MediaGeometry& geometry, const Console& console) {
  ReadDirectory(disk, geometry, directoryBuffer);
  // Unread sectors stay zero: the results need no checking.
  LoadDisk(disk, geometry, imageBuffer, loadRequests);
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
