// d88: lists, tests, extracts and writes the disks of a D88 container.
#include <cstdio>

#include "d88/D88.h"
#include "diskimage/DiskImage.h"

// The program's one reader; its destruction at exit closes the container.
static diskimage::DiskImage disk;

int main(int argc, char** argv) {
  return d88::RunD88(disk, argc, argv, d88::Console{stdout, stderr});
}
