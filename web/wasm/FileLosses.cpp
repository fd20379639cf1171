#include "web/wasm/FileLosses.h"

namespace web {

namespace {

// What the disk load leaves in a file for a sector in state.
const char* WrittenAs(survey::SectorState state) {
  switch (state) {
    case survey::SectorState::kMissing:
      return "written as zeros";
    case survey::SectorState::kCut:
      return "written as far as the file holds it, zeros after";
    case survey::SectorState::kShort:
      return "written as recorded, zeros after";
    default:
      return "written as recorded, which may be wrong";
  }
}

}  // namespace

void PrintFileLosses(output::Sink& out, const survey::DiskSurvey& disk, int i) {
  const survey::FileSurvey& file = disk.files[i];
  if (disk.image.medium == nullptr || file.range.length == 0) return;
  const tool::MediaGeometry& g = *disk.image.medium;
  const std::int64_t start = file.range.offset;
  const std::int64_t end = start + file.range.length;
  const std::int64_t diskEnd = end < g.DiskBytes() ? end : g.DiskBytes();
  for (std::int64_t p = start / g.sectorBytes; p * g.sectorBytes < diskEnd; ++p) {
    const int slot = static_cast<int>(p);
    const survey::SectorState state = disk.sectors[slot];
    if (!survey::DamagesData(state)) continue;
    const std::int64_t from = p * g.sectorBytes > start ? p * g.sectorBytes - start : 0;
    const std::int64_t to = ((p + 1) * g.sectorBytes < end ? (p + 1) * g.sectorBytes : end) - start;
    char status[survey::kStatusTextBytes];
    survey::DescribeStatus(disk.facts[slot].status, status);
    out.Printf("bytes %lld-%lld (TRK=%02x SEC=%02x %s): %s\n", static_cast<long long>(from),
               static_cast<long long>(to - 1), slot / g.sectorsPerTrack,
               slot % g.sectorsPerTrack + 1,
               state == survey::SectorState::kBadStatus ? status : survey::SectorStateName(state),
               WrittenAs(state));
  }
  if (file.beyondDisk) {
    out.Printf("bytes %lld-%lld lie beyond the disk: written as zeros\n",
               static_cast<long long>(diskEnd > start ? diskEnd - start : 0),
               static_cast<long long>(end - start - 1));
  }
  if (file.cutOff && file.entry.size > file.range.length) {
    out.Printf("bytes %lld-%lld lie past the largest disk: not written\n",
               static_cast<long long>(file.range.length),
               static_cast<long long>(file.entry.size) - 1);
  }
}

}  // namespace web
