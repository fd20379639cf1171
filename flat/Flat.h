// The flat directory of the two media as a file system of d88: a thin
// adapter over the extraction tool's own decoding, so that d88 reads the
// entries, places and bytes d88extract reads.
//
// It recognises a disk of either medium whose directory looks like one:
// at least half the entries before the end mark start on the loaded disk.  A directory
// with a sector not intact is still taken for one, as its files' verdicts
// rest on that; only a readable directory of impossible entries is not.
#ifndef D88EXTRACT_FLAT_FLAT_H
#define D88EXTRACT_FLAT_FLAT_H

#include <cstdint>

#include "filesystem/FileSystem.h"
#include "tool/Extraction.h"

namespace flat {

// Returns the medium whose geometry shape is, or null.
const tool::MediaGeometry* MediumOf(const filesystem::Geometry& shape);

class FlatDirectory final : public filesystem::FileSystem {
 public:
  FlatDirectory() = default;
  ~FlatDirectory() = default;

  const char* Name() const override { return "flat"; }
  bool Recognise(const filesystem::SectorSource& source, filesystem::Reason& reason) override;
  void Read(const filesystem::SectorSource& source) override;
  int EntryCount() const override { return entryCount_; }
  const filesystem::Entry& EntryAt(int index) const override { return entries_[index]; }
  filesystem::Faults RootFaults() const override { return rootFaults_; }
  filesystem::Faults DiskFaults() const override { return 0; }
  std::uint32_t FileSectors(int index, std::uint32_t* out, std::uint32_t capacity,
                            std::uint32_t* lastSectorBytes) const override;
  std::size_t ReadFile(int index, std::uint64_t offset, std::uint8_t* out,
                       std::size_t length) const override;

 private:
  // Reads the directory sectors as the tool does; false when one is not intact.
  bool ReadDirectorySectors(const filesystem::SectorSource& source);

  const filesystem::SectorSource* source_ = nullptr;
  const tool::MediaGeometry* medium_ = nullptr;
  std::uint8_t directory_[tool::kDirectoryBufferBytes] = {};
  tool::DirectoryEntry decoded_[tool::kMaxDirectoryEntries] = {};
  filesystem::Entry entries_[tool::kMaxDirectoryEntries];
  char text_[tool::kMaxDirectoryEntries][4 * tool::kEntryNameBytes + 1] = {};
  int entryCount_ = 0;
  filesystem::Faults rootFaults_ = 0;
};

}  // namespace flat

#endif
