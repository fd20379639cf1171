#include "output/Cp932Table.h"

#include <cstdint>

namespace output {

namespace {

// kNoCharacter, kSingle, kLeadRow and kPairs.
#include "Cp932Table.inc"

// Writes code (below 0x10000) as UTF-8 into utf8; returns its length.
std::size_t EncodeUtf8(std::uint16_t code, char* utf8) {
  if (code < 0x80) {
    utf8[0] = static_cast<char>(code);
    return 1;
  }
  if (code < 0x800) {
    utf8[0] = static_cast<char>(0xC0 | code >> 6);
    utf8[1] = static_cast<char>(0x80 | (code & 0x3F));
    return 2;
  }
  utf8[0] = static_cast<char>(0xE0 | code >> 12);
  utf8[1] = static_cast<char>(0x80 | (code >> 6 & 0x3F));
  utf8[2] = static_cast<char>(0x80 | (code & 0x3F));
  return 3;
}

}  // namespace

std::size_t DecodeCp932(const char* bytes, std::size_t length, char* utf8,
                        std::size_t* utf8Length) {
  const unsigned char lead = static_cast<unsigned char>(bytes[0]);
  if (kSingle[lead] != kNoCharacter) {
    *utf8Length = EncodeUtf8(kSingle[lead], utf8);
    return 1;
  }
  if (length < 2 || kLeadRow[lead] < 0) return 0;
  const unsigned char trail = static_cast<unsigned char>(bytes[1]);
  const std::uint16_t code = kPairs[kLeadRow[lead]][trail];
  if (code == kNoCharacter) return 0;
  *utf8Length = EncodeUtf8(code, utf8);
  return 2;
}

}  // namespace output
