// One editor at a time, on the same file throughout: the lock on the
// container, the temporary files' names, and the leftovers of edits that
// were stopped.
//
// The lock is on the container itself, never on a file beside it: an
// editor that finds it held refuses.  Once it holds the lock it checks that
// the path still names the file it locked (another editor may have renamed
// its result over it meanwhile); the file's identity then stays fixed for
// the whole edit, and the stream and the path are compared with it before
// the rename.  A temporary file is locked too while its editor runs, so a
// temporary file whose lock is free was left by an edit that was stopped.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "edit/Plan.h"
#include "platform/Platform.h"

namespace edit {

namespace {

// The temporary files' mark, between the (shortened) base name and the
// process ID.
constexpr char kTempMark[] = ".d88edit-";
constexpr char kTempEnd[] = ".tmp";

// Tries to lock the container this many times while other editors keep
// replacing it.
constexpr int kLockAttempts = 5;

// The longest name the folder of path takes.
long NameLimit(const char* path) {
  char folder[kPathBytes];
  const std::size_t length = static_cast<std::size_t>(BaseName(path) - path);
  if (length >= sizeof folder) return 255;
  std::memcpy(folder, path, length);
  folder[length] = '\0';
  return platform::NameLimit(length > 0 ? folder : ".");
}

}  // namespace

bool ContainerLock::Take(const char* path, Outcome* outcome) {
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    descriptor_ = platform::OpenToLock(path);
    if (descriptor_ < 0)
      return Fail(outcome, "cannot open %s: %s", Shown(path), std::strerror(errno));
    if (!platform::IdentityOfDescriptor(descriptor_, &identity_)) {
      const int error = errno;
      Release();
      return Fail(outcome, "cannot open %s: %s", Shown(path), std::strerror(error));
    }
    if (identity_.kind == platform::Kind::kFolder) {
      Release();
      return Fail(outcome, "cannot open %s: %s", Shown(path), std::strerror(EISDIR));
    }
    if (identity_.kind != platform::Kind::kFile) {
      Release();
      return Fail(outcome,
                  "%s is not a regular file (a pipe, a device or a socket); nothing written",
                  Shown(path));
    }
    if (!platform::LockWithoutWaiting(descriptor_)) {
      const int error = errno;
      Release();
      if (error == EWOULDBLOCK)
        return Fail(outcome, "%s is being edited by another d88; nothing written", Shown(path));
      return Fail(outcome, "cannot lock %s: %s; nothing written", Shown(path),
                  std::strerror(error));
    }
    // The file may have changed before the lock was taken.
    platform::FileIdentity now;
    if (!platform::IdentityOfDescriptor(descriptor_, &identity_) ||
        !platform::IdentityOfPath(path, &now)) {
      const int error = errno;
      Release();
      return Fail(outcome, "cannot open %s: %s", Shown(path), std::strerror(error));
    }
    if (platform::SameFile(now, identity_)) return true;
    // Another editor put its result in place meanwhile: lock that one.
    Release();
  }
  return Fail(outcome, "%s keeps being replaced by other programs; nothing written", Shown(path));
}

void ContainerLock::Release() {
  if (descriptor_ >= 0) platform::Close(descriptor_);
  descriptor_ = -1;
}

bool MakeTempPath(const char* target, int n, char (&path)[kPathBytes]) {
  char suffix[64];
  const int id = platform::ProcessId();
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

bool OpenContainerFile(diskimage::DiskImage& reader, const char* path) {
  const int fd = platform::OpenForReading(path);
  const bool opened = reader.OpenDescriptor(fd);
  const int error = errno;
  if (fd >= 0) platform::Close(fd);
  errno = error;
  return opened;
}

bool IsAbandoned(const char* path) {
  const int fd = platform::OpenToLock(path);
  if (fd < 0) return false;
  platform::FileIdentity identity;
  const bool free = platform::IdentityOfDescriptor(fd, &identity) &&
                    identity.kind == platform::Kind::kFile && platform::LockWithoutWaiting(fd);
  platform::Close(fd);
  return free;
}

namespace {

// What the scan of a target's folder looks for, and what it found.
struct LeftoverScan {
  const char* folder;
  std::size_t folderLength;
  const char* stem;  // the base name as target's temporary files have it
  std::size_t stemLength;
  char (&found)[kPathBytes];
};

void LookAtEntry(void* context, const platform::FolderEntry& entry) {
  LeftoverScan& scan = *static_cast<LeftoverScan*>(context);
  if (scan.found[0] != '\0') return;
  if (!IsTempName(entry.name) || std::strncmp(entry.name, scan.stem, scan.stemLength) != 0 ||
      std::strncmp(entry.name + scan.stemLength, kTempMark, sizeof kTempMark - 1) != 0)
    return;
  const std::size_t nameLength = std::strlen(entry.name);
  if (scan.folderLength + nameLength >= sizeof scan.found) return;
  std::memcpy(scan.found, scan.folder, scan.folderLength);
  std::memcpy(scan.found + scan.folderLength, entry.name, nameLength + 1);
  if (!IsAbandoned(scan.found)) scan.found[0] = '\0';
}

}  // namespace

bool FindLeftover(const char* target, char (&found)[kPathBytes]) {
  found[0] = '\0';
  // Where a lock ends with its descriptor, a running editor's temporary
  // file, closed before it is published, would pass for a leftover.
  if (!platform::kLocksOutliveDescriptor) return false;
  char mine[kPathBytes];
  if (!MakeTempPath(target, 0, mine)) return false;
  const std::size_t folderLength = static_cast<std::size_t>(BaseName(mine) - mine);
  const std::size_t stemLength =
      static_cast<std::size_t>(std::strstr(BaseName(mine), kTempMark) - BaseName(mine));
  char folder[kPathBytes];
  std::snprintf(folder, sizeof folder, "%.*s", static_cast<int>(folderLength), mine);
  LeftoverScan scan{folder, folderLength, BaseName(mine), stemLength, found};
  platform::ListFolder(folderLength > 0 ? folder : ".", LookAtEntry, &scan);
  return found[0] != '\0';
}

}  // namespace edit
