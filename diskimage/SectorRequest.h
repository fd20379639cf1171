// One sector asked of a batch read.
#ifndef D88EXTRACT_DISKIMAGE_SECTORREQUEST_H
#define D88EXTRACT_DISKIMAGE_SECTORREQUEST_H

#include <cstdint>

struct SectorRequest {
  int track;             // track index, as for ReadSector
  int c, h, r, n;        // the sector ID looked for
  std::uint8_t* buffer;  // where the data goes; holds maxLength bytes
  int maxLength;         // the most bytes wanted
  int result;            // set by the batch: what ReadSector would return
};

#endif
