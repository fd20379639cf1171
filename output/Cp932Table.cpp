#include "output/Cp932Table.h"

#include <cstdint>

namespace output {

namespace {

// kNoCharacter, kSingle, kLeadRow, kPairs and kOneWay.
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

// Lead bytes of the IBM extensions NEC chose: glibc encodes their
// characters with the forms under 0xFA-0xFC, so they are searched last.
bool IsLastLead(int lead) { return lead == 0xED || lead == 0xEE; }

// Reads the UTF-8 character at text into *code; returns its length, 0
// when it is not one below U+10000.
std::size_t DecodeUtf8(const unsigned char* text, std::uint32_t* code) {
  if (text[0] < 0x80) {
    *code = text[0];
    return 1;
  }
  const std::size_t length = text[0] >= 0xE0 && text[0] < 0xF0   ? 3
                             : text[0] >= 0xC2 && text[0] < 0xE0 ? 2
                                                                 : 0;
  if (length == 0) return 0;
  std::uint32_t value = text[0] & (length == 2 ? 0x1Fu : 0x0Fu);
  for (std::size_t i = 1; i < length; ++i) {
    if ((text[i] & 0xC0) != 0x80) return 0;
    value = value << 6 | (text[i] & 0x3Fu);
  }
  // No overlong form, no surrogate.
  if (value < 0x800 && length == 3) return 0;
  if (value >= 0xD800 && value < 0xE000) return 0;
  *code = value;
  return length;
}

// Returns the CP932 form of code (one byte below 0x100), or kNoCharacter.
std::uint16_t FindForm(std::uint32_t code) {
  if (code >= kNoCharacter) return kNoCharacter;  // the tables' own mark
  for (int byte = 0; byte < 256; ++byte) {
    if (kSingle[byte] == code) return static_cast<std::uint16_t>(byte);
  }
  for (int pass = 0; pass < 2; ++pass) {
    for (int lead = 0; lead < 256; ++lead) {
      if (kLeadRow[lead] < 0 || IsLastLead(lead) != (pass == 1)) continue;
      for (int trail = 0; trail < 256; ++trail) {
        if (kPairs[kLeadRow[lead]][trail] == code)
          return static_cast<std::uint16_t>(lead << 8 | trail);
      }
    }
  }
  for (const auto& pair : kOneWay) {
    if (pair[0] == code) return pair[1];
  }
  return kNoCharacter;
}

}  // namespace

bool EncodeCp932(const char* text, char* out, std::size_t outSize) {
  std::size_t used = 0;
  for (const unsigned char* at = reinterpret_cast<const unsigned char*>(text); *at != 0;) {
    std::uint32_t code = 0;
    const std::size_t length = DecodeUtf8(at, &code);
    const std::uint16_t form = length == 0 ? kNoCharacter : FindForm(code);
    if (form == kNoCharacter) return false;
    const std::size_t bytes = form < 0x100 ? 1 : 2;
    if (used + bytes + 1 > outSize) return false;
    if (bytes == 2) out[used++] = static_cast<char>(form >> 8);
    out[used++] = static_cast<char>(form & 0xFF);
    at += length;
  }
  out[used] = '\0';
  return true;
}

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
