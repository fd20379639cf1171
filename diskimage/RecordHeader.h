// Decoding one sector record header of a track.
#ifndef D88EXTRACT_DISKIMAGE_RECORDHEADER_H
#define D88EXTRACT_DISKIMAGE_RECORDHEADER_H

#include <cstdint>
#include <cstdio>

#include "diskimage/D88Format.h"
#include "diskimage/ReadWindow.h"

namespace diskimage {

// One sector record's header, decoded.
struct RecordHeader {
  std::uint8_t id[4];         // C, H, R, N as recorded
  std::int32_t sectorCount;   // records in this track, as this record says
  std::uint8_t density;       // header byte 6
  std::uint8_t deletedMark;   // header byte 7
  std::uint8_t status;        // header byte 8
  std::int32_t dataLength;    // data bytes after the header
  std::int64_t dataPosition;  // file position of the data

  // File position of the record after this one.
  std::int64_t NextPosition() const { return dataPosition + dataLength; }
};

// Reads the record header at position of file through window; false when
// it is not there in full.
inline bool ReadRecordHeader(ReadWindow& window, std::FILE* file, std::int64_t position,
                             RecordHeader* header) {
  std::uint8_t bytes[kSectorHeaderSize];
  if (window.ReadAt(file, position, bytes, sizeof bytes) != sizeof bytes) return false;
  header->id[0] = bytes[kIdCylinderOffset];
  header->id[1] = bytes[kIdHeadOffset];
  header->id[2] = bytes[kIdSectorOffset];
  header->id[3] = bytes[kIdSizeCodeOffset];
  header->sectorCount = LoadLE16(bytes + kSectorCountOffset);
  header->density = bytes[kDensityOffset];
  header->deletedMark = bytes[kDeletedMarkOffset];
  header->status = bytes[kStatusOffset];
  header->dataLength = LoadLE16(bytes + kDataLengthOffset);
  header->dataPosition = position + kSectorHeaderSize;
  return true;
}

}  // namespace diskimage

#endif
