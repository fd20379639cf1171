// Layout of a D88 disk-image container.
//
// A container is one or more disk images stored back to back; image k+1
// begins where image k's size field says image k ends.  Each image is:
//
//   +0x000  image header (688 bytes)
//             +0   name, 16 bytes, NUL-padded (a 16-byte name has no NUL)
//             +16  not interpreted (11 bytes)
//             +27  media type, 1 byte (0x10 = 2DD, 0x20 = 2HD)
//             +28  image size, 32-bit: bytes from this image to the next
//             +32  track table: 164 x 32-bit offsets from the image start,
//                  0 = track not recorded
//   +...    tracks, each a run of sector records lying back to back:
//             +0   C, H, R, N: the sector ID (data length 128 << N)
//             +4   sector count, 16-bit: records in this track
//             +6   density, 1 byte (0x00 double, 0x40 single)
//             +7   deleted-data mark, 1 byte (0x10 = deleted)
//             +8   status, 1 byte: the controller's status as the dump
//                  saw it: 0x00 normal, 0x10 normal with a deleted-data
//                  mark, 0xA0 ID CRC error, 0xB0 data CRC error, 0xE0 no
//                  address mark, 0xF0 no data mark
//             +9   not interpreted (5 bytes)
//             +14  data length, 16-bit: data bytes after this header
//             +16  data
//
// Every multi-byte field is little-endian.
#ifndef D88EXTRACT_DISKIMAGE_D88FORMAT_H
#define D88EXTRACT_DISKIMAGE_D88FORMAT_H

#include <cstdint>

namespace diskimage {

// Image header.
constexpr int kImageHeaderSize = 0x2B0;
constexpr int kNameOffset = 0;
constexpr int kNameSize = 16;
constexpr int kMediaTypeOffset = 27;
constexpr int kImageSizeOffset = 28;
constexpr int kTrackTableOffset = 32;
constexpr int kTrackCount = 164;
constexpr int kTrackEntrySize = 4;

// Sector record header.
constexpr int kSectorHeaderSize = 16;
constexpr int kIdCylinderOffset = 0;
constexpr int kIdHeadOffset = 1;
constexpr int kIdSectorOffset = 2;
constexpr int kIdSizeCodeOffset = 3;
constexpr int kSectorCountOffset = 4;
constexpr int kDensityOffset = 6;
constexpr int kDeletedMarkOffset = 7;
constexpr int kStatusOffset = 8;
constexpr int kDataLengthOffset = 14;

// The most images one container is indexed for.
constexpr int kMaxImages = 64;

static_assert(kTrackTableOffset + kTrackCount * kTrackEntrySize == kImageHeaderSize,
              "the track table ends the image header");

// Returns the 16-bit little-endian value at p (0-65535).
inline std::int32_t LoadLE16(const std::uint8_t* p) {
  return static_cast<std::int32_t>(p[0]) | (static_cast<std::int32_t>(p[1]) << 8);
}

// Returns the 32-bit little-endian value at p, as a signed integer.
inline std::int32_t LoadLE32(const std::uint8_t* p) {
  const std::uint32_t u =
      static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
      (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
  // Two's-complement reinterpretation without implementation-defined casts.
  return u <= 0x7FFFFFFFu ? static_cast<std::int32_t>(u) : -static_cast<std::int32_t>(~u) - 1;
}

}  // namespace diskimage

#endif
