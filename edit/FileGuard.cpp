// One editor at a time, on the same file throughout: the lock on the
// container, the identity of files, the temporary files' names, and
// publishing a new file without replacing one made meanwhile.
//
// The lock is on the container itself, never on a file beside it: an
// editor that finds it held refuses.  Once it holds the lock it checks that
// the path still names the file it locked (another editor may have renamed
// its result over it meanwhile); the file's identity then stays fixed for
// the whole edit, and the stream and the path are compared with it before
// the rename.  A temporary file is locked too while its editor runs, so a
// temporary file whose lock is free was left by an edit that was stopped.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "edit/Plan.h"
#include "platform/Platform.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif
#endif

namespace edit {

namespace {

// The temporary files' mark, between the (shortened) base name and the
// process ID.
constexpr char kTempMark[] = ".d88edit-";
constexpr char kTempEnd[] = ".tmp";

// Tries to lock the container this many times while other editors keep
// replacing it.
constexpr int kLockAttempts = 5;

FileIdentity locked;  // the container's identity when it was locked

#if defined(_WIN32)
HANDLE lockHandle = INVALID_HANDLE_VALUE;

// A lock on the data bytes would stop the readers' own handles: the byte
// locked lies far past any end.
bool LockFarByte(HANDLE handle) {
  OVERLAPPED place = {};
  place.Offset = 0xFFFFFFFEu;
  place.OffsetHigh = 0x7FFFFFFFu;
  return LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &place) !=
         0;
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
  identity->regular = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  identity->links = static_cast<int>(information.nNumberOfLinks);
  return true;
}

HANDLE OpenShared(const char* path, DWORD access) {
  wchar_t wide[platform::kMaxPathChars];
  if (!platform::Widen(path, wide, platform::kMaxPathChars)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileW(wide, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}
#else
int lockDescriptor = -1;

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
  identity->regular = S_ISREG(status.st_mode);
  identity->links = static_cast<int>(status.st_nlink);
}
#endif

// The longest name the folder of path takes.
long NameLimit([[maybe_unused]] const char* path) {
  long limit = 255;
#if !defined(_WIN32)
  char folder[kPathBytes];
  const std::size_t length = static_cast<std::size_t>(BaseName(path) - path);
  if (length >= sizeof folder) return limit;
  std::memcpy(folder, path, length);
  folder[length] = '\0';
  const long found = pathconf(length > 0 ? folder : ".", _PC_NAME_MAX);
  if (found > 0) limit = found;
#endif
  return limit;
}

}  // namespace

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.device == b.device && a.inode == b.inode && a.size == b.size &&
         a.modifiedSeconds == b.modifiedSeconds && a.modifiedNanoseconds == b.modifiedNanoseconds;
}

bool IdentityOfDescriptor(int fd, FileIdentity* identity) {
#if defined(_WIN32)
  return IdentityOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), identity);
#else
  struct stat status;
  if (fstat(fd, &status) != 0) return false;
  FromStat(status, identity);
  return true;
#endif
}

bool IdentityOfPath(const char* path, FileIdentity* identity) {
#if defined(_WIN32)
  const HANDLE handle = OpenShared(path, 0);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = ENOENT;
    return false;
  }
  const bool known = IdentityOfHandle(handle, identity);
  CloseHandle(handle);
  return known;
#else
  struct stat status;
  if (stat(path, &status) != 0) return false;
  FromStat(status, identity);
  return true;
#endif
}

bool LockContainer(const char* path, Outcome* outcome) {
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    FileIdentity now;
#if defined(_WIN32)
    lockHandle = OpenShared(path, GENERIC_READ);
    if (lockHandle == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      return Fail(
          outcome, "cannot open %s: %s", Shown(path),
          std::strerror(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT
                                                                                       : EACCES));
    }
    if (!IdentityOfHandle(lockHandle, &locked)) {
      UnlockContainer();
      return Fail(outcome, "cannot open %s: %s", Shown(path), std::strerror(errno));
    }
    if (!locked.regular) {
      UnlockContainer();
      return Fail(outcome, "cannot open %s: %s", Shown(path), std::strerror(EISDIR));
    }
    if (!LockFarByte(lockHandle)) {
      UnlockContainer();
      return Fail(outcome, "%s is being edited by another d88; nothing written", Shown(path));
    }
#else
    // Without blocking: a FIFO would wait for a writer.
    lockDescriptor = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (lockDescriptor < 0)
      return Fail(outcome, "cannot open %s: %s", Shown(path), std::strerror(errno));
    struct stat status;
    if (fstat(lockDescriptor, &status) != 0) {
      const int error = errno;
      UnlockContainer();
      return Fail(outcome, "cannot open %s: %s", Shown(path), std::strerror(error));
    }
    FromStat(status, &locked);
    if (S_ISDIR(status.st_mode)) {
      UnlockContainer();
      return Fail(outcome, "cannot open %s: %s", Shown(path), std::strerror(EISDIR));
    }
    if (!locked.regular) {
      UnlockContainer();
      return Fail(outcome,
                  "%s is not a regular file (a pipe, a device or a socket); nothing written",
                  Shown(path));
    }
    if (flock(lockDescriptor, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      UnlockContainer();
      if (error == EWOULDBLOCK)
        return Fail(outcome, "%s is being edited by another d88; nothing written", Shown(path));
      return Fail(outcome, "cannot lock %s: %s; nothing written", Shown(path),
                  std::strerror(error));
    }
    // The file may have changed before the lock was taken.
    if (fstat(lockDescriptor, &status) != 0) {
      const int error = errno;
      UnlockContainer();
      return Fail(outcome, "cannot open %s: %s", Shown(path), std::strerror(error));
    }
    FromStat(status, &locked);
#endif
    if (!IdentityOfPath(path, &now)) {
      const int error = errno;
      UnlockContainer();
      return Fail(outcome, "cannot open %s: %s", Shown(path), std::strerror(error));
    }
    if (SameFile(now, locked)) return true;
    // Another editor put its result in place meanwhile: lock that one.
    UnlockContainer();
  }
  return Fail(outcome, "%s keeps being replaced by other programs; nothing written", Shown(path));
}

