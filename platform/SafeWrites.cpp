// Checked writes of a new file, its lock, the identity of files and
// publishing without replacing.
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "platform/Platform.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif
#endif

namespace platform {

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.device == b.device && a.inode == b.inode && a.size == b.size &&
         a.modifiedSeconds == b.modifiedSeconds && a.modifiedNanoseconds == b.modifiedNanoseconds;
}

#if defined(_WIN32)
namespace {

HANDLE OpenShared(const char* path, DWORD access) {
  wchar_t wide[kMaxPathChars];
  if (!Widen(path, wide, kMaxPathChars)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileW(wide, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool IdentityOfHandle(HANDLE handle, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(handle, &information)) {
    errno = EIO;
    return false;
  }
  identity->device = information.dwVolumeSerialNumber;
  identity->inode =
      static_cast<unsigned long long>(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
  identity->size = static_cast<long long>(information.nFileSizeHigh) << 32 |
                   static_cast<long long>(information.nFileSizeLow);
  identity->modifiedSeconds = static_cast<long long>(information.ftLastWriteTime.dwHighDateTime);
  identity->modifiedNanoseconds = static_cast<long long>(information.ftLastWriteTime.dwLowDateTime);
  identity->kind =
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Kind::kFolder : Kind::kFile;
  identity->links = static_cast<int>(information.nNumberOfLinks);
  identity->mode = (information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0
                       ? _S_IREAD
                       : _S_IREAD | _S_IWRITE;
  identity->owner = 0;
  identity->group = 0;
  return true;
}

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

}  // namespace

bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t length) {
  return _write(fd, bytes, static_cast<unsigned>(length)) == static_cast<int>(length);
}

bool Flush(int fd) { return _commit(fd) == 0; }

bool FlushFolder(const char*) { return true; }

void IgnoreFileSizeSignal() {}

int LookAt(const char* path) { return KindOf(path) != Kind::kNothing ? EEXIST : errno; }

bool IsLink(const char* path) {
  wchar_t wide[kMaxPathChars];
  if (!Widen(path, wide, kMaxPathChars)) return false;
  const DWORD attributes = GetFileAttributesW(wide);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

long NameLimit(const char*) { return 255; }

int ProcessId() { return _getpid(); }

bool IdentityOfDescriptor(int fd, FileIdentity* identity) {
  return IdentityOfHandle(HandleOf(fd), identity);
}

bool IdentityOfPath(const char* path, FileIdentity* identity) {
  const HANDLE handle = OpenShared(path, 0);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = ENOENT;
    return false;
  }
  const bool known = IdentityOfHandle(handle, identity);
  CloseHandle(handle);
  return known;
}

void TakeOwnerAndMode(int, const FileIdentity&, bool) {}

int OpenToLock(const char* path) {
  const HANDLE handle = OpenShared(path, GENERIC_READ);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    errno = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
    return -1;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd < 0) CloseHandle(handle);
  return fd;
}

// A lock on the data bytes would stop the readers' own handles: the byte
// locked lies far past any end.
bool LockWithoutWaiting(int fd) {
  OVERLAPPED place = {};
  place.Offset = 0xFFFFFFFEu;
  place.OffsetHigh = 0x7FFFFFFFu;
  if (LockFileEx(HandleOf(fd), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                 &place) != 0)
    return true;
  errno = EWOULDBLOCK;
  return false;
}

int DuplicateLock(int) { return -1; }

Published PublishNew(const char* from, const char* to) {
  wchar_t wideFrom[kMaxPathChars], wideTo[kMaxPathChars];
  if (!Widen(from, wideFrom, kMaxPathChars) || !Widen(to, wideTo, kMaxPathChars)) {
    errno = ENAMETOOLONG;
    return Published::kFailed;
  }
  // Without replace-existing, a move refuses a file made meanwhile.
  if (MoveFileExW(wideFrom, wideTo, MOVEFILE_WRITE_THROUGH)) return Published::kDone;
  errno = GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS ? EEXIST
                                                                                        : EACCES;
  return Published::kFailed;
}
#else
namespace {

void FromStat(const struct stat& status, FileIdentity* identity) {
  identity->device = static_cast<unsigned long long>(status.st_dev);
  identity->inode = static_cast<unsigned long long>(status.st_ino);
  identity->size = static_cast<long long>(status.st_size);
  identity->modifiedSeconds = static_cast<long long>(status.st_mtime);
#if defined(__linux__)
  identity->modifiedNanoseconds = static_cast<long long>(status.st_mtim.tv_nsec);
#else
  identity->modifiedNanoseconds = 0;
#endif
  identity->kind = S_ISDIR(status.st_mode)   ? Kind::kFolder
                   : S_ISREG(status.st_mode) ? Kind::kFile
                                             : Kind::kOther;
  identity->links = static_cast<int>(status.st_nlink);
  identity->mode = static_cast<int>(status.st_mode & 07777);
  identity->owner = static_cast<unsigned>(status.st_uid);
  identity->group = static_cast<unsigned>(status.st_gid);
}

}  // namespace

bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t length) {
  while (length > 0) {
    const ssize_t written = write(fd, bytes, length);
    if (written <= 0) {
      if (written < 0 && errno == EINTR) continue;
      if (written == 0) errno = EIO;
      return false;
    }
    bytes += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

bool Flush(int fd) { return fsync(fd) == 0; }

bool FlushFolder(const char* folder) {
  const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  // Some file systems cannot flush a directory, and need not.
  const bool flushed = fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
  const int error = errno;
  close(fd);
  errno = error;
  return flushed;
}

void IgnoreFileSizeSignal() { std::signal(SIGXFSZ, SIG_IGN); }

int LookAt(const char* path) {
  struct stat status;
  return lstat(path, &status) == 0 ? EEXIST : errno;
}

bool IsLink(const char* path) {
  struct stat status;
  return lstat(path, &status) == 0 && S_ISLNK(status.st_mode);
}

long NameLimit(const char* folder) {
  const long found = pathconf(folder, _PC_NAME_MAX);
  return found > 0 ? found : 255;
}

int ProcessId() { return static_cast<int>(getpid()); }

bool IdentityOfDescriptor(int fd, FileIdentity* identity) {
  struct stat status;
  if (fstat(fd, &status) != 0) return false;
  FromStat(status, identity);
  return true;
}

bool IdentityOfPath(const char* path, FileIdentity* identity) {
  struct stat status;
  if (stat(path, &status) != 0) return false;
  FromStat(status, identity);
  return true;
}

// The owner first: a change of owner clears the set-ID bits.
void TakeOwnerAndMode(int fd, const FileIdentity& original, bool sameOwner) {
  mode_t mode = static_cast<mode_t>(original.mode);
  const uid_t owner = static_cast<uid_t>(original.owner);
  const gid_t group = static_cast<gid_t>(original.group);
  if (sameOwner && fchown(fd, owner, group) != 0) fchown(fd, static_cast<uid_t>(-1), group);
  struct stat copy;
  const bool known = fstat(fd, &copy) == 0;
  if (!known || copy.st_uid != owner) mode &= ~static_cast<mode_t>(S_ISUID);
  if (!known || copy.st_gid != group) mode &= ~static_cast<mode_t>(S_ISGID);
  fchmod(fd, mode);
}

int OpenToLock(const char* path) { return open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC); }

bool LockWithoutWaiting(int fd) { return flock(fd, LOCK_EX | LOCK_NB) == 0; }

int DuplicateLock(int fd) { return fcntl(fd, F_DUPFD_CLOEXEC, 0); }

Published PublishNew(const char* from, const char* to) {
#if defined(__linux__) && defined(SYS_renameat2)
  constexpr unsigned kNoReplace = 1;  // RENAME_NOREPLACE
  if (syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, kNoReplace) == 0)
    return Published::kDone;
  // Some file systems (FUSE exFAT, some NFS) know no such rename.
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return Published::kFailed;
#endif
  if (link(from, to) == 0) {
    if (unlink(from) == 0 || unlink(from) == 0) return Published::kDone;
    // Never two names: the output goes again, and the caller removes from.
    const int error = errno;
    if (unlink(to) != 0) return Published::kTwoNames;
    errno = error;
    return Published::kFailed;
  }
  // FAT and exFAT know no hard links: a name made empty and exclusively is
  // then replaced, so a file made meanwhile never is.
  if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS && errno != EMLINK)
    return Published::kFailed;
  const int placeholder = open(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (placeholder < 0) return Published::kFailed;
  close(placeholder);
  if (rename(from, to) == 0) return Published::kDone;
  const int error = errno;
  unlink(to);
  errno = error;
  return Published::kFailed;
}
#endif

}  // namespace platform
