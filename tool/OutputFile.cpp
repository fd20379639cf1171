#include <cstdio>
#include <cstring>

#include "tool/Extraction.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>

#include "tool/WindowsName.h"
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tool {

namespace {

// Returns true when name names a plain file in the working directory:
// not empty, not "." or "..", and free of path separators.
bool IsSafeOutputName(const char* name) {
  if (name[0] == '\0' || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
    return false;
  }
  // A separator would put the file somewhere other than the working
  // directory.
  return std::strchr(name, '/') == nullptr;
}

#if defined(_WIN32)
// Shift_JIS, as Windows knows it.
constexpr UINT kNameCodePage = 932;

// Room for a decoded name of one path component, as Windows limits it.
constexpr int kMostTextNameChars = 256;

// Decodes name from code page 932 into wide (kEntryNameBytes + 1
// characters); false when it is not valid there.
bool DecodeName(const char* name, wchar_t* wide) {
  return MultiByteToWideChar(kNameCodePage, MB_ERR_INVALID_CHARS, name, -1, wide,
                             kEntryNameBytes + 1) != 0;
}

// Keeps the system's reason for a failed call in errno, where the callers
// of WriteOutputFile look for it.
void KeepReason() {
  const DWORD error = GetLastError();
  errno = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? EACCES
          : error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND ? ENOENT
          : error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL    ? ENOSPC
                                                                           : EIO;
}

// The name is decoded from code page 932 whatever the machine's ANSI code
// page, and the file is created by its wide name, so the second byte of a
// two-byte character (0x5C in 表) is never taken for a separator.
std::FILE* OpenForWriting(const char* name) {
  wchar_t wide[kEntryNameBytes + 1];
  if (!DecodeName(name, wide)) return nullptr;
  // A reparse point (a symbolic link, a junction) would send the data out
  // of the working directory.  The name is opened without following one
  // and only truncated once it is known not to be one, so that no link can
  // be swapped in between a check and the open.
  const HANDLE handle =
      CreateFileW(wide, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    KeepReason();
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION info;
  bool usable = GetFileInformationByHandle(handle, &info) != 0;
  if (usable && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    usable = false;
  }
  usable = usable && SetEndOfFile(handle) != 0;
  if (!usable) KeepReason();
  const int fd =
      usable ? _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY) : -1;
  if (fd == -1) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* out = _fdopen(fd, "wb");
  if (out == nullptr) _close(fd);
  return out;
}
#else
// O_NOFOLLOW refuses a name that is a symbolic link (ELOOP) in the same
// step as the open, so the data never goes where the link points.
std::FILE* OpenForWriting(const char* name) {
  const int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd == -1) return nullptr;
  std::FILE* out = fdopen(fd, "wb");
  if (out == nullptr) close(fd);
  return out;
}
#endif

}  // namespace

bool IsWritableName(const char* name) {
  if (!IsSafeOutputName(name)) return false;
#if defined(_WIN32)
  // A name that does not decode, or that Windows would take for something
  // other than a plain file, is not created.
  wchar_t wide[kEntryNameBytes + 1];
  return std::strlen(name) <= static_cast<std::size_t>(kEntryNameBytes) && DecodeName(name, wide) &&
         IsPlainWindowsName(wide);
#else
  return true;
#endif
}

bool IsWritableTextName(const char* name) {
  if (!IsSafeOutputName(name)) return false;
#if defined(_WIN32)
  wchar_t wide[kMostTextNameChars];
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, wide, kMostTextNameChars) >
             0 &&
         IsPlainWindowsName(wide);
#else
  return true;
#endif
}

bool WriteOutputFile(const char* name, const std::uint8_t* data, int size) {
  if (!IsWritableName(name)) return false;
  std::FILE* out = OpenForWriting(name);
  if (out == nullptr) return false;
  const std::size_t wanted = size > 0 ? static_cast<std::size_t>(size) : 0;
  const bool written = std::fwrite(data, 1, wanted, out) == wanted;
  const bool closed = std::fclose(out) == 0;
  return written && closed;
}

}  // namespace tool