const FileIdentity& LockedIdentity() { return locked; }

#if !defined(_WIN32)
int LockedDescriptor() { return lockDescriptor; }
#endif

void UnlockContainer() {
#if defined(_WIN32)
  if (lockHandle != INVALID_HANDLE_VALUE) CloseHandle(lockHandle);
  lockHandle = INVALID_HANDLE_VALUE;
#else
  if (lockDescriptor >= 0) close(lockDescriptor);
  lockDescriptor = -1;
#endif
}

bool MakeTempPath(const char* target, int n, char (&path)[kPathBytes]) {
  char suffix[64];
#if defined(_WIN32)
  const int id = _getpid();
#else
  const int id = static_cast<int>(getpid());
#endif
  const int suffixLength =
      std::snprintf(suffix, sizeof suffix, "%s%d-%d%s", kTempMark, id, n, kTempEnd);
  const std::size_t folderLength = static_cast<std::size_t>(BaseName(target) - target);
  std::size_t baseLength = std::strlen(target) - folderLength;
  const long room = NameLimit(target) - suffixLength;
  if (room < 1) return false;
  if (baseLength > static_cast<std::size_t>(room)) baseLength = static_cast<std::size_t>(room);
  if (folderLength + baseLength + static_cast<std::size_t>(suffixLength) >= sizeof path)
    return false;
  std::snprintf(path, sizeof path, "%.*s%s", static_cast<int>(folderLength + baseLength), target,
                suffix);
  return true;
}

bool IsTempName(const char* name) {
  const char* mark = std::strstr(name, kTempMark);
  if (mark == nullptr || mark == name) return false;
  const char* c = mark + sizeof kTempMark - 1;
  for (int part = 0; part < 2; ++part) {
    if (*c < '0' || *c > '9') return false;
    while (*c >= '0' && *c <= '9') ++c;
    if (part == 0 && *c++ != '-') return false;
  }
  return std::strcmp(c, kTempEnd) == 0;
}

bool LockTemp(int fd) {
#if defined(_WIN32)
  return LockFarByte(reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
#else
  return flock(fd, LOCK_EX | LOCK_NB) == 0;
#endif
}

bool OpenContainerFile(diskimage::DiskImage& reader, const char* path) {
  const int fd = platform::OpenForReading(path);
  const bool opened = reader.OpenDescriptor(fd);
  const int error = errno;
  if (fd >= 0) platform::Close(fd);
  errno = error;
  return opened;
}

bool IsAbandoned(const char* path) {
#if defined(_WIN32)
  const HANDLE handle = OpenShared(path, GENERIC_READ);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool free = LockFarByte(handle);
  CloseHandle(handle);
  return free;
#else
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat status;
  const bool free =
      fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);
  return free;
#endif
}

bool FindLeftover([[maybe_unused]] const char* target, char (&found)[kPathBytes]) {
  found[0] = '\0';
#if !defined(_WIN32)
  char mine[kPathBytes];
  if (!MakeTempPath(target, 0, mine)) return false;
  const std::size_t folderLength = static_cast<std::size_t>(BaseName(mine) - mine);
  // The base name as the temporary files of target have it.
  const std::size_t stemLength =
      static_cast<std::size_t>(std::strstr(BaseName(mine), kTempMark) - BaseName(mine));
  char folder[kPathBytes];
  std::snprintf(folder, sizeof folder, "%.*s", static_cast<int>(folderLength), mine);
  DIR* dir = opendir(folderLength > 0 ? folder : ".");
  if (dir == nullptr) return false;
  while (const dirent* entry = readdir(dir)) {
    if (!IsTempName(entry->d_name) ||
        std::strncmp(entry->d_name, BaseName(mine), stemLength) != 0 ||
        std::strncmp(entry->d_name + stemLength, kTempMark, sizeof kTempMark - 1) != 0)
      continue;
    const std::size_t nameLength = std::strlen(entry->d_name);
    if (folderLength + nameLength >= sizeof found) continue;
    std::memcpy(found, folder, folderLength);
    std::memcpy(found + folderLength, entry->d_name, nameLength + 1);
    if (IsAbandoned(found)) break;
    found[0] = '\0';
  }
  closedir(dir);
#endif
  return found[0] != '\0';
}

Published PublishNew(const char* from, const char* to) {
#if defined(_WIN32)
  wchar_t wideFrom[platform::kMaxPathChars], wideTo[platform::kMaxPathChars];
  if (!platform::Widen(from, wideFrom, platform::kMaxPathChars) ||
      !platform::Widen(to, wideTo, platform::kMaxPathChars)) {
    errno = ENAMETOOLONG;
    return Published::kFailed;
  }
  // Without replace-existing, a move refuses a file made meanwhile.
  if (MoveFileExW(wideFrom, wideTo, MOVEFILE_WRITE_THROUGH)) return Published::kDone;
  errno = GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS ? EEXIST
                                                                                        : EACCES;
  return Published::kFailed;
#else
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
#endif
}

}  // namespace edit
