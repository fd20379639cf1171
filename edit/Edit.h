// Writing disks: a blank formatted disk, and host files put on or taken
// off one disk of a container.
//
// A container is never opened for writing.  The changed container is a
// copy beside it, written by the editor's plan, flushed, read back and
// checked through the very survey and file system readers d88 uses, and
// only then renamed over the original (or moved to a new OUT, never over
// a file made meanwhile).  On any failure the original stays as it was and
// the copy is gone.  The copy differs from the original only inside the data areas of the
// directory's sectors and of the sectors written.
//
// Everything lives in fixed static storage; nothing is allocated here (the
// system's name converters, iconv and the Windows command line, keep
// their own).
#ifndef D88EXTRACT_EDIT_EDIT_H
#define D88EXTRACT_EDIT_EDIT_H

#include "change/Editor.h"
#include "diskimage/DiskImage.h"
#include "geometry/MediumNames.h"
#include "survey/Survey.h"
#include "tool/Extraction.h"

namespace edit {

using change::Conversion;
using change::IsPortableName;
using change::kMessageBytes;
using change::kPathBytes;
using change::Outcome;

// One command on one disk of a container, and where its result goes.
struct EditRequest : change::Request {
  const char* output;  // where the result goes; null: over the container
};

// Carries out request with editor, original reading the container and
// check reading the copy back, the container locked against other
// editors throughout.  Returns true when the result is in place; false
// with outcome->message saying why, nothing changed unless
// outcome->changed.
bool EditContainer(change::Editor& editor, diskimage::DiskImage& original,
                   diskimage::DiskImage& check, const EditRequest& request, Outcome* outcome);

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

// Converts text from the locale's encoding into Shift_JIS (code page 932)
// at out (outSize bytes with the terminator).  Text that is no text in the
// locale's encoding is taken as Shift_JIS bytes as they stand (a name
// written by the extraction tool as it was on the disk).
Conversion ToShiftJis(const char* text, char* out, int outSize);

}  // namespace edit

#endif
