// d88extract: extracts the files of a D88 floppy-disk image.
#include <cstdio>

#include "diskimage/DiskImage.h"
#include "tool/Tool.h"

// The tool's one reader; its destruction at exit closes the container, so
// every way out of main leaves the file closed.
static diskimage::DiskImage disk;

int main(int argc, char** argv) {
  return tool::RunTool(disk, argc, argv, tool::Console{stdout, stderr});
}
