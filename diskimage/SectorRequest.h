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

  // Set by the batch: the facts of the record the data came from.  Plain
  // fields without initializers, so that an array of requests costs nothing
  // at start-up.
  std::int64_t recordPosition;  // file position of its header; -1 when none matched
  std::int32_t recordLength;    // its data length as recorded; 0 when none matched
  std::uint8_t status;          // its header byte 8
  std::uint8_t deletedMark;     // its header byte 7
  std::uint8_t density;         // its header byte 6
  bool walkHitFileEnd;          // none matched, and the walk met a header the file cuts off
};

}  // namespace diskimage

#endif
