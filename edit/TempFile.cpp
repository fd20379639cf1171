// The temporary file every writer fills beside its target: checked
// writes, its lock, its flush and its publishing under the target's name.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "edit/Plan.h"
#include "platform/Platform.h"

namespace edit {

namespace {

// The copy's path beside its target.
char tempPath[kPathBytes];

}  // namespace

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

// The temporary file's lock, held until it is published or removed.
namespace {
int tempLock = -1;
}  // namespace

void ReleaseTemp() {
  if (tempLock >= 0) platform::Close(tempLock);
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
    if (fd >= 0 && platform::LockWithoutWaiting(fd)) tempLock = platform::DuplicateLock(fd);
    return fd;
  }
  return -1;
}

// Removes the temporary file after a failure.
void DropTemp() {
  platform::Remove(tempPath);
  ReleaseTemp();
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
  const platform::Published published = platform::PublishNew(tempPath, target);
  if (published == platform::Published::kDone) return true;
  const int error = errno;
  if (published == platform::Published::kTwoNames) {
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
