// Reading a disk's directory and data, listing it and writing its files.
#ifndef D88EXTRACT_TOOL_EXTRACTION_H
#define D88EXTRACT_TOOL_EXTRACTION_H

#include "tool/MediaGeometry.h"
#include "tool/Tool.h"

class DiskImage;

// Reads the directory of disk's current image (of the given medium), loads
// the whole disk, and for each directory entry prints its listing line and
// writes its file into the working directory.  Unreadable sectors read as
// zeros.  Returns 0 when the directory ends with every file written and
// the listing flushed; 1, after the write-failure message, at the first file
// that cannot be written or when console.out cannot take the listing.
int ExtractDisk(DiskImage& disk, const MediaGeometry& geometry, const Console& console);

#endif
