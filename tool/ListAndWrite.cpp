#include "tool/Extraction.h"

namespace tool {

int ListAndWriteFiles(const std::uint8_t* directory, const std::uint8_t* image,
                      const MediaGeometry& geometry, const EntryListing& listing) {
  for (int i = 0; i < kMaxDirectoryEntries; ++i) {
    DirectoryEntry entry;
    if (!DecodeDirectoryEntry(directory + i * kDirectoryEntryBytes, geometry, &entry)) break;
    listing.list(listing.context, entry);
    const DataRange range = EntryDataRange(entry, geometry, kLargestDiskBytes);
    if (!WriteOutputFile(entry.name, image + range.offset, range.length)) return i;
  }
  return -1;
}

}  // namespace tool
