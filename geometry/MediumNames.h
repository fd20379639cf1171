// The shapes of whole disks by the names the writing verbs take, and by the
// size of a raw sector image.
//
// Names: 2D, 2DD (or 2DD9), 2DD8, 2HD, 2HD26, 1.2M, 1.44M in either case
// (the families of Geometry.h), or CYLINDERS/HEADS/SECTORS/BYTES such as
// 40/2/9/512.
#ifndef D88EXTRACT_GEOMETRY_MEDIUMNAMES_H
#define D88EXTRACT_GEOMETRY_MEDIUMNAMES_H

namespace geometry {

struct DiskShape {
  int cylinders, heads, sectors, sectorBytes;
};

// Parses a medium's name or C/H/S/BYTES into shape: 1-255 cylinders, 1 or
// 2 heads, 1-255 sectors of 128 << N bytes (N 0-7).  False for anything
// else, shape untouched.
bool ParseMediumName(const char* text, DiskShape* shape);

// Sets shape to the one disk whose raw image is bytes long: 2HD, 2DD,
// 2DD8, 1.44M, 1.2M or 2D.  False when the size names none.
bool ShapeFromRawSize(long long bytes, DiskShape* shape);

}  // namespace geometry

#endif
