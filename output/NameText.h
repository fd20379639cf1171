// Disk and file names for people: the name bytes are Shift_JIS (code page
// 932), decoded by the platform's own converter into UTF-8.
#ifndef D88EXTRACT_OUTPUT_NAMETEXT_H
#define D88EXTRACT_OUTPUT_NAMETEXT_H

#include <cstddef>

namespace output {

// Room for the text of a 16-byte name: at most 4 output bytes per input byte.
constexpr std::size_t kNameTextBytes = 4 * 16 + 1;

// Writes the UTF-8 text of the length name bytes into out (outSize bytes,
// NUL-terminated, cut short rather than overrun).  A byte that does not
// start a valid character shows as \xNN (two lowercase hex digits).
void DecodeName(const char* bytes, std::size_t length, char* out, std::size_t outSize);

// Writes the name bytes as lowercase hex pairs into out, NUL-terminated,
// cut short rather than overrun.
void HexName(const char* bytes, std::size_t length, char* out, std::size_t outSize);

}  // namespace output

#endif
