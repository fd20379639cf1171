// Shift_JIS (code page 932) decoded and encoded from a table made of the
// build host's glibc CP932 converter, for targets whose C library has no
// such converter (the page's WebAssembly build): names read there as d88
// prints them on Linux, and typed names take the bytes d88 gives them.
#ifndef D88EXTRACT_OUTPUT_CP932TABLE_H
#define D88EXTRACT_OUTPUT_CP932TABLE_H

#include <cstddef>

namespace output {

// Decodes the character at bytes (length of them, at least 1: one byte, or
// two after a lead byte) into UTF-8 at utf8 (room for 3 bytes), its length
// in *utf8Length; returns the bytes it took, 0 when they are not a
// character.  Answers as glibc's iconv from "CP932" does.
std::size_t DecodeCp932(const char* bytes, std::size_t length, char* utf8, std::size_t* utf8Length);

// Encodes the UTF-8 text into CP932 at out (outSize bytes with the
// terminator) as glibc's iconv to "CP932" does for characters below
// U+10000; false when text is not UTF-8, a character has no CP932 form,
// or the result does not fit.
bool EncodeCp932(const char* text, char* out, std::size_t outSize);

}  // namespace output

#endif
