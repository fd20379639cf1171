// Writing one extracted file into the working directory.
#ifndef D88EXTRACT_TOOL_OUTPUTFILE_H
#define D88EXTRACT_TOOL_OUTPUTFILE_H

#include <cstdint>

// Returns true when name names a plain file in the working directory:
// not empty, not "." or "..", and free of path separators.
bool IsSafeOutputName(const char* name);

// Creates (or truncates) the file name in the working directory and writes
// size bytes of data to it.  Returns false when the name is not safe, the
// file cannot be created, the name is a symbolic link (on Windows, any
// reparse point), which is then left as it was, or not every byte reached
// the file (a short write or a failing close): a partial file is never
// reported as written.
//
// On Windows the name bytes are Shift_JIS (code page 932) and the file gets
// the decoded name; a name of more than kEntryNameBytes bytes, one that is
// not valid code page 932, or one that IsPlainWindowsName refuses is not
// safe there either.  Elsewhere the bytes are the name as they stand.
bool WriteOutputFile(const char* name, const std::uint8_t* data, int size);

#endif
