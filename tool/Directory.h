// The flat directory on track 0: a table of 10-byte entries.
//
//   +0  name, 4 bytes, space-padded; ends at the first space or zero byte;
//       a first byte of 0 ends the directory
//   +4  location, 16-bit: start track index and sector, split by the
//       medium's shift and mask
//   +6  size, 32-bit signed: length of the file's data
//
// A file's data runs on linearly from its start sector through the
// following sectors and tracks of the loaded disk.
#ifndef D88EXTRACT_TOOL_DIRECTORY_H
#define D88EXTRACT_TOOL_DIRECTORY_H

#include <cstdint>

#include "tool/MediaGeometry.h"

constexpr int kDirectoryEntryBytes = 10;
constexpr int kMaxDirectoryEntries = 204;
constexpr int kEntryNameBytes = 4;
constexpr int kEntryLocationOffset = 4;
constexpr int kEntrySizeOffset = 6;

struct DirectoryEntry {
  char name[kEntryNameBytes + 1];  // 0-4 name bytes, NUL-terminated
  int track;                       // start track index
  int sector;                      // start sector number, from 1
  std::int32_t size;               // data length as recorded; may be negative
};

// Decodes the entry at bytes (10 bytes) with geometry's shift and mask.
// Returns false, leaving entry alone, when the entry ends the directory.
bool DecodeDirectoryEntry(const std::uint8_t* bytes, const MediaGeometry& geometry,
                          DirectoryEntry* entry);

// A stretch of the image buffer.
struct DataRange {
  std::int32_t offset;  // first byte
  std::int32_t length;  // bytes from there
};

// Returns the part of an imageBytes-long buffer that entry's data covers:
// size bytes from the start of (track, sector), clipped to the buffer.
// Empty when the start lies at or beyond the end or the size is negative.
DataRange EntryDataRange(const DirectoryEntry& entry, const MediaGeometry& geometry,
                         std::int32_t imageBytes);

#endif
