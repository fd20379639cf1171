#include "platform/Platform.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#endif

namespace platform {

#if defined(_WIN32)
namespace {

// A command line holds at most 32767 characters: each is at most 3 bytes
// of UTF-8, and each argument takes a character of the line at least.
constexpr std::size_t kLineChars = 32768;
char arena[3 * kLineChars + kLineChars];
const char* values[kLineChars + 1];

}  // namespace

Arguments TakeArguments(int argc, char** argv) {
  const Arguments narrow{argc, argv};
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return narrow;
  std::size_t used = 0;
  bool fits = count >= 0 && static_cast<std::size_t>(count) < kLineChars;
  for (int i = 0; fits && i < count; ++i) {
    const int room = static_cast<int>(sizeof arena - used);
    const int made =
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arena + used, room, nullptr, nullptr);
    fits = made > 0;
    values[i] = arena + used;
    used += static_cast<std::size_t>(made > 0 ? made : 0);
  }
  LocalFree(wide);
  if (!fits) return narrow;
  values[count] = nullptr;
  return Arguments{count, values};
}
#else
Arguments TakeArguments(int argc, char** argv) { return Arguments{argc, argv}; }
#endif

}  // namespace platform
