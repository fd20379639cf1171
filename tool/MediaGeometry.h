// The two media the tool understands, as a table keyed by the image's
// media type byte.
#ifndef D88EXTRACT_TOOL_MEDIAGEOMETRY_H
#define D88EXTRACT_TOOL_MEDIAGEOMETRY_H

#include <cstdint>

struct MediaGeometry {
  int mediaType;          // media type byte of the image header
  const char* mediaLine;  // what the tool prints once it knows the medium
  int sizeCode;           // N of every sector ID
  int sectorBytes;        // 128 << sizeCode
  int tracks;             // track indexes 0 .. tracks - 1 are loaded
  int sectorsPerTrack;    // sectors are numbered 1 .. sectorsPerTrack
  int directorySector;    // first directory sector on track 0
  int directoryBytes;     // bytes of directory read from there on
  int locationShift;      // location >> shift is the start track index
  int locationMask;       // (location & mask) + 1 is the start sector

  // Bytes the disk occupies: tracks x sectors x sector bytes.
  constexpr std::int32_t DiskBytes() const { return tracks * sectorsPerTrack * sectorBytes; }
};

// Returns the geometry for a media type byte, or null for any other value.
const MediaGeometry* FindMediaGeometry(int mediaType);

// The largest disk of the table (2HD): the size of the tool's image buffer.
constexpr std::int32_t kLargestDiskBytes = 154 * 8 * 1024;

// The most sectors a disk of the table has (2DD: 160 x 9).
constexpr int kMostDiskSectors = 160 * 9;

// The largest directory of the table: the size of the directory buffer.
constexpr int kDirectoryBufferBytes = 2048;

#endif
