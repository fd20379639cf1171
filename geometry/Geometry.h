// The geometry of a disk image, worked out from its records: cylinders,
// heads, sectors per track and sector size, and the family of common disks
// it belongs to.
//
// Every track's records are listed once (at most kMaxTrackRecords each)
// and each track votes for its shape: the size code most of its records
// carry and the number of distinct sector numbers recorded with it.  The
// shape with the most tracks is the disk's, so a damaged or unformatted
// track, or one with stray records, does not decide alone.  Track 0 may
// differ (PC-98 BASIC disks record it as 26 sectors of 128 bytes on a
// disk of 26 x 256); its own shape is kept beside the disk's.
//
// Cylinders: the highest recorded track index gives them (tracks are
// indexed cylinder x 2 + head).  A disk of a family whose last cylinders
// were never recorded, as dumps often leave unformatted tracks out, is
// taken for that family's disk and given its cylinders; one that reaches
// past them is told by its numbers.  Heads: 2 when an odd track index is
// recorded or only track 0 is; 1 when even tracks beyond 0 are recorded and
// no odd one.
//
// Nothing is allocated; the work per track is bounded by the reader's
// listing.  A read error of the container shows in the reader
// (DiskImage::GetReadError), not here: the tracks after it are unrecorded.
#ifndef D88EXTRACT_GEOMETRY_GEOMETRY_H
#define D88EXTRACT_GEOMETRY_GEOMETRY_H

#include "diskimage/DiskImage.h"

namespace geometry {

// A common kind of disk.  Names, as the tools take and print them:
//   2D     40 x 2 x 16 x 256
//   2DD8   80 x 2 x  8 x 512   (PC-98's 640 KB)
//   2DD    80 x 2 x  9 x 512   (720 KB; also called 2DD9)
//   2HD    77 x 2 x  8 x 1024  (PC-98's 1.2 MB)
//   2HD26  77 x 2 x 26 x 256   (PC-98's 8-inch compatible layout)
//   1.2M   80 x 2 x 15 x 512
//   1.44M  80 x 2 x 18 x 512
struct Family {
  const char* name;     // the short name above
  int cylinders;        // cylinders a full disk has
  int heads;            // sides
  int sectorsPerTrack;  // sectors on every track
  int sizeCode;         // N of every sector ID: sectors of 128 << N bytes
};

// Returns the family named name (or one of its other names); null for any
// other name.
const Family* FindFamily(const char* name);

// The most sector sizes told apart: N 0-7, 128 to 16384 bytes.
constexpr int kSizeCodes = 8;

// The shape of one track: the size code most of its records carry and the
// distinct sector numbers recorded with it; sectorsPerTrack 0 when the
// track has no record of a known size.
struct TrackShape {
  int sectorsPerTrack;
  int sizeCode;

  bool operator==(const TrackShape& other) const {
    return sectorsPerTrack == other.sectorsPerTrack && sizeCode == other.sizeCode;
  }
  bool operator!=(const TrackShape& other) const { return !(*this == other); }
};

struct Geometry {
  int tracksRecorded;    // tracks with at least one readable record
  int tracksOfShape;     // of them, those whose shape is the disk's
  int cylinders;         // 0 when no track has a shape
  int heads;             // 1 or 2; 0 when no track has a shape
  TrackShape shape;      // the disk's; sectorsPerTrack 0 when unknown
  int sectorBytes;       // 128 << shape.sizeCode; 0 when unknown
  bool track0Differs;    // track 0 has a shape of its own
  TrackShape track0;     // track 0's shape, whatever it is
  const Family* family;  // the family of the disk; null for any other geometry

  // True when the records show a geometry at all.
  bool Known() const { return shape.sectorsPerTrack > 0; }
};

// Works out the geometry of disk's current image from the records of
// every track into out.
void ReadGeometry(diskimage::DiskImage& disk, Geometry* out);

}  // namespace geometry

#endif
