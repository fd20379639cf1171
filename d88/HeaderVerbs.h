// The verbs of the image headers: set, fix and hash.
#ifndef D88EXTRACT_D88_HEADERVERBS_H
#define D88EXTRACT_D88_HEADERVERBS_H

#include "d88/Options.h"
#include "diskimage/DiskImage.h"
#include "output/Sink.h"

namespace d88 {

// Runs set or fix as options say, disk reading the container; fix lists
// its repairs on out.  Returns 0 when the result is in place (or fix
// found nothing to repair); 1 after one "d88: ..." message on err, every
// file as it was.
int RunHeaderVerb(diskimage::DiskImage& disk, const Options& options, output::Sink& out,
                  output::Sink& err);

// Runs hash over every container options name: one line (or JSON
// document) a container's image on out.  Returns 0, or 1 when a container
// cannot be read (the others are still hashed).
int RunHash(diskimage::DiskImage& disk, const Options& options, output::Sink& out,
            output::Sink& err);

}  // namespace d88

#endif
