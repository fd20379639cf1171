#include "d88/WorkDirectory.h"

#include <cerrno>
#include <cstring>

#include "platform/Platform.h"

namespace d88 {

namespace {

// The longest path made; a longer one fails with ENAMETOOLONG.
constexpr std::size_t kMaxPathBytes = 4096;

bool IsSeparator(char c) {
#if defined(_WIN32)
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}

// Where the first directory to make may start: past a drive ("C:") or the
// server and share of a UNC path on Windows; at 0 elsewhere.
std::size_t RootLength(const char* path) {
#if defined(_WIN32)
  if (IsSeparator(path[0]) && IsSeparator(path[1])) {
    std::size_t at = 2;
    for (int part = 0; part < 2; ++part) {
      while (path[at] != '\0' && !IsSeparator(path[at])) ++at;
      if (path[at] != '\0') ++at;
    }
    return at;
  }
  if (path[0] != '\0' && path[1] == ':') return 2;
#else
  (void)path;
#endif
  return 0;
}

// Makes the one directory path unless a directory is there already.
bool MakeOne(const char* path) {
  if (platform::MakeFolder(path)) return true;
  const int reason = errno;
  if (platform::KindOf(path) == platform::Kind::kFolder) return true;
  // Something that is not a directory stands in the way.
  errno = reason == EEXIST ? ENOTDIR : reason;
  return false;
}

}  // namespace

bool MakeDirectories(const char* path) {
  const std::size_t length = std::strlen(path);
  if (length >= kMaxPathBytes) {
    errno = ENAMETOOLONG;
    return false;
  }
  char prefix[kMaxPathBytes];
  std::memcpy(prefix, path, length + 1);
  // Each separator after a name ends a directory to make; the whole path
  // ends the last one.
  for (std::size_t at = RootLength(path) + 1; at <= length; ++at) {
    if ((at < length && !IsSeparator(path[at])) || IsSeparator(path[at - 1])) continue;
    prefix[at] = '\0';
    const bool made = MakeOne(prefix);
    prefix[at] = path[at];
    if (!made) return false;
  }
  return true;
}

bool EnterDirectory(const char* path) { return platform::EnterFolder(path); }

}  // namespace d88
