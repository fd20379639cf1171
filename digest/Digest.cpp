#include "digest/Digest.h"

#include <cstring>

namespace digest {

namespace {

// The reflected CRC-32 table of polynomial 0xEDB88320.
struct CrcTable {
  std::uint32_t entries[256];
  constexpr CrcTable() : entries() {
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      entries[n] = c;
    }
  }
};
constexpr CrcTable kCrcTable;

std::uint32_t RotateLeft(std::uint32_t value, int bits) {
  return (value << bits) | (value >> (32 - bits));
}

}  // namespace

void Crc32::Update(const std::uint8_t* bytes, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i)
    state_ = kCrcTable.entries[(state_ ^ bytes[i]) & 0xFFu] ^ (state_ >> 8);
}

void Sha1::Compress() {
  std::uint32_t w[80];
  for (int t = 0; t < 16; ++t) {
    w[t] = static_cast<std::uint32_t>(block_[4 * t]) << 24 |
           static_cast<std::uint32_t>(block_[4 * t + 1]) << 16 |
           static_cast<std::uint32_t>(block_[4 * t + 2]) << 8 |
           static_cast<std::uint32_t>(block_[4 * t + 3]);
  }
  for (int t = 16; t < 80; ++t) w[t] = RotateLeft(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
  std::uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4];
  for (int t = 0; t < 80; ++t) {
    std::uint32_t f, k;
    if (t < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999u;
    } else if (t < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1u;
    } else if (t < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDCu;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6u;
    }
    const std::uint32_t next = RotateLeft(a, 5) + f + e + k + w[t];
    e = d;
    d = c;
    c = RotateLeft(b, 30);
    b = a;
    a = next;
  }
  h_[0] += a;
  h_[1] += b;
  h_[2] += c;
  h_[3] += d;
  h_[4] += e;
}

void Sha1::Update(const std::uint8_t* bytes, std::size_t length) {
  length_ += length;
  while (length > 0) {
    const std::size_t take = length < sizeof block_ - used_ ? length : sizeof block_ - used_;
    std::memcpy(block_ + used_, bytes, take);
    used_ += take;
    bytes += take;
    length -= take;
    if (used_ == sizeof block_) {
      Compress();
      used_ = 0;
    }
  }
}

void Sha1::Finish(std::uint8_t (&digest)[kSha1Bytes]) {
  const std::uint64_t bits = length_ * 8;
  const std::uint8_t one = 0x80, zero = 0;
  Update(&one, 1);
  while (used_ != 56) Update(&zero, 1);
  std::uint8_t tail[8];
  for (int i = 0; i < 8; ++i) tail[i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
  Update(tail, sizeof tail);
  for (int i = 0; i < kSha1Bytes; ++i)
    digest[i] = static_cast<std::uint8_t>(h_[i / 4] >> (24 - 8 * (i % 4)));
  *this = Sha1();
}

void ToHex(const std::uint8_t (&digest)[kSha1Bytes], char (&hex)[kSha1HexBytes]) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (int i = 0; i < kSha1Bytes; ++i) {
    hex[2 * i] = kDigits[digest[i] >> 4];
    hex[2 * i + 1] = kDigits[digest[i] & 0xF];
  }
  hex[2 * kSha1Bytes] = '\0';
}

}  // namespace digest
