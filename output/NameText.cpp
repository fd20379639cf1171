#include "output/NameText.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#elif defined(D88_CP932_TABLE)
#include "output/Cp932Table.h"
#else
#include <iconv.h>
#endif

namespace output {

namespace {

// Room for the UTF-8 of one decoded character.
constexpr std::size_t kCharBytes = 8;

// Appends text to out at *used, as far as it fits with the terminator.
void Append(const char* text, std::size_t length, char* out, std::size_t outSize,
            std::size_t* used) {
  if (*used + length + 1 > outSize) return;
  std::memcpy(out + *used, text, length);
  *used += length;
}

void AppendEscaped(unsigned char byte, char* out, std::size_t outSize, std::size_t* used) {
  char escaped[5];
  std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
  Append(escaped, 4, out, outSize, used);
}

#if defined(_WIN32)
constexpr UINT kNameCodePage = 932;

// Decodes the character at bytes (one byte, or two after a lead byte) into
// UTF-8 at utf8 (kCharBytes), its length in *utf8Length; returns the bytes
// it took, 0 when they are not a character.
std::size_t DecodeOne(const char* bytes, std::size_t length, char* utf8, std::size_t* utf8Length) {
  const int take =
      IsDBCSLeadByteEx(kNameCodePage, static_cast<BYTE>(bytes[0])) && length > 1 ? 2 : 1;
  wchar_t wide[2];
  const int wideLength =
      MultiByteToWideChar(kNameCodePage, MB_ERR_INVALID_CHARS, bytes, take, wide, 2);
  if (wideLength == 0) return 0;
  const int written = WideCharToMultiByte(CP_UTF8, 0, wide, wideLength, utf8,
                                          static_cast<int>(kCharBytes), nullptr, nullptr);
  if (written <= 0) return 0;
  *utf8Length = static_cast<std::size_t>(written);
  return static_cast<std::size_t>(take);
}
#elif defined(D88_CP932_TABLE)
// No converter here knows CP932: a table made from glibc's decodes alike.
std::size_t DecodeOne(const char* bytes, std::size_t length, char* utf8, std::size_t* utf8Length) {
  return DecodeCp932(bytes, length, utf8, utf8Length);
}
#else
// One converter for each thread: iconv keeps no state between whole
// characters of this encoding, but a converter is not safe to share.
class Converter {
 public:
  Converter() : cd_(iconv_open("UTF-8", "CP932")) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  iconv_t Get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Decodes the character at bytes (one byte, or two after a lead byte) into
// UTF-8 at utf8 (kCharBytes), its length in *utf8Length; returns the bytes
// it took, 0 when they are not a character.
std::size_t DecodeOne(const char* bytes, std::size_t length, char* utf8, std::size_t* utf8Length) {
  static thread_local const Converter converter;
  const iconv_t cd = converter.Get();
  if (cd == reinterpret_cast<iconv_t>(-1)) return 0;
  for (std::size_t take = 1; take <= 2 && take <= length; ++take) {
    char* in = const_cast<char*>(bytes);
    std::size_t inLeft = take;
    char* dest = utf8;
    std::size_t destLeft = kCharBytes;
    const std::size_t result = iconv(cd, &in, &inLeft, &dest, &destLeft);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (result != static_cast<std::size_t>(-1) && inLeft == 0) {
      *utf8Length = kCharBytes - destLeft;
      return take;
    }
  }
  return 0;
}
#endif

}  // namespace

void DecodeName(const char* bytes, std::size_t length, char* out, std::size_t outSize,
                Controls controls) {
  std::size_t used = 0;
  std::size_t at = 0;
  while (at < length && used + 1 < outSize) {
    char utf8[kCharBytes + 1] = {};
    std::size_t utf8Length = 0;
    const std::size_t taken = DecodeOne(bytes + at, length - at, utf8, &utf8Length);
    const bool shown = controls == Controls::kKeep || ControlBytes(utf8) != utf8Length;
    if (taken > 0 && shown) {
      Append(utf8, utf8Length, out, outSize, &used);
      at += taken;
      continue;
    }
    // A control keeps the \xNN of every byte it came from.
    for (std::size_t i = 0; i < (taken > 0 ? taken : 1); ++i)
      AppendEscaped(static_cast<unsigned char>(bytes[at + i]), out, outSize, &used);
    at += taken > 0 ? taken : 1;
  }
  out[used] = '\0';
}

void HexName(const char* bytes, std::size_t length, char* out, std::size_t outSize) {
  std::size_t used = 0;
  for (std::size_t i = 0; i < length && used + 3 <= outSize; ++i) {
    std::snprintf(out + used, 3, "%02x", static_cast<unsigned char>(bytes[i]));
    used += 2;
  }
  out[used] = '\0';
}

std::size_t ControlBytes(const char* text) {
  const unsigned char first = static_cast<unsigned char>(text[0]);
  if (first == '\0') return 0;
  if (first < 0x20 || first == 0x7F) return 1;
  const unsigned char second = static_cast<unsigned char>(text[1]);
  return first == 0xC2 && second >= 0x80 && second <= 0x9F ? 2 : 0;
}

std::size_t Utf8Bytes(const char* text) {
  const unsigned char first = static_cast<unsigned char>(text[0]);
  if (first < 0x80) return first == 0 ? 0 : 1;
  // The lead byte gives the length and the smallest value the character may
  // have, so that overlong forms and surrogates are refused.
  std::size_t length = 0;
  std::uint32_t value = 0, least = 0;
  if (first >= 0xC2 && first <= 0xDF) {
    length = 2, value = first & 0x1Fu, least = 0x80;
  } else if (first >= 0xE0 && first <= 0xEF) {
    length = 3, value = first & 0x0Fu, least = 0x800;
  } else if (first >= 0xF0 && first <= 0xF4) {
    length = 4, value = first & 0x07u, least = 0x10000;
  } else {
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char next = static_cast<unsigned char>(text[i]);
    if ((next & 0xC0u) != 0x80u) return 0;
    value = value << 6 | (next & 0x3Fu);
  }
  const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
  return value < least || value > 0x10FFFF || surrogate ? 0 : length;
}

void EscapeControls(const char* text, char* out, std::size_t outSize) {
  std::size_t used = 0;
  for (const char* p = text; *p != '\0' && used + 1 < outSize;) {
    const std::size_t control = ControlBytes(p);
    for (std::size_t i = 0; i < control; ++i)
      AppendEscaped(static_cast<unsigned char>(p[i]), out, outSize, &used);
    if (control == 0) Append(p, 1, out, outSize, &used);
    p += control > 0 ? control : 1;
  }
  out[used] = '\0';
}

}  // namespace output
