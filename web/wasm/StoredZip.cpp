#include "web/wasm/StoredZip.h"

#include <cstring>

namespace web {

namespace {

constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kVersion = 20;         // 2.0: what a stored entry needs
constexpr std::uint32_t kUtf8Names = 0x800;    // general purpose flag bit 11
constexpr std::uint32_t kFirstDosDate = 0x21;  // 1980-01-01, for reproducible archives
// Made on Unix: unzip then takes names as they stand, a '\\' included,
// and gives files and folders the modes below.
constexpr std::uint32_t kMadeOnUnix = 3u << 8 | kVersion;
constexpr std::uint32_t kFileMode = 0100644u << 16;
constexpr std::uint32_t kFolderMode = 040755u << 16 | 0x10;  // 0x10: MS-DOS folder bit

// The CRC-32 of a zip entry (reflected polynomial 0xEDB88320).
std::uint32_t Crc32(const std::uint8_t* data, std::uint32_t length) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::uint32_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = crc >> 1 ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

}  // namespace

void StoredZip::PutBytes(const void* bytes, std::size_t length) {
  if (std::fwrite(bytes, 1, length, out_) != length) failed_ = true;
  written_ += static_cast<std::uint32_t>(length);
}

void StoredZip::Put(std::uint32_t value, int bytes) {
  std::uint8_t le[4];
  for (int i = 0; i < bytes; ++i) le[i] = static_cast<std::uint8_t>(value >> (8 * i));
  PutBytes(le, static_cast<std::size_t>(bytes));
}

void StoredZip::PutCommon(const Entry& entry) {
  Put(kVersion, 2);
  Put(kUtf8Names, 2);
  Put(0, 2);  // stored
  Put(0, 2);  // time
  Put(kFirstDosDate, 2);
  Put(entry.crc, 4);
  Put(entry.length, 4);  // stored: compressed size
  Put(entry.length, 4);
  Put(entry.nameLength, 2);
  Put(0, 2);  // no extra field
}

bool StoredZip::Add(const char* name, const std::uint8_t* data, std::uint32_t length) {
  const std::size_t nameLength = std::strlen(name);
  if (count_ == filesystem::kMaxEntries || nameLength > 0xFFFF ||
      nameLength > sizeof names_ - namesUsed_)
    return false;
  Entry& entry = entries_[count_++];
  entry.nameAt = namesUsed_;
  entry.nameLength = static_cast<std::uint32_t>(nameLength);
  std::memcpy(names_ + namesUsed_, name, nameLength);
  namesUsed_ += entry.nameLength;
  entry.crc = Crc32(data, length);
  entry.length = length;
  entry.offset = written_;
  Put(kLocalSignature, 4);
  PutCommon(entry);
  PutName(entry);
  if (length > 0) PutBytes(data, length);
  return !failed_;
}

bool StoredZip::Finish() {
  const std::uint32_t start = written_;
  for (int i = 0; i < count_; ++i) {
    Put(kCentralSignature, 4);
    Put(kMadeOnUnix, 2);
    PutCommon(entries_[i]);
    Put(0, 2);  // comment
    Put(0, 2);  // disk
    Put(0, 2);  // internal attributes
    const bool folder = entries_[i].nameLength > 0 &&
                        names_[entries_[i].nameAt + entries_[i].nameLength - 1] == '/';
    Put(folder ? kFolderMode : kFileMode, 4);
    Put(entries_[i].offset, 4);
    PutName(entries_[i]);
  }
  const std::uint32_t size = written_ - start;
  Put(kEndSignature, 4);
  Put(0, 2);
  Put(0, 2);
  Put(static_cast<std::uint32_t>(count_), 2);
  Put(static_cast<std::uint32_t>(count_), 2);
  Put(size, 4);
  Put(start, 4);
  Put(0, 2);
  return std::fflush(out_) == 0 && !failed_;
}

}  // namespace web
