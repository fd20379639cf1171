// Folders and files below the working folder, reached without following a
// link.
#include <cerrno>
#include <cstdint>
#include <ctime>

#include "platform/Platform.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {

#if defined(_WIN32)
namespace {

// The system's reason for a failed call, as errno names it.
int Reason() {
  const DWORD error = GetLastError();
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? EACCES
         : error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND ? ENOENT
         : error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL    ? ENOSPC
         : error == ERROR_FILENAME_EXCED_RANGE                            ? ENAMETOOLONG
                                                                          : EIO;
}

Reached Failed() {
  errno = Reason();
  return Reached::kFailed;
}

// Through the time zone's rules for that date, not today's offset; false
// when local names no moment.
bool SystemTime(const std::tm& local, FILETIME* out) {
  const WORD date =
      static_cast<WORD>((local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
  const WORD time = static_cast<WORD>(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
  FILETIME localTime;
  SYSTEMTIME localParts, utcParts;
  return DosDateTimeToFileTime(date, time, &localTime) != 0 &&
         FileTimeToSystemTime(&localTime, &localParts) != 0 &&
         TzSpecificLocalTimeToSystemTime(nullptr, &localParts, &utcParts) != 0 &&
         SystemTimeToFileTime(&utcParts, out) != 0;
}

bool SetHandleTime(HANDLE handle, const std::tm& local) {
  FILETIME time;
  if (!SystemTime(local, &time)) return true;
  if (SetFileTime(handle, nullptr, &time, &time) != 0) return true;
  errno = Reason();
  return false;
}

}  // namespace

NewFile::~NewFile() {
  if (handle_ != nullptr) CloseHandle(handle_);
}

bool NewFile::Write(const std::uint8_t* bytes, std::size_t length) {
  DWORD done = 0;
  if (WriteFile(handle_, bytes, static_cast<DWORD>(length), &done, nullptr) != 0 && done == length)
    return true;
  errno = Reason();
  return false;
}

bool NewFile::SetTime(const std::tm& local) { return SetHandleTime(handle_, local); }

bool NewFile::Close() {
  const HANDLE handle = handle_;
  handle_ = nullptr;
  if (CloseHandle(handle) != 0) return true;
  errno = Reason();
  return false;
}

Folder::~Folder() {
  while (heldCount_ > 0) CloseHandle(held_[--heldCount_]);
}

bool Folder::Append(const char* name) {
  std::size_t at = length_;
  if (at > 0) {
    if (at + 1 >= kMaxPathChars) return false;
    path_[at++] = L'\\';
  }
  const int made = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, path_ + at,
                                       static_cast<int>(kMaxPathChars - at));
  if (made <= 0) {
    path_[length_] = L'\0';
    return false;
  }
  length_ = at + static_cast<std::size_t>(made - 1);
  return true;
}

bool Folder::Start() { return true; }

// Held without FILE_SHARE_DELETE, so that it cannot be renamed away.
Reached Folder::Enter(const char* name, bool make) {
  if (heldCount_ == sizeof held_ / sizeof held_[0] || !Append(name)) return Reached::kNoName;
  if (make && CreateDirectoryW(path_, nullptr) == 0 && GetLastError() != ERROR_ALREADY_EXISTS)
    return Failed();
  const HANDLE handle = CreateFileW(
      path_, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return Failed();
  held_[heldCount_++] = handle;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(handle, &info) == 0) return Failed();
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    return Reached::kLink;
  return Reached::kDone;
}

bool Folder::SetTime(const std::tm& local) { return SetHandleTime(held_[heldCount_ - 1], local); }

// Opened without following a reparse point, and truncated only once it is
// known to be a plain file.
Reached Folder::CreateChildFile(const char* name, NewFile* file) {
  if (!Append(name)) return Reached::kNoName;
  const HANDLE handle =
      CreateFileW(path_, GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return Failed();
  file->handle_ = handle;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(handle, &info) == 0) return Failed();
  if ((info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0)
    return Reached::kLink;
  if (SetEndOfFile(handle) == 0) return Failed();
  return Reached::kDone;
}
#else
namespace {

bool SetDescriptorTime(int fd, std::tm local) {
  const std::time_t time = std::mktime(&local);
  if (time == static_cast<std::time_t>(-1)) return true;
  const struct timespec times[2] = {{time, 0}, {time, 0}};
  return futimens(fd, times) == 0;
}

}  // namespace

NewFile::~NewFile() {
  if (fd_ != -1) close(fd_);
}

bool NewFile::Write(const std::uint8_t* bytes, std::size_t length) {
  return WriteAll(fd_, bytes, length);
}

bool NewFile::SetTime(const std::tm& local) { return SetDescriptorTime(fd_, local); }

bool NewFile::Close() {
  const int fd = fd_;
  fd_ = -1;
  return close(fd) == 0;
}

Folder::~Folder() {
  if (fd_ != -1) close(fd_);
}

bool Folder::Start() {
  fd_ = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return fd_ != -1;
}

Reached Folder::Enter(const char* name, bool make) {
  if (make && mkdirat(fd_, name, 0777) != 0 && errno != EEXIST) return Reached::kFailed;
  const int next = openat(fd_, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (next == -1) return errno == ELOOP || errno == ENOTDIR ? Reached::kLink : Reached::kFailed;
  close(fd_);
  fd_ = next;
  return Reached::kDone;
}

bool Folder::SetTime(const std::tm& local) { return SetDescriptorTime(fd_, local); }

// O_NOFOLLOW refuses a link in the same step as the open; O_NONBLOCK keeps
// a FIFO standing there from holding the run, and fstat refuses it.
Reached Folder::CreateChildFile(const char* name, NewFile* file) {
  const int fd =
      openat(fd_, name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd == -1) return errno == ELOOP ? Reached::kLink : Reached::kFailed;
  file->fd_ = fd;
  struct stat status;
  if (fstat(fd, &status) != 0) return Reached::kFailed;
  return S_ISREG(status.st_mode) ? Reached::kDone : Reached::kLink;
}
#endif

}  // namespace platform
