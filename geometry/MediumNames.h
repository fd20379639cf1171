// The names a user gives a disk's shape on the command line: a family's
// short name, or the numbers themselves.
#ifndef D88EXTRACT_GEOMETRY_MEDIUMNAMES_H
#define D88EXTRACT_GEOMETRY_MEDIUMNAMES_H

namespace geometry {

struct DiskShape {
  int cylinders, heads, sectors, sectorBytes;
};

// Parses text (any case) into *shape: 2HD (77/2/8/1024), 2DD and 2DD9
// (80/2/9/512), 2DD8 (80/2/8/512), 1.44M (80/2/18/512), 1.2M (80/2/15/512),
// 2D (40/2/16/256), or C/H/S/BYTES: 1-2 heads, at most 164 tracks, 1-255
// sectors of 128-16384 bytes (a power of two).  False for anything else.
bool ParseMediumName(const char* text, DiskShape* shape);

}  // namespace geometry

#endif
