// The whole run of the tool, apart from the process around it.
#ifndef D88EXTRACT_TOOL_TOOL_H
#define D88EXTRACT_TOOL_TOOL_H

#include <cstdio>

#include "diskimage/DiskImage.h"

namespace tool {

// Where the run's text goes: the process's standard streams, or a test's.
struct Console {
  std::FILE* out;  // media line and listing
  std::FILE* err;  // usage and failure messages
};

// Exit statuses.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;

// Runs the tool with argv (argc entries, argv[0] the invocation name) on
// disk, which must have no container open.  Returns the exit status: 0
// when the directory scan ends with every file written, 1 after writing
// one failure message to console.err.  The container is left open; the
// owner of disk closes it.
int RunTool(diskimage::DiskImage& disk, int argc, const char* const* argv, const Console& console);

}  // namespace tool

#endif
