#include "tool/Tool.h"

#include <cstdint>

#include "tool/Extraction.h"
#include "tool/Messages.h"

namespace tool {

namespace {

// The name shown in the usage line when the system passes no argv[0].
constexpr char kDefaultProgramName[] = "d88extract";

// The directory as read from track 0; the unread tail stays zero.
std::uint8_t directoryBuffer[kDirectoryBufferBytes];

// The whole disk in track order, one slot per sector; large enough for the
// largest medium, so a smaller disk leaves a zero tail.
std::uint8_t imageBuffer[kLargestDiskBytes];

// One request per sector slot of the image buffer.
diskimage::SectorRequest loadRequests[kMostDiskSectors];

// Prints entry's listing line on the stream out, the name bytes as they
// stand.
void PrintListingLine(void* out, const DirectoryEntry& entry) {
  std::FILE* stream = static_cast<std::FILE*>(out);
  std::fprintf(stream, kListingLineFormat, entry.name, entry.track, entry.sector, entry.size);
  std::fputc('\n', stream);
}

// Reads the directory of disk's current image (of the given medium), loads
// the whole disk, and for each directory entry prints its listing line and
// writes its file.  Returns 0 when the directory ends with every file
// written and the listing flushed; 1, after the read-failure message, when
// the container failed to read, or, after the write-failure message, at
// the first file that cannot be written or when console.out cannot take
// the listing.
int ExtractDisk(diskimage::DiskImage& disk, const MediaGeometry& geometry, const Console& console) {
  ReadDirectory(disk, geometry, directoryBuffer);
  // Missing sectors stay zero: the results need no checking.
  LoadDisk(disk, geometry, imageBuffer, loadRequests);
  // A sector the file failed to give is no missing one: nothing is listed
  // or written from a disk that was not read.  The media line comes first
  // also where both streams share one file.
  if (disk.GetReadError() != 0) {
    std::fflush(console.out);
    std::fputs(msg::kCannotRead, console.err);
    return kExitFailure;
  }
  const int failedEntry = ListAndWriteFiles(directoryBuffer, imageBuffer, geometry,
                                            EntryListing{PrintListingLine, console.out});
  // The listing comes first also where both streams share one file.  A
  // listing that never reached its reader (a full device) is output lost
  // like a file that could not be written, and fails the run the same way.
  const bool listed = std::fflush(console.out) == 0 && std::ferror(console.out) == 0;
  if (failedEntry < 0 && listed) return kExitSuccess;
  std::fputs(msg::kWriteFailed, console.err);
  return kExitFailure;
}

}  // namespace

int RunTool(diskimage::DiskImage& disk, int argc, const char* const* argv, const Console& console) {
  if (argc != 2) {
    const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : kDefaultProgramName;
    std::fprintf(console.err, msg::kUsage, program);
    return kExitFailure;
  }
  if (!disk.Open(argv[1])) {
    std::fputs(msg::kCannotOpen, console.err);
    return kExitFailure;
  }
  // Without an image 0 the media type stays -1, which no medium has; one
  // that failed to read is not called the wrong medium.
  disk.Select(0);
  if (disk.GetReadError() != 0) {
    std::fputs(msg::kCannotRead, console.err);
    return kExitFailure;
  }
  const MediaGeometry* geometry = FindMediaGeometry(disk.GetMediaType());
  if (geometry == nullptr) {
    std::fputs(msg::kWrongMedium, console.err);
    return kExitFailure;
  }
  std::fputs(geometry->mediaLine, console.out);
  disk.SetSectorRange(1, geometry->sectorsPerTrack);
  return ExtractDisk(disk, *geometry, console);
}

}  // namespace tool
