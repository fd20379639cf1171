#include "d88/WorkDirectory.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#if defined(_WIN32)
#include <direct.h>
#else
#include <unistd.h>
#endif

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

bool IsDirectory(const char* path) {
#if defined(_WIN32)
  struct _stat status;
  return _stat(path, &status) == 0 && (status.st_mode & _S_IFDIR) != 0;
#else
  struct stat status;
  return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
#endif
}

// Makes the one directory path unless a directory is there already.
bool MakeOne(const char* path) {
#if defined(_WIN32)
  const bool made = _mkdir(path) == 0;
#else
  const bool made = mkdir(path, 0777) == 0;
#endif
  if (made) return true;
  const int reason = errno;
  if (IsDirectory(path)) return true;
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

bool EnterDirectory(const char* path) {
#if defined(_WIN32)
  return _chdir(path) == 0;
#else
  return chdir(path) == 0;
#endif
}

}  // namespace d88
