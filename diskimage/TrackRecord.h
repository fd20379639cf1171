// What a track's listing gives of each record: its ID, the count it
// carries and where it lies, for callers that look at a track's make-up
// rather than its data (foreign and repeated IDs, the medium the IDs show,
// the bytes a writer must leave alone).
#ifndef D88EXTRACT_DISKIMAGE_TRACKRECORD_H
#define D88EXTRACT_DISKIMAGE_TRACKRECORD_H

#include <cstdint>

namespace diskimage {

// The most records ReadTrackRecords lists on one track.  Real tracks hold
// at most a few dozen sectors; the bound keeps a crafted track whose count
// claims 65535 records from costing more than a fixed number of header
// reads per track.
constexpr int kMaxTrackRecords = 64;

struct TrackRecord {
  std::uint8_t id[4];        // C, H, R, N as recorded
  std::int32_t sectorCount;  // records in this track, as this record says
  std::int64_t position;     // file position of its header
  std::int32_t dataLength;   // data bytes after the header, as recorded
};

}  // namespace diskimage

#endif
