// The names every system extracts from the flat directory.
#include <cstring>
#include <cwchar>

#include "change/Editor.h"
#include "output/NameText.h"

namespace change {

namespace {

#if !defined(_WIN32)
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

#endif

}  // namespace

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

}  // namespace change
