// Shift_JIS (code page 932) decoded from a table made of the build host's
// glibc CP932 converter, for targets whose C library has no such converter
// (the page's WebAssembly build): names read there as d88 prints them on
// Linux.
#ifndef D88EXTRACT_OUTPUT_CP932TABLE_H
#define D88EXTRACT_OUTPUT_CP932TABLE_H

#include <cstddef>

namespace output {

// Decodes the character at bytes (length of them, at least 1: one byte, or
// two after a lead byte) into UTF-8 at utf8 (room for 3 bytes), its length
// in *utf8Length; returns the bytes it took, 0 when they are not a
// character.  Answers as glibc's iconv from "CP932" does.
std::size_t DecodeCp932(const char* bytes, std::size_t length, char* utf8, std::size_t* utf8Length);

}  // namespace output

#endif
