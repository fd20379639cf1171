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

// The most repairs and notes fix keeps the text of; more are counted.
constexpr int kMostRepairLines = 256;
constexpr int kRepairLineBytes = 160;

// What fix did, and what it left as it was for want of proof, one line
// each without its end.
struct Repairs {
  int count;
  char lines[kMostRepairLines][kRepairLineBytes];
  int noteCount;
  char notes[kMostRepairLines][kRepairLineBytes];
};

// Repairs the container (to output, or over it) where only one reading
// is possible, never touching sector data, listing each repair in
// repairs.  Returns true when the result is in place, or nothing needed
// repair (repairs->count 0, nothing written); false with outcome->message
// saying why (a repair that would lose a record among them), nothing
// changed unless outcome->changed.
bool FixContainer(diskimage::DiskImage& original, diskimage::DiskImage& check,
                  const char* container, const char* output, Repairs* repairs, Outcome* outcome);

}  // namespace edit

#endif
