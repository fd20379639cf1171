// FAT12 as MS-DOS, PC-98 MS-DOS and Windows leave it on a floppy disk:
//
//   logical sector 0   boot sector; from byte 11 the BIOS parameter block
//                        +11 bytes per sector (16-bit)   +13 sectors per cluster
//                        +14 reserved sectors (16-bit)   +16 FAT copies
//                        +17 root entries (16-bit)       +19 total sectors (16-bit,
//                        +21 media descriptor                0: the 32-bit one at +32)
//                        +22 sectors per FAT (16-bit)
//   reserved sectors   then the FAT copies, back to back; FAT entry n is
//                        12 bits at byte n*3/2 (the low 12 of the 16-bit
//                        word for even n, the high 12 for odd n); entries 0
//                        and 1 hold the media descriptor and 0xFF
//   then the root directory (root entries x 32 bytes), then the data area:
//                        cluster 2 onwards, sectors-per-cluster sectors each
//
// A directory entry (32 bytes):
//   +0 name (8, space-padded; 0x00 ends the directory, 0xE5 deleted, 0x05
//      stands for a first byte 0xE5)   +8 extension (3)   +11 attributes
//   +12 case: 0x08 the name, 0x10 the extension in lower case
//   +22 time   +24 date   +26 first cluster (16-bit)   +28 size (32-bit)
// A long-name entry (attributes 0x0F) precedes its short entry:
//   +0 ordinal (0x40 on the last part, parts counted down to 1)
//   +1 5 UTF-16 units   +13 checksum of the 11 short-name bytes
//   +14 6 units   +28 2 units
#ifndef D88EXTRACT_FAT12_FAT12_H
#define D88EXTRACT_FAT12_FAT12_H

#include <cstdint>

#include "filesystem/FileSystem.h"

namespace fat12 {

constexpr std::uint32_t kMaxClusters = 4084;  // FAT12's limit
constexpr std::uint32_t kDirectoryEntryBytes = 32;
// Bytes of the table that hold entries 0..kMaxClusters+1.
constexpr std::uint32_t kTableBytes = (kMaxClusters + 2) * 3 / 2 + 1;

struct Layout {
  bool hasParameterBlock = false;
  std::uint32_t bytesPerSector = 0;
  std::uint32_t sectorsPerCluster = 0;
  std::uint32_t reservedSectors = 0;
  std::uint32_t fatCount = 0;
  std::uint32_t rootEntries = 0;
  std::uint32_t totalSectors = 0;
  std::uint32_t media = 0;
  std::uint32_t sectorsPerFat = 0;
  // Derived.
  std::uint32_t rootStart = 0;
  std::uint32_t rootSectors = 0;
  std::uint32_t dataStart = 0;
  std::uint32_t clusterCount = 0;  // clusters 2..clusterCount+1
};

class Fat12Reader final : public filesystem::FileSystem {
 public:
  Fat12Reader() = default;
  ~Fat12Reader() = default;

  const char* Name() const override { return "FAT12"; }
  bool Recognise(const filesystem::SectorSource& source, filesystem::Reason& reason) override;
  void Read(const filesystem::SectorSource& source) override;
  int EntryCount() const override { return entryCount_; }
  const filesystem::Entry& EntryAt(int index) const override { return entries_[index]; }
  filesystem::Faults RootFaults() const override { return rootFaults_; }
  filesystem::Faults DiskFaults() const override { return diskFaults_; }
  std::uint32_t OwnSectors() const override { return layout_.dataStart; }
  std::uint32_t FileSectors(int index, std::uint32_t* out, std::uint32_t capacity,
                            std::uint32_t* lastSectorBytes) const override;
  std::size_t ReadFile(int index, std::uint64_t offset, std::uint8_t* out,
                       std::size_t length) const override;

  const Layout& layout() const { return layout_; }

 private:
  struct LongName;
  void LoadTable();
  bool TableKnown(std::uint32_t entry) const;
  std::uint32_t TableEntry(std::uint32_t entry) const;
  template <typename Visit>
  filesystem::Faults Walk(std::uint32_t first, std::uint64_t limit, Visit&& visit) const;
  template <typename Visit>
  filesystem::Faults WalkFile(int index, Visit&& visit) const;
  void CheckFile(int index);
  void ReadDirectory(int folder);
  filesystem::Faults ReadDirectorySector(int folder, std::uint32_t logical, LongName& longName,
                                         bool* ended);
  filesystem::Faults AddEntry(int folder, const std::uint8_t* raw, const LongName& longName);
  const std::uint8_t* Keep(const void* bytes, std::size_t length);

  const filesystem::SectorSource* source_ = nullptr;
  Layout layout_;
  std::uint8_t table_[kTableBytes] = {};
  std::uint8_t tableKnown_[kTableBytes] = {};
  filesystem::Entry entries_[filesystem::kMaxEntries];
  std::uint16_t firstCluster_[filesystem::kMaxEntries] = {};
  int entryCount_ = 0;
  std::int16_t owner_[kMaxClusters + 2] = {};           // entry reading each cluster, -1 none
  mutable std::uint32_t stamp_[kMaxClusters + 2] = {};  // the walk that last came by
  mutable std::uint32_t walk_ = 0;
  filesystem::Faults rootFaults_ = 0;
  filesystem::Faults diskFaults_ = 0;
  std::uint8_t pool_[filesystem::kNamePoolBytes] = {};
  std::size_t poolUsed_ = 0;
};

}  // namespace fat12

#endif
