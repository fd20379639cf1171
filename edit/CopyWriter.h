// Inside edit: writing a changed container as a new copy from a producer,
// for the writers whose result is not the original's bytes patched in
// place (records moved, images taken apart or put together).  The steps
// of the temporary file every writer shares are in Plan.h.
#ifndef D88EXTRACT_EDIT_COPYWRITER_H
#define D88EXTRACT_EDIT_COPYWRITER_H

#include <cstdio>

#include "diskimage/DiskImage.h"
#include "edit/Edit.h"
#include "edit/Plan.h"

namespace edit {

// What makes the copy and judges it.  Each returns null when all is well,
// else why not, in words that follow "cannot write OUT: ".
struct CopyProducer {
  // Writes the whole new file into fd (with WriteAll), reading the
  // container from source, which stands at its start.
  const char* (*write)(void* context, std::FILE* source, int fd);
  // Reads the flushed copy at path back and compares it with what was meant.
  const char* (*check)(void* context, const char* path);
  void* context;
};

// With container held by lock and original reading it, writes producer's
// file beside output (a new file; null: over container) under a temporary
// name, flushed and checked, then publishes it: renamed over the
// container, or moved to output where nothing stands.  False with the
// message when a step fails; nothing changed unless outcome->changed.
bool WriteProducedCopy(diskimage::DiskImage& original, ContainerLock& lock, const char* container,
                       const char* output, const CopyProducer& producer, Outcome* outcome);

// Opens the container lock holds with original; false after the message.
bool OpenLocked(diskimage::DiskImage& original, const ContainerLock& lock, const char* container,
                Outcome* outcome);

}  // namespace edit

#endif
