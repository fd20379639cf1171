#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdio>

#include "platform/Platform.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace platform {

#if defined(_WIN32)
bool Widen(const char* text, wchar_t* wide, int count) {
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide, count) > 0;
}

namespace {

// A path too long, or no UTF-8, is one the system would not find.
bool WidePath(const char* path, wchar_t (&wide)[kMaxPathChars]) {
  if (Widen(path, wide, kMaxPathChars)) return true;
  errno = GetLastError() == ERROR_INSUFFICIENT_BUFFER ? ENAMETOOLONG : ENOENT;
  return false;
}

}  // namespace

int OpenForReading(const char* path) {
  wchar_t wide[kMaxPathChars];
  return WidePath(path, wide) ? _wopen(wide, _O_RDONLY | _O_BINARY) : -1;
}

int CreateExclusive(const char* path, int mode) {
  wchar_t wide[kMaxPathChars];
  if (!WidePath(path, wide)) return -1;
  return _wopen(wide, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, mode & (_S_IREAD | _S_IWRITE));
}

bool Close(int fd) { return _close(fd) == 0; }

std::FILE* OpenStream(const char* path, const char* mode) {
  wchar_t wide[kMaxPathChars];
  wchar_t wideMode[8];
  if (!WidePath(path, wide) || !Widen(mode, wideMode, 8)) return nullptr;
  return _wfopen(wide, wideMode);
}

bool SeekStream(std::FILE* stream, std::int64_t position) {
  return _fseeki64(stream, position, SEEK_SET) == 0;
}

std::int64_t StreamSize(std::FILE* stream) {
  struct _stat64 status;
  return _fstat64(_fileno(stream), &status) == 0 ? status.st_size : -1;
}

bool PlainFileFacts(std::FILE* stream, std::int64_t* size, std::time_t* modified) {
  struct _stat64 status;
  if (_fstat64(_fileno(stream), &status) != 0 || (status.st_mode & _S_IFREG) == 0) return false;
  *size = status.st_size;
  *modified = static_cast<std::time_t>(status.st_mtime);
  return true;
}

Kind KindOf(const char* path) {
  wchar_t wide[kMaxPathChars];
  struct _stat64 status;
  if (!WidePath(path, wide) || _wstat64(wide, &status) != 0) return Kind::kNothing;
  if ((status.st_mode & _S_IFDIR) != 0) return Kind::kFolder;
  return (status.st_mode & _S_IFREG) != 0 ? Kind::kFile : Kind::kOther;
}

bool Rename(const char* from, const char* to) {
  wchar_t wideFrom[kMaxPathChars], wideTo[kMaxPathChars];
  if (!WidePath(from, wideFrom) || !WidePath(to, wideTo)) return false;
  if (MoveFileExW(wideFrom, wideTo, MOVEFILE_WRITE_THROUGH | MOVEFILE_REPLACE_EXISTING))
    return true;
  errno = EACCES;
  return false;
}

bool Remove(const char* path) {
  wchar_t wide[kMaxPathChars];
  return WidePath(path, wide) && _wremove(wide) == 0;
}

bool MakeFolder(const char* path) {
  wchar_t wide[kMaxPathChars];
  return WidePath(path, wide) && _wmkdir(wide) == 0;
}

bool EnterFolder(const char* path) {
  wchar_t wide[kMaxPathChars];
  return WidePath(path, wide) && _wchdir(wide) == 0;
}

int ListFolder(const char* folder, void (*visit)(void* context, const FolderEntry& entry),
               void* context) {
  wchar_t pattern[kMaxPathChars];
  if (!WidePath(folder, pattern)) return errno;
  std::size_t length = wcslen(pattern);
  const bool ended = length > 0 && (pattern[length - 1] == L'\\' || pattern[length - 1] == L'/');
  if (length + 3 > kMaxPathChars) return ENAMETOOLONG;
  if (!ended) pattern[length++] = L'\\';
  pattern[length++] = L'*';
  pattern[length] = L'\0';
  WIN32_FIND_DATAW found;
  const HANDLE find = FindFirstFileW(pattern, &found);
  if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_ACCESS_DENIED ? EACCES : ENOENT;
  do {
    char name[3 * MAX_PATH + 1];
    if (WideCharToMultiByte(CP_UTF8, 0, found.cFileName, -1, name, sizeof name, nullptr, nullptr) <=
        0)
      continue;
    const DWORD attributes = found.dwFileAttributes;
    if ((name[0] == '.' && name[1] == '\0') ||
        (name[0] == '.' && name[1] == '.' && name[2] == '\0'))
      continue;
    const Kind kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? Kind::kOther
                      : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0   ? Kind::kFolder
                                                                       : Kind::kFile;
    visit(context, FolderEntry{name, kind});
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return 0;
}
#else
int OpenForReading(const char* path) { return open(path, O_RDONLY | O_CLOEXEC); }

int CreateExclusive(const char* path, int mode) {
  return open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0777);
}

bool Close(int fd) { return close(fd) == 0; }

std::FILE* OpenStream(const char* path, const char* mode) { return std::fopen(path, mode); }

bool SeekStream(std::FILE* stream, std::int64_t position) {
  return fseeko(stream, static_cast<off_t>(position), SEEK_SET) == 0;
}

std::int64_t StreamSize(std::FILE* stream) {
  struct stat status;
  return fstat(fileno(stream), &status) == 0 ? static_cast<std::int64_t>(status.st_size) : -1;
}

bool PlainFileFacts(std::FILE* stream, std::int64_t* size, std::time_t* modified) {
  struct stat status;
  if (fstat(fileno(stream), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  *size = static_cast<std::int64_t>(status.st_size);
  *modified = status.st_mtime;
  return true;
}

Kind KindOf(const char* path) {
  struct stat status;
  if (stat(path, &status) != 0) return Kind::kNothing;
  if (S_ISDIR(status.st_mode)) return Kind::kFolder;
  return S_ISREG(status.st_mode) ? Kind::kFile : Kind::kOther;
}

bool Rename(const char* from, const char* to) { return std::rename(from, to) == 0; }

bool Remove(const char* path) { return std::remove(path) == 0; }

bool MakeFolder(const char* path) { return mkdir(path, 0777) == 0; }

bool EnterFolder(const char* path) { return chdir(path) == 0; }

int ListFolder(const char* folder, void (*visit)(void* context, const FolderEntry& entry),
               void* context) {
  DIR* dir = opendir(folder);
  if (dir == nullptr) return errno;
  while (const dirent* found = readdir(dir)) {
    const char* name = found->d_name;
    if ((name[0] == '.' && name[1] == '\0') ||
        (name[0] == '.' && name[1] == '.' && name[2] == '\0'))
      continue;
    Kind kind = found->d_type == DT_DIR   ? Kind::kFolder
                : found->d_type == DT_REG ? Kind::kFile
                                          : Kind::kOther;
    if (found->d_type == DT_UNKNOWN) {
      // Some file systems leave the type to a look of its own.
      char path[4096];
      struct stat status;
      const int length = std::snprintf(path, sizeof path, "%s/%s", folder, name);
      kind =
          length > 0 && static_cast<std::size_t>(length) < sizeof path && lstat(path, &status) == 0
              ? (S_ISDIR(status.st_mode)   ? Kind::kFolder
                 : S_ISREG(status.st_mode) ? Kind::kFile
                                           : Kind::kOther)
              : Kind::kOther;
    }
    visit(context, FolderEntry{name, kind});
  }
  closedir(dir);
  return 0;
}
#endif

}  // namespace platform
