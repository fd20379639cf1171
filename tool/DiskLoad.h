// Reading a disk's directory and loading the whole disk, as the tool does
// before it lists and writes files; shared by every program that must see
// the same bytes.
#ifndef D88EXTRACT_TOOL_DISKLOAD_H
#define D88EXTRACT_TOOL_DISKLOAD_H

#include <cstdint>

#include "diskimage/SectorRequest.h"
#include "tool/MediaGeometry.h"

class DiskImage;

// Zero-fills directory (kDirectoryBufferBytes) and reads the directory
// sectors of disk's current image into it; a missing or short directory
// sector ends the read and leaves the rest zero.  The sector range must be
// set to the medium's.
void ReadDirectory(DiskImage& disk, const MediaGeometry& geometry, std::uint8_t* directory);

// Zero-fills image (kLargestDiskBytes) and loads every sector of the disk
// into its slot, ((track x sectors per track) + sector - 1) x sector bytes,
// through requests (kMostDiskSectors).  Afterwards requests[p].result is
// what slot p received: 0 for a missing sector.
void LoadDisk(DiskImage& disk, const MediaGeometry& geometry, std::uint8_t* image,
              SectorRequest* requests);

#endif
