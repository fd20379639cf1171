// The verbs that write disks: new, add and rm.
#ifndef D88EXTRACT_D88_EDITVERBS_H
#define D88EXTRACT_D88_EDITVERBS_H

#include "d88/Options.h"
#include "diskimage/DiskImage.h"
#include "edit/Edit.h"
#include "output/Sink.h"

namespace d88 {

// Runs new, add or rm as options say, disk reading the container.
// Returns 0 when the result is in place; 1 after one "d88: ..." message
// on err, every file as it was.  Warnings about the disk go to err.
int RunEditVerb(diskimage::DiskImage& disk, const Options& options, output::Sink& err);

// Tells of a writer's result on err (a file an earlier edit left, the
// failure) and returns the status: 0 done, 1 nothing changed, 3 changed
// but not all told.
int EditStatus(const edit::Outcome& result, bool done, output::Sink& err);

}  // namespace d88

#endif
