// Text typed on this machine converted to Shift_JIS by the system's own
// converter: iconv from the locale's encoding, or Windows' code page 932.
#include <clocale>
#include <cstring>
#include <cwchar>

#include "platform/Platform.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <iconv.h>
#include <langinfo.h>
#endif

namespace platform {

namespace {

#if defined(_WIN32)
// Room for a name or a path in wide characters: a FAT12 path of long
// names runs far past a flat name's four bytes.
constexpr int kWideNameChars = kMaxPathChars;
#else
// True when text is characters of the locale's encoding.
bool IsLocaleText(const char* text) {
  std::mbstate_t state{};
  for (std::size_t left = std::strlen(text); left > 0;) {
    const std::size_t used = std::mbrtowc(nullptr, text, left, &state);
    if (used == static_cast<std::size_t>(-1) || used == static_cast<std::size_t>(-2)) return false;
    text += used;
    left -= used;
  }
  return true;
}
#endif

}  // namespace

Converted ToShiftJis(const char* text, char* out, int outSize) {
#if defined(_WIN32)
  wchar_t wide[kWideNameChars];
  // The programs' arguments are UTF-8.
  if (!Widen(text, wide, kWideNameChars)) return Converted::kNoForm;
  // No best fit: a character without a Shift_JIS form is refused, not
  // replaced by a look-alike.
  BOOL usedDefault = FALSE;
  const int written =
      WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide, -1, out, outSize, nullptr, &usedDefault);
  return written > 0 && !usedDefault ? Converted::kDone : Converted::kNoForm;
#else
  static const bool localeSet = std::setlocale(LC_CTYPE, "") != nullptr;
  (void)localeSet;
  const std::size_t length = std::strlen(text);
  if (!IsLocaleText(text)) {
    if (length >= static_cast<std::size_t>(outSize)) return Converted::kNoForm;
    std::memcpy(out, text, length + 1);
    return Converted::kDone;
  }
  const iconv_t cd = iconv_open("CP932", nl_langinfo(CODESET));
  if (cd == reinterpret_cast<iconv_t>(-1)) return Converted::kNoConverter;
  char* in = const_cast<char*>(text);
  std::size_t inLeft = length;
  char* dest = out;
  std::size_t destLeft = static_cast<std::size_t>(outSize - 1);
  const bool converted = iconv(cd, &in, &inLeft, &dest, &destLeft) != static_cast<std::size_t>(-1);
  iconv_close(cd);
  *dest = '\0';
  return converted && inLeft == 0 ? Converted::kDone : Converted::kNoForm;
#endif
}

}  // namespace platform
