// Disk names: host text converted to Shift_JIS, and the names every system
// extracts.
#include <clocale>
#include <cstring>
#include <cwchar>

#include "edit/Edit.h"
#include "output/NameText.h"
#include "platform/Platform.h"
#include "tool/Extraction.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <iconv.h>
#include <langinfo.h>
#endif

namespace edit {

namespace {

#if defined(_WIN32)
// Room for a name in wide characters: longer ones are refused anyway.
constexpr int kWideNameChars = 64;
#else
// Decodes the UTF-8 text into wide (room for size characters with the
// terminator); false when it does not fit.  The text comes from the
// name decoder, so it is well formed.
bool WidenUtf8(const char* text, wchar_t* wide, std::size_t size) {
  std::size_t used = 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0;) {
    const int extra = *p >= 0xF0 ? 3 : *p >= 0xE0 ? 2 : *p >= 0xC0 ? 1 : 0;
    unsigned long code = extra == 0 ? *p : *p & (0x3Fu >> extra);
    for (int i = 1; i <= extra && p[i] != 0; ++i) code = code << 6 | (p[i] & 0x3Fu);
    p += 1 + extra;
    if (used + 1 >= size) return false;
    wide[used++] = static_cast<wchar_t>(code);
  }
  wide[used] = L'\0';
  return true;
}

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

Conversion ToShiftJis(const char* text, char* out, int outSize) {
#if defined(_WIN32)
  wchar_t wide[kWideNameChars];
  // The programs' arguments are UTF-8.
  if (!platform::Widen(text, wide, kWideNameChars)) return Conversion::kNoForm;
  // No best fit: a character without a Shift_JIS form is refused, not
  // replaced by a look-alike.
  BOOL usedDefault = FALSE;
  const int written =
      WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide, -1, out, outSize, nullptr, &usedDefault);
  return written > 0 && !usedDefault ? Conversion::kDone : Conversion::kNoForm;
#else
  static const bool localeSet = std::setlocale(LC_CTYPE, "") != nullptr;
  (void)localeSet;
  const std::size_t length = std::strlen(text);
  if (!IsLocaleText(text)) {
    if (length >= static_cast<std::size_t>(outSize)) return Conversion::kNoForm;
    std::memcpy(out, text, length + 1);
    return Conversion::kDone;
  }
  const iconv_t cd = iconv_open("CP932", nl_langinfo(CODESET));
  if (cd == reinterpret_cast<iconv_t>(-1)) return Conversion::kNoConverter;
  char* in = const_cast<char*>(text);
  std::size_t inLeft = length;
  char* dest = out;
  std::size_t destLeft = static_cast<std::size_t>(outSize - 1);
  const bool converted = iconv(cd, &in, &inLeft, &dest, &destLeft) != static_cast<std::size_t>(-1);
  iconv_close(cd);
  *dest = '\0';
  return converted && inLeft == 0 ? Conversion::kDone : Conversion::kNoForm;
#endif
}

bool IsPortableName(const char* name) {
  const std::size_t length = std::strlen(name);
  if (length == 0 || length > static_cast<std::size_t>(tool::kEntryNameBytes)) return false;
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c <= 0x20 || c == 0x7F) return false;
  }
  if (!tool::IsWritableName(name)) return false;
#if defined(_WIN32)
  // The tool's own check here is the Windows one.
  return true;
#else
  // A byte that is no character decodes to "\xNN", whose backslash the
  // Windows check refuses, as it does a 0x5C of its own.
  char text[output::kNameTextBytes];
  output::DecodeName(name, length, text, sizeof text);
  if (std::strchr(text, '\\') != nullptr) return false;
  wchar_t wide[tool::kEntryNameBytes + 1];
  return WidenUtf8(text, wide, tool::kEntryNameBytes + 1) && tool::IsPlainWindowsName(wide);
#endif
}

}  // namespace edit
