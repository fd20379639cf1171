// The file system of a surveyed disk, through the one interface every file
// system implements: the disk's sectors as a SectorSource, and the choice
// of the file system that reads them, told with its reason.
#ifndef D88EXTRACT_SURVEY_FILESYSTEMS_H
#define D88EXTRACT_SURVEY_FILESYSTEMS_H

#include <cstdint>

#include "fat12/Fat12.h"
#include "filesystem/FileSystem.h"
#include "flat/Flat.h"
#include "survey/Survey.h"

namespace survey {

// A surveyed disk's loaded sectors, logical sector p being slot p.  The
// survey must have been made with its data, and outlive the file system
// that reads through this source: a file system keeps it to read files.
class SurveySource final : public filesystem::SectorSource {
 public:
  SurveySource() = default;
  explicit SurveySource(const DiskSurvey& disk) : disk_(&disk) {}
  ~SurveySource() = default;
  void Bind(const DiskSurvey& disk) { disk_ = &disk; }
  filesystem::Geometry Shape() const override;
  filesystem::Sector At(std::uint32_t logical) const override;

 private:
  const DiskSurvey* disk_ = nullptr;
};

// What --fs asks for: whatever the disk holds, or one file system anyway.
enum class FileSystemChoice : std::uint8_t { kAny, kFlat, kFat12 };

// Returns the choice --fs NAME names ("flat", "fat12"); false for any other.
bool ParseFileSystemChoice(const char* name, FileSystemChoice* choice);

// The file systems a disk may hold, with the one that reads it.  Large
// (a FAT12 listing), so keep one with static storage, one per survey.
struct FileSystems {
  // Out of line, so that a static one is zeroed storage set up at start,
  // not an image of it in the program.
  FileSystems();

  SurveySource source;  // the disk last read, which the chosen one reads files through
  flat::FlatDirectory flat;
  fat12::Fat12Reader fat12;
  const filesystem::FileSystem* chosen = nullptr;       // null: none recognised
  filesystem::Reason reason;                            // why chosen, or why none
  std::uint32_t sectors[filesystem::kMaxSectors] = {};  // one file's, for the views

  bool IsFlat() const { return chosen == &flat; }
  bool IsFat12() const { return chosen == &fat12; }
};

// Recognises the file system of disk and reads it
// into fs: FAT12 when its parameter block agrees with the geometry (or the
// early PC-98 layout), else the flat directory when the disk is of one of
// its media and looks like one, else none.  With a choice other than kAny
// the disk is read as that one anyway, where its geometry allows.  A disk
// not read as the flat directory loses the survey's flat files (fileCount
// and directory damage 0, no owners).
// A survey made without its data gets the bytes it needs from image, the
// reader it was made with: its first tracks to recognise the file system,
// all of them for any but the flat directory.
void ReadFileSystem(diskimage::DiskImage& image, DiskSurvey& disk, FileSystems& fs,
                    FileSystemChoice choice);

// Counts disk, read by fs, into tally: the files of its file system, a
// damaged directory when any folder's is, an unrecognised disk.
void AddToTally(Tally& tally, const DiskSurvey& disk, const FileSystems& fs);

// True when extract writes entry index of fs's chosen file system under
// its path: every component of it a name this system creates.
bool EntryWritable(const FileSystems& fs, int index);

// Sets the owners of a disk read by a file system other than the flat
// directory (whose owners the survey sets): its own sectors kDirectoryOwner,
// each file's and folder's sectors its entry index.
void MarkOwners(DiskSurvey& disk, FileSystems& fs);

// Adds the damage of the sectors entry index of fs covers to damage.
void AddEntryDamage(const DiskSurvey& disk, FileSystems& fs, int index, DamageList* damage);

}  // namespace survey

#endif
