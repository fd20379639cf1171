// Writing FAT12: a blank volume's system sectors, and changes to a volume
// planned on its logical sectors (add, rm, mkdir, rmdir), as MS-DOS and
// Windows leave them.
//
// A change either happens whole or not at all: every sector it touches
// is saved first, and a refusal puts them all back.  Data sectors are
// written last, once nothing can fail.  The writer records which logical
// sectors it changed; nothing else of the volume is touched.
//
// Names arrive as Shift_JIS bytes, folders joined by '/'.  A name that is
// a DOS 8.3 name (ASCII letters all upper or all lower case in each part)
// is stored as it is; any other gets VFAT long-name entries (UTF-16) and
// a short alias made as Windows makes them, NAME~1.EXT onwards.
#ifndef D88EXTRACT_FAT12_FAT12WRITER_H
#define D88EXTRACT_FAT12_FAT12WRITER_H

#include <cstddef>
#include <cstdint>

#include "fat12/Fat12.h"
#include "filesystem/FileSystem.h"

namespace fat12 {

// --- A blank volume ------------------------------------------------------

struct FormatParameters {
  Layout layout;  // bytesPerSector .. sectorsPerFat, and the derived fields
  std::uint32_t sectorsPerTrack = 0;
  std::uint32_t heads = 0;
  std::uint8_t driveNumber = 0;  // 0x00 a floppy, 0x80 a fixed disk
};

// The most bytes a blank volume's system sectors (boot sector, FATs, root
// directory) take; the data area after them is zeros.
constexpr std::size_t kFormatAreaBytes = 65536;

// Works out the parameters a disk of shape gets: the DOS values of the
// common floppies (PC-98 2HD, 2DD, 2DD8, 1.44M, 1.2M), otherwise those
// mkfs.fat chooses for the size.  False with the reason when no FAT12
// volume fits the shape.
bool ChooseFormat(const filesystem::Geometry& shape, FormatParameters* out,
                  filesystem::Reason& reason);

// Makes the 11 bytes of a volume label from label (Shift_JIS, ASCII letters
// upper-cased); false when it is empty, longer than 11 bytes or holds a byte
// no label may hold.
bool MakeLabel(const char* label, std::uint8_t (&out)[11]);

// Writes the system sectors of a blank volume into area (room for
// parameters.layout.dataStart sectors): boot sector with serial and label
// (null: "NO NAME"), both FATs, the root directory with the label's entry
// stamped dosDate and dosTime.
void FormatSystemArea(const FormatParameters& parameters, const std::uint8_t* label,
                      std::uint32_t serial, std::uint16_t dosDate, std::uint16_t dosTime,
                      std::uint8_t* area);

// --- Changes to a volume --------------------------------------------------

// The largest sector and cluster the writer changes.
constexpr std::uint32_t kWriterMaxSectorBytes = 4096;
constexpr std::uint32_t kWriterMaxClusterBytes = 32768;
// Bytes of sectors saved while one change is under way.
constexpr std::size_t kUndoBytes = 256 * 1024;

class Fat12Writer {
 public:
  Fat12Writer() = default;
  Fat12Writer(const Fat12Writer&) = delete;
  Fat12Writer& operator=(const Fat12Writer&) = delete;

  // Takes the volume in sectors (sectorCount logical sectors of
  // layout.bytesPerSector bytes each, the layout as the reader recognised
  // it); sectors must outlive the writer's use.  False with the reason when
  // the writer cannot change it: its FAT copies disagree or are damaged,
  // or its sectors are larger than it handles.  Clears the changed set.
  bool Open(std::uint8_t* sectors, std::uint32_t sectorCount, const Layout& layout,
            filesystem::Reason& reason);

  // Each change: true when done, false with the reason and nothing changed.
  // Puts size bytes of data at path, replacing a file of that name; the
  // entry stamped dosDate and dosTime.
  bool Add(const char* path, const std::uint8_t* data, std::uint32_t size, std::uint16_t dosDate,
           std::uint16_t dosTime, filesystem::Reason& reason);
  // Removes the file at path (its long name or its short alias).
  bool Remove(const char* path, filesystem::Reason& reason);
  // Makes the folder path, with its "." and "..".
  bool MakeFolder(const char* path, std::uint16_t dosDate, std::uint16_t dosTime,
                  filesystem::Reason& reason);
  // Removes the folder path, which must be empty.
  bool RemoveFolder(const char* path, filesystem::Reason& reason);

  // Whether logical sector s was changed since Open.
  bool Changed(std::uint32_t s) const { return s < sectorCount_ && changed_[s] != 0; }

 private:
  struct Slot;
  struct Found;
  struct NewName;

  std::uint8_t* Touch(std::uint32_t s);
  void Undo();
  std::uint32_t TableEntry(std::uint32_t n) const;
  void SetTableEntry(std::uint32_t n, std::uint32_t value);
  std::uint32_t FreeClusters() const;
  std::uint32_t TakeCluster(std::uint32_t previous);
  bool ChainSound(std::uint32_t first) const;
  void FreeChain(std::uint32_t first);
  std::uint32_t ClusterSector(std::uint32_t cluster) const;
  template <typename Visit>
  bool VisitSlots(std::uint32_t folder, Visit&& visit, filesystem::Reason& reason) const;
  bool FindFolder(const char* path, std::uint32_t* folder, const char** leaf,
                  filesystem::Reason& reason) const;
  bool Lookup(std::uint32_t folder, const char* name, Found* found,
              filesystem::Reason& reason) const;
  bool CheckName(const char* name, NewName* out, filesystem::Reason& reason) const;
  bool MakeAlias(std::uint32_t folder, NewName* name, filesystem::Reason& reason) const;
  bool FindRun(std::uint32_t folder, int count, Slot* run, int* growth,
               filesystem::Reason& reason) const;
  bool PutEntries(std::uint32_t folder, const NewName& name, std::uint8_t attributes,
                  std::uint32_t firstCluster, std::uint32_t size, std::uint16_t dosDate,
                  std::uint16_t dosTime, filesystem::Reason& reason);
  void DeleteEntries(const Found& found);
  bool FindExisting(const char* path, Found* found, filesystem::Reason& reason);
  bool MakeRoom(std::uint32_t folder, NewName* name, std::uint32_t clusters,
                filesystem::Reason& reason);
  bool Resolve(const char* path, std::uint32_t* folder, NewName* name, Found* found, bool* exists,
               filesystem::Reason& reason);
  bool Refuse(filesystem::Reason& reason, const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 3, 4)))
#endif
      ;

  std::uint8_t* sectors_ = nullptr;
  std::uint32_t sectorCount_ = 0;
  Layout layout_;
  std::uint8_t changed_[filesystem::kMaxSectors] = {};
  // Sectors saved by the change under way: which, and their bytes in turn.
  std::uint32_t saved_[kUndoBytes / 512] = {};
  std::uint32_t savedCount_ = 0;
  std::uint8_t undo_[kUndoBytes] = {};
  std::uint8_t savedChanged_[kUndoBytes / 512] = {};
};

}  // namespace fat12

#endif
