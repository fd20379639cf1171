// Changing the files of one disk of a container: host files put on, files
// and folders taken off.  A plan for the flat directory or for FAT12 says
// which sectors' data areas change and to what; one writer then streams
// the container with those bytes laid over it, and reads the copy back
// through the survey and the file system's reader before anyone may use it.
//
// Nothing here touches a file by name: the caller opens the container and
// its copy, hands over the host files, and takes the copy's bytes; so d88
// and the page run the very same plans.  The editor lives in static
// storage its caller owns; nothing is allocated.
#ifndef D88EXTRACT_CHANGE_EDITOR_H
#define D88EXTRACT_CHANGE_EDITOR_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "diskimage/DiskImage.h"
#include "fat12/Fat12Writer.h"
#include "survey/FileSystems.h"
#include "survey/Survey.h"
#include "tool/Extraction.h"

namespace change {

// Room for a failure message, with its terminator.
constexpr int kMessageBytes = 768;

// Room for a path of a file an edit writes, with its terminator.
constexpr int kPathBytes = 4096 + 64;

// What became of an edit, for the verb to print.
struct Outcome {
  bool surveyed;                // image holds the disk edited (for its warnings)
  survey::ImageSummary image;   // that disk, as surveyed before the edit
  char message[kMessageBytes];  // why nothing was written, controls escaped; empty on success
  // The container (or OUT) was changed: message then tells what went wrong
  // after that, if anything.
  bool changed;
  char leftover[kPathBytes];  // a file an earlier edit left beside the target; empty for none
};

// Clears outcome for a new edit.
void Begin(Outcome* outcome);

// Writes the formatted message into outcome->message; returns false.
bool Fail(Outcome* outcome, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Returns text with its controls escaped, in one of a few rotating
// static buffers (enough for the arguments of one message).
const char* Shown(const char* text);

// What became of a name converted to Shift_JIS.
enum class Conversion {
  kDone,         // converted (or taken as it stands: not text of the locale)
  kNoForm,       // a character has no Shift_JIS form, or the result does not fit
  kNoConverter,  // the system has no converter between the two
};

// Converts text as the user typed it into Shift_JIS at out (outSize
// bytes with the terminator).
using Converter = Conversion (*)(const char* text, char* out, int outSize);

// Converts a name (or path) typed to Shift_JIS at out (outSize bytes);
// false after the message.
bool ToDiskName(Converter convert, const char* text, char* out, int outSize, Outcome* outcome);

// True when every system extracts a file of this disk name (Shift_JIS
// bytes): one to four bytes, no space, no control byte, and neither the
// POSIX rules (not empty, ".", "..", no "/") nor the Windows ones
// (valid code page 932, none of < > : " / \ | ? *, no trailing dot, no
// device name) refuse it.
bool IsPortableName(const char* name);

// The local time when, as DOS packs a date and a time.
void DosStamp(std::time_t when, std::uint16_t* date, std::uint16_t* time);

// The part of path after its last separator.
const char* BaseName(const char* path);

// One command on one disk of a container.
struct Request {
  const char* container;     // the container's name, for messages
  int image;                 // the disk, from 0
  bool remove;               // true: remove the entries named; false: add host files
  const char* const* items;  // the host files (add) or names and "#N" positions (rm)
  int itemCount;             // how many items
  const char* diskName;      // add with one file: its name on the disk; null: its host name
                             // (FAT12: a path; one ending in '/' takes several files)
  bool folders;              // FAT12: make (add) or remove (rm) the empty folders named
  std::time_t now;           // a new folder's time
  Converter toShiftJis;      // names as typed, into Shift_JIS
};

// A host file being added.
struct HostFile {
  long long size;        // its bytes
  std::time_t modified;  // its time, for its entry
};

// Where the files an add takes come from: files on the host, or bytes
// handed over by the page.
class HostFiles {
 public:
  // Opens the host file item names; its size and time into file.  False
  // after the message when it cannot be opened or is not a plain file.
  virtual bool Open(const char* item, HostFile* file, Outcome* outcome) = 0;
  // Reads the open file's size bytes to to and closes it; false after the
  // message when it could not, or it is not what it was when opened.
  virtual bool Read(const char* item, std::uint8_t* to, Outcome* outcome) = 0;
  // Closes the open file unread.
  virtual void Close() = 0;

 protected:
  ~HostFiles() = default;
};

// Where the copy goes.
class CopySink {
 public:
  // Writes length bytes; false with errno when it could not.
  virtual bool Write(const std::uint8_t* bytes, std::size_t length) = 0;

 protected:
  ~CopySink() = default;
};

// Bytes to change in the copy: a sector's data area.
struct Patch {
  std::int64_t position;      // file position of the first byte
  int length;                 // bytes
  const std::uint8_t* bytes;  // what they become
  const std::uint8_t* was;    // the bytes as surveyed, which the stream must meet; null: any
};

// The sectors a plan changes, in file order.
struct Patches {
  Patch list[survey::kSlots];
  int count;
};

// An add or rm on the flat directory.
class FlatPlan {
 public:
  // Plans request on before, image request.image of original (images in
  // all), into patches.  False after the message when refused.
  bool Make(diskimage::DiskImage& original, int images, const survey::DiskSurvey& before,
            const Request& request, HostFiles& files, Patches& patches, Outcome* outcome);
  // True when after, the edited disk of the copy, reads as planned.
  bool ReadsAsPlanned(const survey::DiskSurvey& after) const;

 private:
  // A slot's data area by its file position.
  struct Area {
    std::int64_t start;
    int slot;
  };
  bool FindUsableSlots(diskimage::DiskImage& disk, int k, int images, std::int64_t imageStart,
                       std::int64_t imageEnd);
  void RuleOut(std::int64_t from, std::int64_t to, std::int64_t own, int sectorBytes);
  tool::DirectoryEntry PlannedEntry(int e) const;
  int PlannedEntries() const;
  void MarkUsed(int entries, int skip);
  int FindRun(int count) const;
  int LastNamed(const char* name, int entries) const;
  bool AddFile(const char* path, const Request& request, HostFiles& files, Outcome* outcome);
  bool RemoveEntries(const Request& request, Outcome* outcome);
  void StoreEntry(int e, const char* name, int start, long long size);
  void CollectPatches(Patches& patches) const;

  const survey::DiskSurvey* before_ = nullptr;
  Area areas_[survey::kSlots];
  int areaCount_ = 0;
  bool usable_[survey::kSlots];
  bool used_[survey::kSlots];
  std::int64_t dataPosition_[survey::kSlots];            // file position of slot p's data; -1 none
  bool written_[survey::kSlots];                         // slot p gets data_[p x sector bytes ..]
  std::uint8_t data_[tool::kLargestDiskBytes];           // the written slots' new bytes
  std::uint8_t directory_[tool::kDirectoryBufferBytes];  // the new directory
};

// An add, rm, mkdir or rmdir on a FAT12 disk.
class FatPlan {
 public:
  // Plans request on before, read by fileSystems (FAT12), image
  // request.image of original, into patches.  False after the message
  // when refused.
  bool Make(diskimage::DiskImage& original, const survey::DiskSurvey& before,
            const survey::FileSystems& fileSystems, const Request& request, HostFiles& files,
            Patches& patches, Outcome* outcome);
  // True when after, the edited disk of the copy open in check, holds
  // the volume as planned and reads as the change meant.
  bool ReadsAsPlanned(diskimage::DiskImage& check, survey::DiskSurvey& after,
                      survey::FileSystems& now) const;

 private:
  // The most files or names one edit takes.
  static constexpr int kMaxItems = 64;
  struct AddedFile {
    const char* path;    // on the disk, as the reader shows it
    std::size_t offset;  // into hostData_
    std::uint32_t size;
  };
  bool AddHostFile(int i, const Request& request, HostFiles& files, Outcome* outcome);

  fat12::Fat12Writer writer_;
  const survey::DiskSurvey* before_ = nullptr;
  const survey::FileSystems* fileSystems_ = nullptr;
  const Request* request_ = nullptr;
  std::uint8_t volume_[survey::kDataBytes];  // the logical sectors as the change leaves them
  AddedFile added_[kMaxItems];
  int addedCount_ = 0;
  std::uint8_t hostData_[survey::kDataBytes];
  std::size_t hostUsed_ = 0;
  char targets_[kMaxItems][kPathBytes];    // the disk paths named, as typed
  char diskPaths_[kMaxItems][kPathBytes];  // the same in Shift_JIS, as the writer takes them
  char matched_[kMaxItems][kPathBytes];    // the same as the reader shows them, to find them by
};

// The editor: plans a request and carries it out on a copy.
class Editor {
 public:
  // Surveys image request.image of original (open on the whole
  // container) and plans request on it.  False after the message when
  // the disk cannot be read or the change is refused.
  bool Plan(diskimage::DiskImage& original, const Request& request, HostFiles& files,
            Outcome* outcome);
  // Streams the container, from source at its start, into sink with the
  // planned change: null when the copy is whole, else why not.
  const char* WriteCopy(std::FILE* source, CopySink& sink);
  // True when the copy open in check is the container but for the change:
  // its size, every other disk the same, the edited one as planned.
  bool ReadsBack(diskimage::DiskImage& original, diskimage::DiskImage& check);

 private:
  survey::DiskSurvey before_, after_, other_;
  survey::FileSystems fileSystems_, afterFileSystems_;
  FlatPlan flat_;
  FatPlan fat_;
  bool fat12_ = false;
  int image_ = 0;
  std::int64_t fileSize_ = 0;
  Patches patches_;
  std::uint8_t buffer_[1 << 16];  // the stream's window on the container
};

}  // namespace change

#endif
