// Whole disks: a container split into one container per image, containers
// joined, one disk written out as a raw sector image or an Anex86 FDI file,
// and such a file made into a new container.
//
// Each output is written beside its target through a temporary file,
// flushed, read back and checked against what it was made from, and
// published without replacing any file, even one made meanwhile.  On any
// failure nothing is left.  Nothing is allocated here.
#ifndef D88EXTRACT_EDIT_WHOLEDISKS_H
#define D88EXTRACT_EDIT_WHOLEDISKS_H

#include "diskimage/DiskImage.h"
#include "edit/Edit.h"
#include "geometry/MediumNames.h"

namespace edit {

// Writes each image k of the container to STEM-k.EXT (the container's
// name, its extension kept) in folder, or beside the container when folder
// is null.  The container's images must lie back to back up to its end;
// when any output exists none is written.  False with outcome->message
// saying why, nothing written.
bool SplitContainer(diskimage::DiskImage& disk, const char* container, const char* folder,
                    Outcome* outcome);

// Writes the images of the count containers back to back to output, which
// must not exist.  False with outcome->message saying why, nothing written.
bool JoinContainers(diskimage::DiskImage& disk, const char* output, const char* const* containers,
                    int count, Outcome* outcome);

// How a disk's sectors are stored outside a container.
enum class SectorFile { kRaw, kFdi };

// Where export tells of each sector it wrote other than as recorded once,
// intact ("track 3 (C 1 H 1 R 2): missing, written as zeros").
struct NoteSink {
  void (*note)(void* context, const char* line);
  void* context;
};

struct ExportRequest {
  const char* container;  // the container's path
  int image;              // the disk, from 0
  const char* output;     // the file written; must not exist
  SectorFile format;      // raw or FDI
  bool force;             // write what a clean copy cannot hold, and note it
};

// Writes the sectors of one disk in order (cylinder, head, sector).  A
// disk whose tracks are not alike, or with a sector missing, damaged,
// marked deleted or recorded twice with different data, is refused,
// naming the first such place, unless request.force: then missing sectors
// are written as zeros, the others as first recorded, and each is noted.
// Returns false with outcome->message, nothing written; *noted counts the
// notes.
bool ExportDisk(diskimage::DiskImage& disk, const ExportRequest& request, NoteSink notes,
                int* noted, Outcome* outcome);

struct ImportRequest {
  const char* input;                 // the raw or FDI file
  const char* output;                // the container written; must not exist
  SectorFile format;                 // how input stores the sectors
  const geometry::DiskShape* shape;  // the disk's shape; null: from the file
  const char* diskName;              // the header's name (locale text); null for none
};

// Makes a container of one disk from a raw or FDI file: every track in
// order, sectors 1..S with their IDs, status 0, the family's media byte.
// False with outcome->message saying why, nothing written.
bool ImportDisk(diskimage::DiskImage& check, const ImportRequest& request, Outcome* outcome);

}  // namespace edit

#endif
