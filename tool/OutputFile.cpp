#include "tool/OutputFile.h"

#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "tool/Directory.h"
#include "tool/WindowsName.h"
#endif

bool IsSafeOutputName(const char* name) {
  if (name[0] == '\0' || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
    return false;
  }
  // A separator would put the file somewhere other than the working
  // directory.
  return std::strchr(name, '/') == nullptr;
}

namespace {

#if defined(_WIN32)
// Shift_JIS, as Windows knows it.
constexpr UINT kNameCodePage = 932;

// The name is decoded from code page 932 whatever the machine's ANSI code
// page, and the file is created by its wide name, so the second byte of a
// two-byte character (0x5C in 表) is never taken for a separator.  A name
// that does not decode, or that Windows would take for something other
// than a plain file, is not created.
std::FILE* OpenForWriting(const char* name) {
  wchar_t wide[kEntryNameBytes + 1];
  if (MultiByteToWideChar(kNameCodePage, MB_ERR_INVALID_CHARS, name, -1, wide,
                          static_cast<int>(sizeof wide / sizeof wide[0])) == 0) {
    return nullptr;
  }
  if (!IsPlainWindowsName(wide)) return nullptr;
  return _wfopen(wide, L"wb");
}
#else
std::FILE* OpenForWriting(const char* name) { return std::fopen(name, "wb"); }
#endif

}  // namespace

bool WriteOutputFile(const char* name, const std::uint8_t* data, int size) {
  if (!IsSafeOutputName(name)) return false;
  std::FILE* out = OpenForWriting(name);
  if (out == nullptr) return false;
  const std::size_t wanted = size > 0 ? static_cast<std::size_t>(size) : 0;
  const bool written = std::fwrite(data, 1, wanted, out) == wanted;
  const bool closed = std::fclose(out) == 0;
  return written && closed;
}
