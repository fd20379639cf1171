#include "geometry/MediumNames.h"

#include <cstdlib>

#include "diskimage/D88Format.h"

namespace geometry {

namespace {

struct NamedShape {
  const char* name;  // upper case
  DiskShape shape;
};

constexpr NamedShape kNamedShapes[] = {
    {"2HD", {77, 2, 8, 1024}}, {"2DD", {80, 2, 9, 512}},    {"2DD9", {80, 2, 9, 512}},
    {"2DD8", {80, 2, 8, 512}}, {"1.44M", {80, 2, 18, 512}}, {"1.2M", {80, 2, 15, 512}},
    {"2D", {40, 2, 16, 256}},
};

bool SameName(const char* text, const char* upper) {
  for (; *upper != '\0'; ++text, ++upper) {
    const char c = *text >= 'a' && *text <= 'z' ? static_cast<char>(*text - 'a' + 'A') : *text;
    if (c != *upper) return false;
  }
  return *text == '\0';
}

// Parses a decimal number from *text up to the next '/' or the end, within
// [low, high]; moves *text past it and its '/'.
bool TakeNumber(const char** text, long low, long high, bool last, int* value) {
  const char* start = *text;
  if (*start < '0' || *start > '9') return false;
  char* end = nullptr;
  const long number = std::strtol(start, &end, 10);
  if (end - start > 5 || number < low || number > high) return false;
  if (last ? *end != '\0' : *end != '/') return false;
  *text = last ? end : end + 1;
  *value = static_cast<int>(number);
  return true;
}

}  // namespace

bool ParseMediumName(const char* text, DiskShape* shape) {
  for (const NamedShape& named : kNamedShapes) {
    if (SameName(text, named.name)) {
      *shape = named.shape;
      return true;
    }
  }
  DiskShape parsed{};
  if (!TakeNumber(&text, 1, diskimage::kTrackCount, false, &parsed.cylinders) ||
      !TakeNumber(&text, 1, 2, false, &parsed.heads) ||
      !TakeNumber(&text, 1, 255, false, &parsed.sectors) ||
      !TakeNumber(&text, 128, 16384, true, &parsed.sectorBytes))
    return false;
  if ((parsed.sectorBytes & (parsed.sectorBytes - 1)) != 0) return false;
  if (parsed.cylinders * parsed.heads > diskimage::kTrackCount) return false;
  *shape = parsed;
  return true;
}

}  // namespace geometry
