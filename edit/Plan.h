// Inside edit: the steps of the files an edit writes, and of the lock it
// holds.
#ifndef D88EXTRACT_EDIT_PLAN_H
#define D88EXTRACT_EDIT_PLAN_H

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "diskimage/DiskImage.h"
#include "edit/Edit.h"
#include "platform/Platform.h"
#include "survey/FileSystems.h"
#include "survey/Survey.h"
#include "tool/Extraction.h"

namespace edit {

using change::BaseName;
using change::DosStamp;
using change::Fail;
using change::Shown;

// The container locked against other editors for the whole of one
// edit, and its identity when it was locked.  Released when it goes.
class ContainerLock {
 public:
  ContainerLock() = default;
  ContainerLock(const ContainerLock&) = delete;
  ContainerLock& operator=(const ContainerLock&) = delete;
  ~ContainerLock() { Release(); }
  // Locks the container at path without blocking (a FIFO is refused, not
  // waited on).  False after the message when it is not a plain file,
  // another editor holds it, or it cannot be opened.
  bool Take(const char* path, Outcome* outcome);
  const platform::FileIdentity& Identity() const { return identity_; }
  // The descriptor that holds the lock, for reading the very file locked.
  int Descriptor() const { return descriptor_; }
  // Lets go (on a system whose open files cannot be replaced: before the
  // container is).
  void Release();

 private:
  platform::FileIdentity identity_{};
  int descriptor_ = -1;
};

// Makes the n-th temporary path beside target: its base name, shortened
// so that the whole stays within the folder's name limit, and the mark.
// False when no such name fits.
bool MakeTempPath(const char* target, int n, char (&path)[kPathBytes]);
// Finds a temporary file left beside target by an edit that was stopped
// (its lock free); its path into found.
bool FindLeftover(const char* target, char (&found)[kPathBytes]);

// The temporary file a writer fills beside its target, locked while it
// is written so that it is told from a leftover.  Its lock goes with it.
class TempFile {
 public:
  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() { Release(); }
  // Creates it exclusively with mode's permission bits and locks it; its
  // descriptor, -1 with errno when it cannot be made.
  int Create(const char* target, int mode);
  // Its path, once made.
  const char* Path() const { return path_; }
  // Removes it after a failure.
  void Drop();
  // Lets go of its lock once it is published.
  void Release();
  // Publishes it as target, which must not exist; false after the message
  // ("cannot VERB TARGET: ..."), outcome->changed set when it stands under
  // two names.
  bool Publish(const char* target, Outcome* outcome, const char* verb);

 private:
  char path_[kPathBytes] = {};
  int lock_ = -1;
};
// Says in outcome that target was published but its folder could not be
// flushed; false when it could.
bool FlushFailed(const char* target, Outcome* outcome);

// The checked steps of writing a new file are the system's.
using platform::Flush;
using platform::IgnoreFileSizeSignal;
using platform::LookAt;
using platform::WriteAll;

}  // namespace edit

#endif
