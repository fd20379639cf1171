// What a container's file holds besides its images: bytes after the last
// image, and a file that is another format altogether.
#include <cstdint>
#include <cstring>

#include "diskimage/DiskImage.h"
#include "survey/Survey.h"

namespace survey {

namespace {

// The header fields looked at, past the 16-byte name.
constexpr int kWriteProtectOffset = 26;
constexpr int kFieldsEnd = diskimage::kImageSizeOffset + 4;
// Where a header's track table has its first track: after this header, or
// after the shorter one some writers make.
constexpr std::uint32_t kShortHeaderSize = 0x2A0;

// The first bytes of a format, at an offset into the file.
struct Magic {
  const char* format;  // as a message names it
  int offset;
  int length;
  const char* bytes;
};

constexpr Magic kMagics[] = {
    {"a gzip file", 0, 2, "\x1f\x8b"},
    {"a zip file", 0, 4, "PK\x03\x04"},
    {"a zip file", 0, 4, "PK\x05\x06"},
    {"a 7z file", 0, 6, "7z\xbc\xaf\x27\x1c"},
    {"an xz file", 0, 6,
     "\xfd"
     "7zXZ\x00"},
    {"a bzip2 file", 0, 3, "BZh"},
    {"a rar file", 0, 6, "Rar!\x1a\x07"},
    {"a zstd file", 0, 4, "\x28\xb5\x2f\xfd"},
    {"an lzh file", 2, 3, "-lh"},
    {"an lzh file", 2, 3, "-lz"},
    {"a tar file", 257, 5, "ustar"},
};

// Bytes read to tell a format: a header's fields, and a boot sector.
constexpr int kProbeBytes = 512;

// True when probe (count bytes) starts with a FAT boot sector: a jump, a
// power-of-two sector size of 128 to 4096 bytes and the boot signature.
bool IsFatBootSector(const std::uint8_t* probe, std::int64_t count) {
  if (count < kProbeBytes) return false;
  const bool jump = probe[0] == 0xE9 || (probe[0] == 0xEB && probe[2] == 0x90);
  const int sectorBytes = probe[11] | probe[12] << 8;
  const bool size =
      sectorBytes >= 128 && sectorBytes <= 4096 && (sectorBytes & (sectorBytes - 1)) == 0;
  return jump && size && probe[510] == 0x55 && probe[511] == 0xAA;
}

}  // namespace

bool LooksLikeImageHeader(const std::uint8_t* header, std::int64_t count) {
  if (count < kFieldsEnd) return false;
  const std::uint8_t protect = header[kWriteProtectOffset];
  const std::uint8_t media = header[diskimage::kMediaTypeOffset];
  const auto size =
      static_cast<std::uint32_t>(diskimage::LoadLE32(header + diskimage::kImageSizeOffset));
  if ((protect != 0x00 && protect != 0x10) || media > 0x40 || (media & 0x0F) != 0 ||
      size < kShortHeaderSize)
    return false;
  // The first track the table names, as far as the bytes reach.
  for (std::int64_t at = diskimage::kTrackTableOffset;
       at + diskimage::kTrackEntrySize <= count &&
       at < diskimage::kTrackTableOffset + diskimage::kTrackCount * diskimage::kTrackEntrySize;
       at += diskimage::kTrackEntrySize) {
    const auto track = static_cast<std::uint32_t>(diskimage::LoadLE32(header + at));
    if (track != 0) return track == kShortHeaderSize || track == diskimage::kImageHeaderSize;
  }
  return true;
}

void NoteBytesAfter(diskimage::DiskImage& disk, int images, Tally* tally) {
  tally->bytesAfter = 0;
  tally->bytesAfterLikeImage = false;
  if (images <= 0 || !disk.Select(images - 1)) return;
  const std::uint32_t size = static_cast<std::uint32_t>(disk.GetImageSize());
  if (size < diskimage::kImageHeaderSize) return;
  const std::int64_t end = disk.GetImageOffset() + size;
  if (end >= disk.GetFileSize()) return;
  tally->bytesAfter = disk.GetFileSize() - end;
  std::uint8_t header[diskimage::kImageHeaderSize];
  const std::int64_t got = disk.ReadBytes(end, header, sizeof header);
  tally->bytesAfterLikeImage = LooksLikeImageHeader(header, got);
}

const char* ForeignFormat(diskimage::DiskImage& disk) {
  std::uint8_t probe[kProbeBytes];
  const std::int64_t got = disk.ReadBytes(0, probe, sizeof probe);
  if (LooksLikeImageHeader(probe, got)) return nullptr;
  for (const Magic& magic : kMagics) {
    if (got >= magic.offset + magic.length &&
        std::memcmp(probe + magic.offset, magic.bytes, static_cast<std::size_t>(magic.length)) == 0)
      return magic.format;
  }
  return IsFatBootSector(probe, got) ? "a raw FAT disk image" : nullptr;
}

}  // namespace survey
