// The verbs of whole disks: split, join, export and import.
#ifndef D88EXTRACT_D88_WHOLEDISKVERBS_H
#define D88EXTRACT_D88_WHOLEDISKVERBS_H

#include "d88/Options.h"
#include "diskimage/DiskImage.h"
#include "output/Sink.h"

namespace d88 {

// Runs split, join, export or import as options say.  Returns 0 when the
// outputs are in place; 2 when export --force wrote sectors other than as
// recorded (each named on err); 1 after one "d88: ..." message, nothing
// written.
int RunWholeDiskVerb(diskimage::DiskImage& disk, const Options& options, output::Sink& err);

}  // namespace d88

#endif
