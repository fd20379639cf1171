// Disk and file names for people: the name bytes are Shift_JIS (code page
// 932), decoded by the platform's own converter into UTF-8; and text made
// safe for a terminal, its control characters shown as \xNN.
#ifndef D88EXTRACT_OUTPUT_NAMETEXT_H
#define D88EXTRACT_OUTPUT_NAMETEXT_H

#include <cstddef>

namespace output {

// Room for the text of a 16-byte name: at most 4 output bytes per input byte.
constexpr std::size_t kNameTextBytes = 4 * 16 + 1;

// What a decoded name does with a character that is a control: keeps it
// (JSON and XML escape it their own way) or shows its bytes as \xNN.
enum class Controls { kKeep, kEscape };

// Writes the UTF-8 text of the length name bytes into out (outSize bytes,
// NUL-terminated, cut short rather than overrun).  A byte that does not
// start a valid character shows as \xNN (two lowercase hex digits), and so,
// with Controls::kEscape, do the bytes of a character that decodes to a C0
// control, DEL or a C1 control.
void DecodeName(const char* bytes, std::size_t length, char* out, std::size_t outSize,
                Controls controls = Controls::kKeep);

// Writes the name bytes as lowercase hex pairs into out, NUL-terminated,
// cut short rather than overrun.
void HexName(const char* bytes, std::size_t length, char* out, std::size_t outSize);

// Returns how many bytes of the NUL-terminated text form a control: 1 for
// a byte below 0x20 or 0x7F, 2 for the UTF-8 of a C1 control (C2 80-C2 9F),
// which a UTF-8 terminal obeys; 0 otherwise.  A lone byte 0x80-0x9F is a
// Shift_JIS lead byte, not a control.
std::size_t ControlBytes(const char* text);

// Returns how many bytes of the NUL-terminated text form one valid UTF-8
// character (1-4); 0 at the terminator or where they do not.
std::size_t Utf8Bytes(const char* text);

// Copies the NUL-terminated text into out with each control's bytes as
// \xNN, NUL-terminated, cut short rather than overrun.
void EscapeControls(const char* text, char* out, std::size_t outSize);

}  // namespace output

#endif
