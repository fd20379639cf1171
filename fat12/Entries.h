// Inside fat12: the bytes of directory entries and table values, shared by
// the reader and the writer.
#ifndef D88EXTRACT_FAT12_ENTRIES_H
#define D88EXTRACT_FAT12_ENTRIES_H

#include <cstdint>

namespace fat12 {

// Directory entry fields.
constexpr int kAttributes = 11;
constexpr int kCaseBits = 12;
constexpr int kTime = 22;
constexpr int kDate = 24;
constexpr int kFirstCluster = 26;
constexpr int kSize = 28;
constexpr int kLongChecksum = 13;
constexpr int kLongUnitOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

constexpr std::uint8_t kEndOfDirectory = 0x00;
constexpr std::uint8_t kDeleted = 0xE5;
constexpr std::uint8_t kStandsForE5 = 0x05;
constexpr std::uint8_t kVolumeLabel = 0x08;
constexpr std::uint8_t kFolder = 0x10;
constexpr std::uint8_t kArchive = 0x20;
constexpr std::uint8_t kLongNamePart = 0x0F;
constexpr std::uint8_t kLowerName = 0x08;
constexpr std::uint8_t kLowerExtension = 0x10;
constexpr std::uint8_t kLastLongPart = 0x40;
constexpr int kMaxLongParts = 20;  // 255 units of 13 a part

// Table entry values.
constexpr std::uint32_t kFirstReservedValue = 0xFF0;
constexpr std::uint32_t kBadCluster = 0xFF7;
constexpr std::uint32_t kFirstEndValue = 0xFF8;
constexpr std::uint32_t kEndOfChain = 0xFFF;

inline std::uint32_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0] | p[1] << 8);
}

inline bool IsLeadByte(std::uint8_t b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// The checksum a long name carries of its short entry's 11 name bytes.
inline std::uint8_t ShortNameChecksum(const std::uint8_t* raw) {
  std::uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) {
    sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + raw[i]);
  }
  return sum;
}

}  // namespace fat12

#endif
