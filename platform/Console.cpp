#include <cstring>

#include "platform/Platform.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace platform {

bool IsTerminal(std::FILE* stream) {
#if defined(_WIN32)
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}

void ShownPath(const char* path, std::FILE* stream, bool utf8, char* shown, std::size_t size) {
  if (size == 0) return;
  shown[0] = '\0';
#if defined(_WIN32)
  // A console shows its own code page; files and JSON get UTF-8.
  DWORD mode = 0;
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  if (!utf8 && GetConsoleMode(handle, &mode)) {
    wchar_t wide[kMaxPathChars];
    const int room = static_cast<int>(size > 0x7fffffff ? 0x7fffffff : size);
    const UINT codePage = GetConsoleOutputCP();
    const char* fallback = codePage == CP_UTF8 ? nullptr : "?";
    if (Widen(path, wide, kMaxPathChars) &&
        WideCharToMultiByte(codePage, 0, wide, -1, shown, room, fallback, nullptr) > 0)
      return;
    shown[0] = '\0';
    return;
  }
#else
  (void)stream;
  (void)utf8;
#endif
  const std::size_t length = std::strlen(path);
  const std::size_t kept = length < size ? length : size - 1;
  std::memcpy(shown, path, kept);
  shown[kept] = '\0';
}

}  // namespace platform
