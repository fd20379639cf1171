// Every fixed text the tool writes.  The Japanese messages are Shift_JIS
// (code page 932) bytes, written as they stand; the text is beside each.
#ifndef D88EXTRACT_TOOL_MESSAGES_H
#define D88EXTRACT_TOOL_MESSAGES_H

namespace tool::msg {

// Usage line; %s is the program's invocation name.
constexpr char kUsage[] = "Usage: %s image\n";

// "ファイルをオープンできません.\n": the file cannot be opened.
constexpr char kCannotOpen[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x83\x49\x81\x5b\x83\x76"
    "\x83\x93\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1.\n";

// "メディアが違うようです.\n": the medium seems to be the wrong one.
constexpr char kWrongMedium[] =
    "\x83\x81\x83\x66\x83\x42\x83\x41\x82\xaa\x88\xe1\x82\xa4\x82\xe6"
    "\x82\xa4\x82\xc5\x82\xb7.\n";

// "書き込みに失敗しました.\n": writing failed.
constexpr char kWriteFailed[] =
    "\x8f\x91\x82\xab\x8d\x9e\x82\xdd\x82\xc9\x8e\xb8\x94\x73\x82\xb5"
    "\x82\xdc\x82\xb5\x82\xbd.\n";

// "ファイルを読み込めません.\n": the file cannot be read.
constexpr char kCannotRead[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x93\xc7\x82\xdd\x8d\x9e"
    "\x82\xdf\x82\xdc\x82\xb9\x82\xf1.\n";

static_assert(sizeof kCannotOpen - 1 == 30, "30 bytes in Shift_JIS");
static_assert(sizeof kWrongMedium - 1 == 24, "24 bytes in Shift_JIS");
static_assert(sizeof kWriteFailed - 1 == 24, "24 bytes in Shift_JIS");
static_assert(sizeof kCannotRead - 1 == 26, "26 bytes in Shift_JIS");

}  // namespace tool::msg

#endif
