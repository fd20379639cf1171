// Writing one extracted file into the working directory.
#ifndef D88EXTRACT_TOOL_OUTPUTFILE_H
#define D88EXTRACT_TOOL_OUTPUTFILE_H

#include <cstdint>

// Returns true when name names a plain file in the working directory:
// not empty, not "." or "..", and free of path separators.
bool IsSafeOutputName(const char* name);

// Creates (or truncates) the file name in the working directory and writes
// size bytes of data to it.  Returns false when the name is not safe, the
// file cannot be created, or not every byte reached it (a short write or a
// failing close): a partial file is never reported as written.
bool WriteOutputFile(const char* name, const std::uint8_t* data, int size);

#endif
