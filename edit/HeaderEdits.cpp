// d88 set: header bytes of one image changed in a copy of the container.
#include "edit/HeaderEdits.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "edit/CopyWriter.h"
#include "edit/Plan.h"
#include "platform/Platform.h"

namespace edit {

namespace {

constexpr int kProtectOffset = 0x1A;
constexpr int kProtectOn = 0x10;

// The bytes set, from the image's start.
constexpr int kPatchedBytes = diskimage::kMediaTypeOffset + 1;

// The header bytes to lay over the copy: their position in the file and
// which of them change.
struct HeaderPatch {
  std::int64_t position;
  std::uint8_t bytes[kPatchedBytes];
  bool changes[kPatchedBytes];
};

std::uint8_t chunk[1 << 16];
std::uint8_t copied[1 << 16];

// Lays patch over the length bytes of bytes, which start at file position at.
void Apply(const HeaderPatch& patch, std::int64_t at, std::uint8_t* bytes, std::size_t length) {
  for (int i = 0; i < kPatchedBytes; ++i) {
    const std::int64_t p = patch.position + i;
    if (patch.changes[i] && p >= at && p < at + static_cast<std::int64_t>(length))
      bytes[p - at] = patch.bytes[i];
  }
}

const char* WritePatchedHeader(void* context, std::FILE* source, int fd) {
  const HeaderPatch& patch = *static_cast<HeaderPatch*>(context);
  std::int64_t at = 0;
  for (;;) {
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, source);
    if (got == 0) return std::ferror(source) ? std::strerror(errno) : nullptr;
    Apply(patch, at, chunk, got);
    if (!WriteAll(fd, chunk, got)) return std::strerror(errno);
    at += static_cast<std::int64_t>(got);
  }
}

// The container whose header is patched, its path and readers, for the
// check.
const char* patchedContainer;
diskimage::DiskImage* originalDisk;
diskimage::DiskImage* checkDisk;

// The copy must be the container's bytes with the patch laid over them,
// and no byte more or less, and hold as many images.
const char* CheckPatchedHeader(void* context, const char* path) {
  const HeaderPatch& patch = *static_cast<HeaderPatch*>(context);
  std::FILE* was = platform::OpenStream(patchedContainer, "rb");
  std::FILE* copy = platform::OpenStream(path, "rb");
  bool same = was != nullptr && copy != nullptr;
  for (std::int64_t at = 0; same;) {
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, was);
    same = std::fread(copied, 1, sizeof copied, copy) == got && !std::ferror(was);
    if (!same || got == 0) break;
    Apply(patch, at, chunk, got);
    same = std::memcmp(chunk, copied, got) == 0;
    at += static_cast<std::int64_t>(got);
  }
  same = same && !std::ferror(copy);
  if (was != nullptr) std::fclose(was);
  if (copy != nullptr) std::fclose(copy);
  same = same && checkDisk->Open(path) &&
         survey::CountImages(*checkDisk) == survey::CountImages(*originalDisk);
  checkDisk->Open(nullptr);
  return same ? nullptr : "the copy does not read back as planned";
}

// Fills patch from change for the current image of original.
bool PlanPatch(const diskimage::DiskImage& original, const HeaderChange& change, HeaderPatch* patch,
               Outcome* outcome) {
  std::memset(patch, 0, sizeof *patch);
  patch->position = original.GetImageOffset();
  if (change.name != nullptr) {
    char converted[diskimage::kNameSize + 1] = {};
    const Conversion conversion = ToShiftJis(change.name, converted, sizeof converted);
    if (conversion == Conversion::kNoConverter)
      return Fail(outcome,
                  "cannot convert names to Shift_JIS: the system has no converter; nothing "
                  "written");
    if (conversion == Conversion::kNoForm)
      return Fail(outcome,
                  "the disk name \"%s\" has no Shift_JIS form of at most 16 bytes; nothing "
                  "written",
                  Shown(change.name));
    // The name and its terminator: 17 bytes, NUL-padded.
    std::memcpy(patch->bytes + diskimage::kNameOffset, converted, sizeof converted);
    for (int i = 0; i <= diskimage::kNameSize; ++i)
      patch->changes[diskimage::kNameOffset + i] = true;
  }
  if (change.protect >= 0) {
    patch->bytes[kProtectOffset] = change.protect != 0 ? kProtectOn : 0;
    patch->changes[kProtectOffset] = true;
  }
  if (change.mediaByte >= 0) {
    patch->bytes[diskimage::kMediaTypeOffset] = static_cast<std::uint8_t>(change.mediaByte);
    patch->changes[diskimage::kMediaTypeOffset] = true;
  }
  return true;
}

HeaderPatch headerPatch;

bool SetLocked(diskimage::DiskImage& original, diskimage::DiskImage& check, ContainerLock& lock,
               const HeaderChange& change, Outcome* outcome) {
  if (!OpenLocked(original, lock, change.container, outcome)) return false;
  const int images = survey::CountImages(original);
  const bool selected = change.image < images && original.Select(change.image);
  if (original.GetReadError() != 0)
    return Fail(outcome, "cannot read %s: %s; nothing written", Shown(change.container),
                std::strerror(original.GetReadError()));
  if (!selected)
    return Fail(outcome, "%s has no image %d (it holds %d)", Shown(change.container), change.image,
                images);
  if (!PlanPatch(original, change, &headerPatch, outcome)) return false;
  patchedContainer = change.container;
  originalDisk = &original;
  checkDisk = &check;
  return WriteProducedCopy(original, lock, change.container, change.output,
                           CopyProducer{WritePatchedHeader, CheckPatchedHeader, &headerPatch},
                           outcome);
}

}  // namespace

int ParseMediaByte(const char* text) {
  static constexpr struct {
    const char* name;
    int byte;
  } kMedia[] = {{"2D", 0x00}, {"2DD", 0x10}, {"2HD", 0x20}};
  for (const auto& medium : kMedia) {
    bool same = std::strlen(text) == std::strlen(medium.name);
    for (int i = 0; same && text[i] != '\0'; ++i)
      same = (text[i] >= 'a' && text[i] <= 'z' ? text[i] - 'a' + 'A' : text[i]) == medium.name[i];
    if (same) return medium.byte;
  }
  if (text[0] != '0' || (text[1] != 'x' && text[1] != 'X') || text[2] == '\0') return -1;
  int value = 0;
  for (const char* c = text + 2; *c != '\0'; ++c) {
    const int digit = *c >= '0' && *c <= '9'   ? *c - '0'
                      : *c >= 'a' && *c <= 'f' ? *c - 'a' + 10
                      : *c >= 'A' && *c <= 'F' ? *c - 'A' + 10
                                               : -1;
    if (digit < 0 || c - text >= 4) return -1;
    value = value * 16 + digit;
  }
  return value;
}

bool SetHeader(diskimage::DiskImage& original, diskimage::DiskImage& check,
               const HeaderChange& change, Outcome* outcome) {
  change::Begin(outcome);
  ContainerLock lock;
  if (!lock.Take(change.container, outcome)) return false;
  const bool done = SetLocked(original, check, lock, change, outcome);
  original.Open(nullptr);
  return done;
}

}  // namespace edit
