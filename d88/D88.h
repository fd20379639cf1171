// The whole run of d88, apart from the process around it.
#ifndef D88EXTRACT_D88_D88_H
#define D88EXTRACT_D88_D88_H

#include <cstdio>

#include "diskimage/DiskImage.h"

namespace d88 {

// Where the run's text goes: the process's standard streams, or a test's.
struct Console {
  std::FILE* out;  // listings, reports, maps
  std::FILE* err;  // warnings and failure messages
};

// Exit statuses: all well; a failure, after its message, nothing changed;
// for test and extract, a file damaged or a disk's medium unknown; and,
// for new, add and rm, a container changed but not all of it reported.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitDamaged = 2;
constexpr int kExitIncomplete = 3;

// Runs d88 with argv (argc entries) on disk, which must have no container
// open.  Returns the exit status: 0 all well, 2 damage found, 1 after one
// "d88: ..." message on console.err, or when console.err lost its text;
// 3 when an edit changed its container and then failed or lost its text.
// Names and paths reach both streams with their control characters shown
// as \xNN.  extract leaves the process in the directory it wrote into.
int RunD88(diskimage::DiskImage& disk, int argc, const char* const* argv, const Console& console);

}  // namespace d88

#endif
