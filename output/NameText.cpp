#include "output/NameText.h"

#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace output {

namespace {

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
// UTF-8 at out; returns the bytes it took, 0 when they are not a character.
std::size_t DecodeOne(const char* bytes, std::size_t length, char* out, std::size_t outSize,
                      std::size_t* used) {
  const int take =
      IsDBCSLeadByteEx(kNameCodePage, static_cast<BYTE>(bytes[0])) && length > 1 ? 2 : 1;
  wchar_t wide[2];
  const int wideLength =
      MultiByteToWideChar(kNameCodePage, MB_ERR_INVALID_CHARS, bytes, take, wide, 2);
  if (wideLength == 0) return 0;
  char utf8[8];
  const int utf8Length =
      WideCharToMultiByte(CP_UTF8, 0, wide, wideLength, utf8, sizeof utf8, nullptr, nullptr);
  if (utf8Length <= 0) return 0;
  Append(utf8, static_cast<std::size_t>(utf8Length), out, outSize, used);
  return static_cast<std::size_t>(take);
}
#else
// One converter for the process; iconv keeps no state between whole
// characters of this encoding.
iconv_t Converter() {
  static const iconv_t converter = iconv_open("UTF-8", "CP932");
  return converter;
}

// Decodes as many characters from bytes as are valid into UTF-8 at out;
// returns the bytes it took, 0 when the first is not a character.
std::size_t DecodeOne(const char* bytes, std::size_t length, char* out, std::size_t outSize,
                      std::size_t* used) {
  const iconv_t cd = Converter();
  if (cd == reinterpret_cast<iconv_t>(-1)) return 0;
  char* in = const_cast<char*>(bytes);
  std::size_t inLeft = length;
  char* dest = out + *used;
  std::size_t destLeft = outSize - *used - 1;
  iconv(cd, &in, &inLeft, &dest, &destLeft);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  *used = static_cast<std::size_t>(dest - out);
  return length - inLeft;
}
#endif

}  // namespace

void DecodeName(const char* bytes, std::size_t length, char* out, std::size_t outSize) {
  std::size_t used = 0;
  std::size_t at = 0;
  while (at < length && used + 1 < outSize) {
    const std::size_t taken = DecodeOne(bytes + at, length - at, out, outSize, &used);
    if (taken > 0) {
      at += taken;
      continue;
    }
    AppendEscaped(static_cast<unsigned char>(bytes[at]), out, outSize, &used);
    ++at;
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

}  // namespace output
