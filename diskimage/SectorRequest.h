// One sector asked of a batch read, and what the batch says of its record.
#ifndef D88EXTRACT_DISKIMAGE_SECTORREQUEST_H
#define D88EXTRACT_DISKIMAGE_SECTORREQUEST_H

#include <cstdint>

namespace diskimage {

struct SectorRequest {
  int track;             // track index, as for ReadSector
  int c, h, r, n;        // the sector ID looked for
  std::uint8_t* buffer;  // where the data goes; holds maxLength bytes; null: not wanted
  int maxLength;         // the most bytes wanted
  int result;            // set by the batch: what ReadSector would return
};

// The record a batch took a sector's data from, for callers that judge
// the data by it.
struct RecordFacts {
  std::int64_t position;     // file position of its header; -1 when no record matched
  std::int32_t dataLength;   // its data length as recorded
  std::uint8_t status;       // its header byte 8
  std::uint8_t deletedMark;  // its header byte 7
  std::uint8_t density;      // its header byte 6
  bool walkHitFileEnd;       // none matched, and the walk met a header the file cuts off
};

}  // namespace diskimage

#endif
