#include "diskimage/D88Format.h"
#include "tool/Extraction.h"

namespace tool {

bool DecodeDirectoryEntry(const std::uint8_t* bytes, const MediaGeometry& geometry,
                          DirectoryEntry* entry) {
  if (bytes[0] == 0) return false;
  int length = 0;
  while (length < kEntryNameBytes && bytes[length] != ' ' && bytes[length] != 0) {
    entry->name[length] = static_cast<char>(bytes[length]);
    ++length;
  }
  entry->name[length] = '\0';
  const std::int32_t location = diskimage::LoadLE16(bytes + kEntryLocationOffset);
  entry->track = location >> geometry.locationShift;
  entry->sector = (location & geometry.locationMask) + 1;
  entry->size = diskimage::LoadLE32(bytes + kEntrySizeOffset);
  return true;
}

DataRange EntryDataRange(const DirectoryEntry& entry, const MediaGeometry& geometry,
                         std::int32_t imageBytes) {
  const std::int64_t start =
      (static_cast<std::int64_t>(entry.track) * geometry.sectorsPerTrack + entry.sector - 1) *
      geometry.sectorBytes;
  if (start >= imageBytes || entry.size <= 0) return {0, 0};
  const std::int64_t end = start + entry.size;
  const std::int64_t clipped = end < imageBytes ? end : imageBytes;
  return {static_cast<std::int32_t>(start), static_cast<std::int32_t>(clipped - start)};
}

}  // namespace tool
