// d88: lists, tests, extracts and writes the disks of a D88 container.
#include <cstdio>

#include "d88/D88.h"
#include "diskimage/DiskImage.h"
#include "platform/Platform.h"

// The program's one reader; its destruction at exit closes the container.
static diskimage::DiskImage disk;

int main(int argc, char** argv) {
  const platform::Arguments arguments = platform::TakeArguments(argc, argv);
  return d88::RunD88(disk, arguments.count, arguments.values, d88::Console{stdout, stderr});
}
