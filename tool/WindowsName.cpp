#include "tool/WindowsName.h"

#include <cstddef>
#include <cwchar>

namespace tool {

namespace {

constexpr wchar_t kPathCharacters[] = L"<>:\"/\\|?*";
constexpr const wchar_t* kThreeLetterDevices[] = {L"CON", L"PRN", L"AUX", L"NUL"};

wchar_t AsciiUpper(wchar_t c) {
  return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

// True when the first length characters of name are word, ignoring ASCII case.
bool StartsWithWord(const wchar_t* name, const wchar_t* word, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (AsciiUpper(name[i]) != word[i]) return false;
  }
  return true;
}

// Windows also takes the superscript digits for a port number (COM¹).
bool IsPortDigit(wchar_t c) {
  return (c >= L'1' && c <= L'9') || c == 0xB9 || c == 0xB2 || c == 0xB3;
}

bool IsDeviceName(const wchar_t* name) {
  // The device is found in the part before the first dot, spaces at its
  // end left out.
  std::size_t stem = 0;
  while (name[stem] != L'\0' && name[stem] != L'.') ++stem;
  while (stem > 0 && name[stem - 1] == L' ') --stem;
  if (stem == 3) {
    for (const wchar_t* device : kThreeLetterDevices) {
      if (StartsWithWord(name, device, 3)) return true;
    }
  }
  return stem == 4 && (StartsWithWord(name, L"COM", 3) || StartsWithWord(name, L"LPT", 3)) &&
         IsPortDigit(name[3]);
}

}  // namespace

bool IsPlainWindowsName(const wchar_t* name) {
  std::size_t length = 0;
  for (; name[length] != L'\0'; ++length) {
    const wchar_t c = name[length];
    if (c < 0x20 || std::wcschr(kPathCharacters, c) != nullptr) return false;
  }
  if (length == 0 || name[length - 1] == L'.' || name[length - 1] == L' ') return false;
  return !IsDeviceName(name);
}

}  // namespace tool
