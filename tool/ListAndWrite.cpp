#include "tool/Extraction.h"

namespace tool {

ListingOutcome ListAndWriteFiles(const std::uint8_t* directory, const std::uint8_t* image,
                                 const MediaGeometry& geometry, EntryListing& listing) {
  ListingOutcome outcome{0, -1};
  for (int i = 0; i < kMaxDirectoryEntries; ++i) {
    DirectoryEntry entry;
    if (!DecodeDirectoryEntry(directory + i * kDirectoryEntryBytes, geometry, &entry)) break;
    listing.List(entry);
    outcome.entries = i + 1;
    const DataRange range = EntryDataRange(entry, geometry, kLargestDiskBytes);
    if (!WriteOutputFile(entry.name, image + range.offset, range.length)) {
      outcome.failedEntry = i;
      break;
    }
  }
  return outcome;
}

}  // namespace tool
