// The container's images, their size fields and the medium that their
// records show.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "diskimage/DiskImage.h"
#include "survey/Survey.h"

namespace survey {

namespace {

constexpr int k2DDByte = 0x10;
constexpr int k2HDByte = 0x20;

// Tracks whose records decide the medium: both sides of the directory's
// cylinder and of a few cylinders spread over the disk, so one damaged or
// unformatted track does not decide alone.
constexpr int kSampleTracks[] = {0, 1, 2, 3, 20, 21, 60, 61, 100, 101, 140, 141};

// Returns the medium whose sector IDs most of the sampled records carry
// (size code and sector number in its range); null when none do or the
// two media get equal votes.
const tool::MediaGeometry* RecordMedium(diskimage::DiskImage& disk) {
  const tool::MediaGeometry* media[2] = {tool::FindMediaGeometry(k2DDByte),
                                         tool::FindMediaGeometry(k2HDByte)};
  int votes[2] = {0, 0};
  diskimage::TrackRecord records[diskimage::kMaxTrackRecords];
  for (int track : kSampleTracks) {
    const int count = disk.ReadTrackRecords(track, records, diskimage::kMaxTrackRecords);
    for (int i = 0; i < count; ++i) {
      for (int m = 0; m < 2; ++m) {
        const int r = records[i].id[2];
        if (records[i].id[3] == media[m]->sizeCode && r >= 1 && r <= media[m]->sectorsPerTrack) {
          ++votes[m];
        }
      }
    }
  }
  if (votes[0] == votes[1]) return nullptr;
  return votes[0] > votes[1] ? media[0] : media[1];
}

// True when the records show a geometry and it is neither medium's: an
// 18- or 15-sector disk of 512-byte sectors, or one of 8, is no 2DD disk
// for all that its low sector numbers fit one, whatever its header says.
bool FitsNoMedium(const geometry::Geometry& shown) {
  if (!shown.Known()) return false;
  for (int type : {k2DDByte, k2HDByte}) {
    const tool::MediaGeometry* medium = tool::FindMediaGeometry(type);
    if (shown.shape.sizeCode == medium->sizeCode &&
        shown.shape.sectorsPerTrack == medium->sectorsPerTrack)
      return false;
  }
  return true;
}

}  // namespace

bool DamagesData(SectorState state) {
  return state == SectorState::kMissing || state == SectorState::kCut ||
         state == SectorState::kShort || state == SectorState::kBadStatus ||
         state == SectorState::kConflicting;
}

const char* SectorStateName(SectorState state) {
  // In the order of SectorState.
  static constexpr const char* kNames[kSectorStates] = {
      "intact", "missing",      "short",
      "long",   "duplicate",    "bad status",
      "cut",    "deleted mark", "recorded twice with different data"};
  return kNames[static_cast<int>(state)];
}

void DescribeStatus(std::uint8_t status, char (&text)[kStatusTextBytes]) {
  // The codes a floppy controller reports, as dumping tools store them.
  const char* meaning = status == 0x00   ? "normal"
                        : status == 0x10 ? "deleted data"
                        : status == 0xA0 ? "ID CRC error"
                        : status == 0xB0 ? "data CRC error"
                        : status == 0xE0 ? "no address mark"
                        : status == 0xF0 ? "no data mark"
                                         : nullptr;
  if (meaning != nullptr) {
    std::snprintf(text, sizeof text, "%s", meaning);
  } else {
    std::snprintf(text, sizeof text, "error status 0x%02x", status);
  }
}

int CountImages(diskimage::DiskImage& disk) {
  const std::int64_t fileSize = disk.GetFileSize();
  for (int k = 0; k < disk.GetImageCount(); ++k) {
    if (!disk.Select(k)) return k;
    const std::uint32_t size = static_cast<std::uint32_t>(disk.GetImageSize());
    if (size < diskimage::kImageHeaderSize || disk.GetImageOffset() + size > fileSize) return k + 1;
  }
  return disk.GetImageCount();
}

const char* MediumName(const tool::MediaGeometry& medium) {
  return medium.mediaType == k2DDByte ? "2DD" : "2HD";
}

// Fills summary from the current image of disk (image k).
void SummarizeImage(diskimage::DiskImage& disk, int k, ImageSummary* summary) {
  std::memset(summary, 0, sizeof *summary);
  summary->index = k;
  // The reader's name is NUL-terminated within 17 bytes, as is this copy.
  std::memcpy(summary->name, disk.GetName(), std::strlen(disk.GetName()));
  summary->mediaByte = disk.GetMediaType();
  summary->size = static_cast<std::uint32_t>(disk.GetImageSize());
  const std::int64_t rest = disk.GetFileSize() - disk.GetImageOffset();
  const std::int64_t held = rest > 0 ? rest : 0;
  summary->sizeFieldBroken = summary->size < diskimage::kImageHeaderSize;
  summary->cutShort = !summary->sizeFieldBroken && summary->size > held;
  summary->bytesInFile = summary->sizeFieldBroken || summary->cutShort ? held : summary->size;
  // The records overrule a size field that cannot hold an image; one
  // above 2^31 is larger than any track table entry.
  if (summary->sizeFieldBroken) {
    disk.SetTrackLimit(held < INT32_MAX ? static_cast<std::int32_t>(held) : INT32_MAX);
  } else if (summary->size > INT32_MAX) {
    disk.SetTrackLimit(INT32_MAX);
  }
  summary->headerBytes = disk.UseHeaderLength();
  geometry::ReadGeometry(disk, &summary->geometry);
  summary->tracksRecorded = summary->geometry.tracksRecorded;
  summary->recordsFitNoMedium = FitsNoMedium(summary->geometry);
  if (summary->recordsFitNoMedium) return;
  const tool::MediaGeometry* header = tool::FindMediaGeometry(summary->mediaByte);
  summary->recordMedium = RecordMedium(disk);
  // The records win over a byte that disagrees or names no medium; a disk
  // whose records say nothing keeps what its header says.
  summary->medium = summary->recordMedium != nullptr ? summary->recordMedium : header;
  summary->mediumFromRecords = summary->recordMedium != nullptr && summary->recordMedium != header;
}

}  // namespace survey
