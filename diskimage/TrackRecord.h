// Everything one sector record's header says, for callers that judge a
// track's state rather than read its data.
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
  std::uint8_t density;      // header byte 6
  std::uint8_t deletedMark;  // header byte 7
  std::uint8_t status;       // header byte 8: the controller's status, 0 when read well
  std::int32_t dataLength;   // data bytes after the header
};

}  // namespace diskimage

#endif
