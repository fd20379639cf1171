// Writing image headers: a few bytes set as asked, and a container
// repaired where its headers and record headers disagree with its
// records.  Both write through the same temporary copy, check and atomic
// replace as add and rm, under the same lock.
#ifndef D88EXTRACT_EDIT_HEADEREDITS_H
#define D88EXTRACT_EDIT_HEADEREDITS_H

#include "diskimage/DiskImage.h"
#include "edit/Edit.h"

namespace edit {

// Header bytes of one image to set; what is not asked for is kept.
struct HeaderChange {
  const char* container;  // the container's path
  const char* output;     // where the result goes; null: over the container
  int image;              // the image, from 0
  const char* name;       // the name (converted to Shift_JIS, at most 16 bytes); null: kept
  int protect;            // write-protect byte: 1 on (0x10), 0 off (0x00), -1 kept
  int mediaByte;          // media byte 0-255; -1 kept
};

// Parses a medium for the media byte: 2D, 2DD, 2HD (either case) or 0xNN;
// -1 when text is none of them.
int ParseMediaByte(const char* text);

// Sets the bytes change asks for, original reading the container and
// check the copy.  Returns true when the result is in place; false with
// outcome->message saying why, nothing changed unless outcome->changed.
bool SetHeader(diskimage::DiskImage& original, diskimage::DiskImage& check,
               const HeaderChange& change, Outcome* outcome);

}  // namespace edit

#endif
