#include "tool/OutputFile.h"

#include <cstdio>
#include <cstring>

bool IsSafeOutputName(const char* name) {
  if (name[0] == '\0' || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
    return false;
  }
  // A separator would put the file somewhere other than the working
  // directory.
  return std::strchr(name, '/') == nullptr;
}

bool WriteOutputFile(const char* name, const std::uint8_t* data, int size) {
  if (!IsSafeOutputName(name)) return false;
  std::FILE* out = std::fopen(name, "wb");
  if (out == nullptr) return false;
  const std::size_t wanted = size > 0 ? static_cast<std::size_t>(size) : 0;
  const bool written = std::fwrite(data, 1, wanted, out) == wanted;
  const bool closed = std::fclose(out) == 0;
  return written && closed;
}
