#include "tool/Tool.h"

#include <cstdint>
#include <cstring>

#include "diskimage/DiskImage.h"
#include "tool/Extraction.h"
#include "tool/MediaGeometry.h"
#include "tool/Messages.h"

namespace {

// The name shown in the usage line when the system passes no argv[0].
constexpr char kDefaultProgramName[] = "d88extract";

}  // namespace

int RunTool(DiskImage& disk, int argc, const char* const* argv, const Console& console) {
  if (argc != 2) {
    const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : kDefaultProgramName;
    std::fprintf(console.err, msg::kUsage, program);
    return kExitFailure;
  }
  if (!disk.Open(argv[1])) {
    std::fputs(msg::kCannotOpen, console.err);
    return kExitFailure;
  }
  // Without an image 0 the media type stays -1, which no medium has.
  disk.Select(0);
  const MediaGeometry* geometry = FindMediaGeometry(disk.GetMediaType());
  if (geometry == nullptr) {
    std::fputs(msg::kWrongMedium, console.err);
    return kExitFailure;
  }
  std::fputs(geometry->mediaLine, console.out);
  disk.SetSectorRange(1, geometry->sectorsPerTrack);
  return ExtractDisk(disk, *geometry, console);
}
