// One sector asked of a batch read.
#ifndef D88EXTRACT_DISKIMAGE_SECTORREQUEST_H
#define D88EXTRACT_DISKIMAGE_SECTORREQUEST_H

#include <cstdint>

namespace diskimage {

struct SectorRequest {
  int track;             // track index, as for ReadSector
  int c, h, r, n;        // the sector ID looked for
  std::uint8_t* buffer;  // where the data goes; holds maxLength bytes
  int maxLength;         // the most bytes wanted
  int result;            // set by the batch: what ReadSector would return

  // Set by the batch: the facts of the record the data came from; as below
  // when no record matched.
  std::int64_t recordPosition = -1;  // file position of its header; -1 when none matched
  std::int32_t recordLength = 0;     // its data length as recorded
  std::uint8_t status = 0;           // its header byte 8
  std::uint8_t deletedMark = 0;      // its header byte 7
  std::uint8_t density = 0;          // its header byte 6
  bool walkHitFileEnd = false;       // none matched, and the walk met a header the file cuts off
};

}  // namespace diskimage

#endif
