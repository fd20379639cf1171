// Checksums of byte streams: CRC-32 (as zip and zlib compute it) and
// SHA-1, fed in pieces of any length, in fixed storage.
#ifndef D88EXTRACT_DIGEST_DIGEST_H
#define D88EXTRACT_DIGEST_DIGEST_H

#include <cstddef>
#include <cstdint>

namespace digest {

class Crc32 {
 public:
  void Update(const std::uint8_t* bytes, std::size_t length);
  std::uint32_t Value() const { return ~state_; }

 private:
  std::uint32_t state_ = 0xFFFFFFFFu;
};

constexpr int kSha1Bytes = 20;

class Sha1 {
 public:
  void Update(const std::uint8_t* bytes, std::size_t length);
  // Ends the message and writes its digest; the object then starts anew.
  void Finish(std::uint8_t (&digest)[kSha1Bytes]);

 private:
  void Compress();

  std::uint32_t h_[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
  std::uint8_t block_[64] = {};
  std::size_t used_ = 0;      // bytes of block_ filled
  std::uint64_t length_ = 0;  // message bytes so far
};

// Room for a SHA-1 digest in hex, with its terminator.
constexpr int kSha1HexBytes = 2 * kSha1Bytes + 1;

// Writes digest as 40 lowercase hex digits and a terminator into hex.
void ToHex(const std::uint8_t (&digest)[kSha1Bytes], char (&hex)[kSha1HexBytes]);

}  // namespace digest

#endif
