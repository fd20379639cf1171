// The temporary file every writer fills beside its target: checked
// writes, its lock, its flush and its publishing under the target's name.
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "edit/Plan.h"
#include "platform/Platform.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace edit {

namespace {

// The copy's path beside its target.
char tempPath[kPathBytes];

}  // namespace

// The temporary file's primitives, shared with the other writers.
#if defined(_WIN32)
bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t length) {
  return _write(fd, bytes, static_cast<unsigned>(length)) == static_cast<int>(length);
}
bool Flush(int fd) { return _commit(fd) == 0; }
bool CloseFile(int fd) { return _close(fd) == 0; }

// True when path is a link of some kind, which the replace would cut.
bool IsLink(const char* path) {
  wchar_t wide[platform::kMaxPathChars];
  if (!platform::Widen(path, wide, platform::kMaxPathChars)) return false;
  const DWORD attributes = GetFileAttributesW(wide);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

int DuplicateLock(int) { return -1; }
void TakeOwnerAndMode(int, const struct stat&, bool) {}
#else
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
bool CloseFile(int fd) { return close(fd) == 0; }

// A second descriptor of fd's open file, which keeps its lock after fd
// is closed; -1 when none.
int DuplicateLock(int fd) { return fcntl(fd, F_DUPFD_CLOEXEC, 0); }

// The copy takes the container's owner where this editor may set it
// (before the mode: a change of owner clears the set-ID bits); a set-ID
// bit whose owner or group the copy does not have is dropped.
void TakeOwnerAndMode(int fd, const struct stat& original, bool sameOwner) {
  mode_t mode = original.st_mode & 07777;
  if (sameOwner && fchown(fd, original.st_uid, original.st_gid) != 0)
    fchown(fd, static_cast<uid_t>(-1), original.st_gid);
  struct stat copy;
  const bool known = fstat(fd, &copy) == 0;
  if (!known || copy.st_uid != original.st_uid) mode &= ~static_cast<mode_t>(S_ISUID);
  if (!known || copy.st_gid != original.st_gid) mode &= ~static_cast<mode_t>(S_ISGID);
  fchmod(fd, mode);
}

bool IsLink(const char* path) {
  struct stat status;
  return lstat(path, &status) == 0 && S_ISLNK(status.st_mode);
}
#endif

// Flushes the directory that holds path, so that a rename into it
// outlasts a crash; Windows moves with write-through instead.  False with
// errno when it fails.
bool FlushDirectoryOf([[maybe_unused]] const char* path) {
#if !defined(_WIN32)
  char directory[kPathBytes];
  std::snprintf(directory, sizeof directory, "%s", path);
  char* slash = std::strrchr(directory, '/');
  if (slash == nullptr) {
    std::snprintf(directory, sizeof directory, ".");
  } else {
    slash[slash == directory ? 1 : 0] = '\0';
  }
  const int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  // Some file systems cannot flush a directory, and need not.
  const bool flushed = fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
  const int error = errno;
  close(fd);
  errno = error;
  return flushed;
#else
  return true;
#endif
}

// A file-size limit then fails a write instead of ending the process with
// a partial file left behind.
void IgnoreFileSizeSignal() {
#if !defined(_WIN32)
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}

// The temporary file's lock, held until it is published or removed.
namespace {
int tempLock = -1;
}  // namespace

void ReleaseTemp() {
#if !defined(_WIN32)
  if (tempLock >= 0) close(tempLock);
#endif
  tempLock = -1;
}

// Creates the temporary file beside target, exclusively, with mode's
// permission bits, and locks it.
int CreateTemp(const char* target, int mode) {
  for (int n = 0; n < 100; ++n) {
    if (!MakeTempPath(target, n, tempPath)) {
      errno = ENAMETOOLONG;
      return -1;
    }
    const int fd = platform::CreateExclusive(tempPath, mode);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd >= 0 && LockTemp(fd)) tempLock = DuplicateLock(fd);
    return fd;
  }
  return -1;
}

// Removes the temporary file after a failure.
void DropTemp() {
  platform::Remove(tempPath);
  ReleaseTemp();
}

// Returns EEXIST when path names anything (a dangling link too), ENOENT
// when it names nothing, or why that cannot be told.
int LookAt(const char* path) {
#if defined(_WIN32)
  return platform::KindOf(path) != platform::Kind::kNothing ? EEXIST : errno;
#else
  struct stat status;
  return lstat(path, &status) == 0 ? EEXIST : errno;
#endif
}

// Says in outcome that target was changed, but its folder could not be
// flushed; false when it could.
bool FlushFailed(const char* target, Outcome* outcome) {
  if (FlushDirectoryOf(target)) return false;
  Fail(outcome, "%s was written, but its folder could not be flushed: %s; a crash may undo it",
       Shown(target), std::strerror(errno));
  return true;
}

// Publishes the temporary file as target, which must not exist; true when
// it is there.  Its failure after the file came to stand under two names
// leaves outcome->changed set.
bool PublishTemp(const char* target, Outcome* outcome, const char* verb) {
  const Published published = PublishNew(tempPath, target);
  if (published == Published::kDone) return true;
  const int error = errno;
  if (published == Published::kTwoNames) {
    outcome->changed = true;
    ReleaseTemp();
    return Fail(outcome, "%s was written, but is also named %s, which could not be removed: %s",
                Shown(target), Shown(tempPath), std::strerror(error));
  }
  DropTemp();
  return Fail(outcome, "cannot %s %s: %s%s", verb, Shown(target), std::strerror(error),
              verb[0] == 'w' ? "; nothing written" : "");
}

const char* TempPath() { return tempPath; }

}  // namespace edit
