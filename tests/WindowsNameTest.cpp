// The names Windows would take for something other than a plain file in
// the working directory.  The check works on decoded names, so it runs on
// every system.
#include <gtest/gtest.h>

#include "tool/WindowsName.h"

namespace {

struct NameCase {
  const wchar_t* name;
  bool plain;
};

TEST(IsPlainWindowsName, RefusesDevicesPathsStreamsAndTrailingDots) {
  const NameCase cases[] = {
      {L"ABCD", true},
      {L"\u30a2\u30a4", true},
      {L"\u8868", true},  // 表: its Shift_JIS second byte is 0x5C
      {L"a.b", true},
      {L".ab", true},
      {L"CONX", true},
      {L"NULL", true},
      {L"COM0", true},
      {L"LPT", true},
      {L"COMA", true},
      {L"XCON", true},
      {L"\uff23\uff2f\uff2e", true},  // full-width ＣＯＮ
      {L"A\x7f", true},
      {L"", false},
      {L".", false},
      {L"..", false},
      {L"AB.", false},
      {L"AB ", false},
      {L"CON", false},
      {L"con", false},
      {L"PRN", false},
      {L"aUx", false},
      {L"NUL", false},
      {L"NUL.", false},
      {L"nul.txt", false},
      {L"NUL .x", false},
      {L"COM1", false},
      {L"com9", false},
      {L"COM\u00b9", false},
      {L"LPT1", false},
      {L"Lpt9", false},
      {L"LPT\u00b3.x", false},
      {L"C:AB", false},
      {L"A\\B", false},
      {L"A/B", false},
      {L"A<", false},
      {L"A>", false},
      {L"A\"", false},
      {L"A|", false},
      {L"A?", false},
      {L"A*", false},
      {L"A\x01", false},
      {L"\x1f", false},
      {L"A\tB", false},
  };
  for (const NameCase& c : cases) {
    EXPECT_EQ(IsPlainWindowsName(c.name), c.plain) << testing::PrintToString(std::wstring(c.name));
  }
}

}  // namespace
