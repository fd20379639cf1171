// Writing disks: a blank formatted disk, and host files put on or taken
// off one disk of a container.
//
// A container is never opened for writing.  The changed container is a
// copy, streamed through a fixed buffer with the changed bytes patched in,
// flushed, read back and checked through the very survey and disk load the
// extraction tool uses, and only then renamed over the original (or moved to
// a new OUT, never over a file made meanwhile).  On any failure the original stays as it was and
// the copy is gone.  The copy differs from the original only inside the data areas of the
// directory's sectors and of the sectors written.
//
// Everything lives in fixed static storage; nothing is allocated here (the
// system's name converters, iconv and the Windows command line, keep
// their own).
#ifndef D88EXTRACT_EDIT_EDIT_H
#define D88EXTRACT_EDIT_EDIT_H

#include "diskimage/DiskImage.h"
#include "geometry/MediumNames.h"
#include "survey/Survey.h"
#include "tool/Extraction.h"

namespace edit {

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

// One command on one disk of a container.
struct EditRequest {
  const char* container;     // the container's path
  const char* output;        // where the result goes; null: over the container
  int image;                 // the disk, from 0
  bool remove;               // true: remove the entries named; false: add host files
  const char* const* items;  // the host files (add) or names and "#N" positions (rm)
  int itemCount;             // how many items
  const char* diskName;      // add with one file: its name on the disk; null: its host name
                             // (FAT12: a path; one ending in '/' takes several files)
  bool folders = false;      // FAT12: make (add) or remove (rm) the empty folders named
};

// Carries out request with original reading the container and check
// reading the copy back, the container locked against other editors
// throughout.  Returns true when the result is in place; false with
// outcome->message saying why, nothing changed unless outcome->changed.
bool EditContainer(diskimage::DiskImage& original, diskimage::DiskImage& check,
                   const EditRequest& request, Outcome* outcome);

// Writes a blank disk of medium to path, which must not exist: every track
// recorded in order with all its sectors, zero data, an empty directory,
// the header named name (converted to Shift_JIS; null for none), through
// a temporary file moved to path when whole.  Returns false with
// outcome->message saying why, path left absent unless outcome->changed.
bool MakeBlankDisk(const char* path, const tool::MediaGeometry& medium, const char* name,
                   Outcome* outcome);

// Writes a blank FAT12 disk of shape to path as MakeBlankDisk does, the
// container's media byte by the disk's family (2D, 2DD or 2HD), the volume
// formatted as DOS formats that floppy (as mkfs.fat would any other
// shape), labelled label (null: none).
bool MakeBlankFatDisk(const char* path, const geometry::DiskShape& shape, const char* name,
                      const char* label, Outcome* outcome);

// True when name (a file's name in a folder) is that of an editor's
// temporary file.
bool IsTempName(const char* name);

// Opens the container at path in reader as DiskImage::Open does, the path
// opened through the platform layer (wide on Windows): false, errno saying
// why, when it cannot be opened.
bool OpenContainerFile(diskimage::DiskImage& reader, const char* path);

// True when the temporary file at path belongs to no running edit: one
// that was stopped left it.
bool IsAbandoned(const char* path);

// What became of a name converted to Shift_JIS.
enum class Conversion {
  kDone,         // converted (or taken as it stands: not text of the locale)
  kNoForm,       // a character has no Shift_JIS form, or the result does not fit
  kNoConverter,  // the system has no converter between the two
};

// Converts text from the locale's encoding into Shift_JIS (code page 932)
// at out (outSize bytes with the terminator).  Text that is no text in the
// locale's encoding is taken as Shift_JIS bytes as they stand (a name
// written by the extraction tool as it was on the disk).
Conversion ToShiftJis(const char* text, char* out, int outSize);

// True when every system extracts a file of this disk name (Shift_JIS
// bytes): one to four bytes, no space, no control byte, and neither the
// POSIX rules (not empty, ".", "..", no "/") nor the Windows ones
// (valid code page 932, none of < > : " / \ | ? *, no trailing dot, no
// device name) refuse it.
bool IsPortableName(const char* name);

}  // namespace edit

#endif
