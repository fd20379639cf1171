// The names of the families, and sizes of raw images, as shapes.
#include "geometry/MediumNames.h"

#include <cstdlib>

#include "geometry/Geometry.h"

namespace geometry {

namespace {

// The families a raw image is recognised by its size alone.
constexpr const char* kRawSizeFamilies[] = {"2HD", "2DD", "2DD8", "1.44M", "1.2M", "2D"};

DiskShape ShapeOfFamily(const Family& family) {
  return DiskShape{family.cylinders, family.heads, family.sectorsPerTrack, 128 << family.sizeCode};
}

// Parses a decimal number low..high ending at stop, and steps text past
// stop; false for anything else.
bool ParsePart(const char*& text, char stop, int low, int high, int* value) {
  if (*text < '0' || *text > '9') return false;
  char* end = nullptr;
  const long parsed = std::strtol(text, &end, 10);
  if (*end != stop || parsed < low || parsed > high) return false;
  *value = static_cast<int>(parsed);
  text = stop == '\0' ? end : end + 1;
  return true;
}

}  // namespace

bool ParseMediumName(const char* text, DiskShape* shape) {
  // Family names are short: a longer text is no family's.
  char upper[8] = {};
  bool fits = true;
  for (int i = 0; fits && text[i] != '\0'; ++i) {
    fits = i + 1 < static_cast<int>(sizeof upper);
    if (fits)
      upper[i] =
          text[i] >= 'a' && text[i] <= 'z' ? static_cast<char>(text[i] - 'a' + 'A') : text[i];
  }
  const Family* family = fits ? FindFamily(upper) : nullptr;
  if (family != nullptr) {
    *shape = ShapeOfFamily(*family);
    return true;
  }
  DiskShape parsed{};
  if (!ParsePart(text, '/', 1, 255, &parsed.cylinders) ||
      !ParsePart(text, '/', 1, 2, &parsed.heads) ||
      !ParsePart(text, '/', 1, 255, &parsed.sectors) ||
      !ParsePart(text, '\0', 128, 16384, &parsed.sectorBytes))
    return false;
  if ((parsed.sectorBytes & (parsed.sectorBytes - 1)) != 0) return false;
  *shape = parsed;
  return true;
}

bool ShapeFromRawSize(long long bytes, DiskShape* shape) {
  for (const char* name : kRawSizeFamilies) {
    const DiskShape candidate = ShapeOfFamily(*FindFamily(name));
    if (static_cast<long long>(candidate.cylinders) * candidate.heads * candidate.sectors *
            candidate.sectorBytes ==
        bytes) {
      *shape = candidate;
      return true;
    }
  }
  return false;
}

}  // namespace geometry
