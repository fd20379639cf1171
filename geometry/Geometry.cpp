// The vote over the tracks' shapes, and the families of common disks.
#include "geometry/Geometry.h"

#include <cstdint>
#include <cstring>

#include "diskimage/D88Format.h"
#include "diskimage/TrackRecord.h"

namespace geometry {

namespace {

constexpr Family kFamilies[] = {
    {"2D", 40, 2, 16, 1},    {"2DD8", 80, 2, 8, 2},  {"2DD", 80, 2, 9, 2},    {"2HD", 77, 2, 8, 3},
    {"2HD26", 77, 2, 26, 1}, {"1.2M", 80, 2, 15, 2}, {"1.44M", 80, 2, 18, 2},
};

// Other names a family goes by.
struct Alias {
  const char* name;
  const char* family;
};
constexpr Alias kAliases[] = {{"2DD9", "2DD"}};

// Returns the shape of a track whose records are records[0 .. count).
TrackShape ShapeOf(const diskimage::TrackRecord* records, int count) {
  int bySize[kSizeCodes] = {};
  for (int i = 0; i < count; ++i) {
    if (records[i].id[3] < kSizeCodes) ++bySize[records[i].id[3]];
  }
  int size = 0;
  for (int n = 1; n < kSizeCodes; ++n) {
    if (bySize[n] > bySize[size]) size = n;
  }
  if (bySize[size] == 0) return TrackShape{0, 0};
  // Distinct sector numbers: a repeated ID is one sector.
  std::uint64_t seen[4] = {};
  int sectors = 0;
  for (int i = 0; i < count; ++i) {
    if (records[i].id[3] != size) continue;
    const int r = records[i].id[2];
    const std::uint64_t bit = std::uint64_t{1} << (r & 63);
    if ((seen[r >> 6] & bit) == 0) ++sectors;
    seen[r >> 6] |= bit;
  }
  return TrackShape{sectors, size};
}

}  // namespace

const Family* FindFamily(const char* name) {
  for (const Alias& alias : kAliases) {
    if (std::strcmp(name, alias.name) == 0) name = alias.family;
  }
  for (const Family& family : kFamilies) {
    if (std::strcmp(name, family.name) == 0) return &family;
  }
  return nullptr;
}

void ReadGeometry(diskimage::DiskImage& disk, Geometry* out) {
  std::memset(out, 0, sizeof *out);
  TrackShape shapes[diskimage::kTrackCount] = {};
  // Tracks by shape: sectors per track 1 .. kMaxTrackRecords, size code.
  int votes[diskimage::kMaxTrackRecords + 1][kSizeCodes] = {};
  int lastTrack = -1;
  bool oddTrack = false;
  diskimage::TrackRecord records[diskimage::kMaxTrackRecords];
  for (int t = 0; t < diskimage::kTrackCount; ++t) {
    const int count = disk.ReadTrackRecords(t, records, diskimage::kMaxTrackRecords);
    if (count == 0) continue;
    ++out->tracksRecorded;
    shapes[t] = ShapeOf(records, count);
    if (shapes[t].sectorsPerTrack == 0) continue;
    ++votes[shapes[t].sectorsPerTrack][shapes[t].sizeCode];
    lastTrack = t;
    oddTrack = oddTrack || (t & 1) != 0;
  }
  out->track0 = shapes[0];
  if (lastTrack < 0) return;
  // The most votes win; of equal ones, the shape of the lowest track, track
  // 0 last, as it is the one allowed to differ.
  int best = 0;
  for (int k = 1; k <= diskimage::kTrackCount; ++k) {
    const TrackShape& shape = shapes[k % diskimage::kTrackCount];
    if (shape.sectorsPerTrack == 0) continue;
    const int tally = votes[shape.sectorsPerTrack][shape.sizeCode];
    if (tally > best) {
      best = tally;
      out->shape = shape;
    }
  }
  out->tracksOfShape = best;
  out->sectorBytes = 128 << out->shape.sizeCode;
  out->track0Differs = out->track0.sectorsPerTrack > 0 && out->track0 != out->shape;
  out->heads = oddTrack || lastTrack == 0 ? 2 : 1;
  out->cylinders = lastTrack / 2 + 1;
  for (const Family& family : kFamilies) {
    if (family.sectorsPerTrack == out->shape.sectorsPerTrack &&
        family.sizeCode == out->shape.sizeCode && family.heads == out->heads &&
        family.cylinders >= out->cylinders) {
      out->family = &family;
      out->cylinders = family.cylinders;
    }
  }
}

}  // namespace geometry
