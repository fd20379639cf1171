// The temporary file every writer fills beside its target: checked
// writes, its lock, its flush and its publishing under the target's name.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "edit/Plan.h"
#include "platform/Platform.h"

namespace edit {

// Flushes the directory that holds path, so that a rename into it
// outlasts a crash.  False with errno when it fails.
bool FlushDirectoryOf(const char* path) {
  char directory[kPathBytes];
  std::snprintf(directory, sizeof directory, "%s", path);
  char* slash = std::strrchr(directory, '/');
  if (slash == nullptr) {
    std::snprintf(directory, sizeof directory, ".");
  } else {
    slash[slash == directory ? 1 : 0] = '\0';
  }
  return platform::FlushFolder(directory);
}

void TempFile::Release() {
  if (lock_ >= 0) platform::Close(lock_);
  lock_ = -1;
}

int TempFile::Create(const char* target, int mode) {
  for (int n = 0; n < 100; ++n) {
    if (!MakeTempPath(target, n, path_)) {
      errno = ENAMETOOLONG;
      return -1;
    }
    const int fd = platform::CreateExclusive(path_, mode);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd >= 0 && platform::LockWithoutWaiting(fd)) lock_ = platform::DuplicateLock(fd);
    return fd;
  }
  return -1;
}

void TempFile::Drop() {
  platform::Remove(path_);
  Release();
}

// Says in outcome that target was changed, but its folder could not be
// flushed; false when it could.
bool FlushFailed(const char* target, Outcome* outcome) {
  if (FlushDirectoryOf(target)) return false;
  Fail(outcome, "%s was written, but its folder could not be flushed: %s; a crash may undo it",
       Shown(target), std::strerror(errno));
  return true;
}

bool TempFile::Publish(const char* target, Outcome* outcome, const char* verb) {
  const platform::Published published = platform::PublishNew(path_, target);
  if (published == platform::Published::kDone) return true;
  const int error = errno;
  if (published == platform::Published::kTwoNames) {
    outcome->changed = true;
    Release();
    return Fail(outcome, "%s was written, but is also named %s, which could not be removed: %s",
                Shown(target), Shown(path_), std::strerror(error));
  }
  Drop();
  return Fail(outcome, "cannot %s %s: %s%s", verb, Shown(target), std::strerror(error),
              verb[0] == 'w' ? "; nothing written" : "");
}

}  // namespace edit
