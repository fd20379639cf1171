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
#include "survey/FileSystems.h"
#include "survey/Survey.h"
#include "tool/Extraction.h"

namespace edit {

using change::BaseName;
using change::DosStamp;
using change::Fail;
using change::Shown;

// Which file a path or descriptor reaches, and its size and time: a file
// replaced, or changed in place, is another.
struct FileIdentity {
  unsigned long long device, inode;  // the volume and the file on it
  long long size;
  long long modifiedSeconds, modifiedNanoseconds;  // Windows: the time's high and low words
  bool regular;                                    // a plain file
  int links;                                       // how many names it has
};

bool SameFile(const FileIdentity& a, const FileIdentity& b);
// Each false with errno set when the system cannot tell.
bool IdentityOfDescriptor(int fd, FileIdentity* identity);
bool IdentityOfPath(const char* path, FileIdentity* identity);

// Locks the container at path for this editor, without blocking (a FIFO
// is refused, not waited on), and records its identity.  False after the
// message when it is not a plain file, another editor holds it, or it
// cannot be opened.
bool LockContainer(const char* path, Outcome* outcome);
// The container's identity when it was locked.
const FileIdentity& LockedIdentity();
#if !defined(_WIN32)
// The descriptor that holds the lock, for reading the very file locked.
int LockedDescriptor();
#endif
// Releases the lock (Windows: before the container is replaced, which an
// open handle would stop).
void UnlockContainer();

// Makes the n-th temporary path beside target: its base name, shortened
// so that the whole stays within the folder's name limit, and the mark.
// False when no such name fits.
bool MakeTempPath(const char* target, int n, char (&path)[kPathBytes]);
// Locks a temporary file being written, so that it is told from a
// leftover; true when it is locked.
bool LockTemp(int fd);
// Finds a temporary file left beside target by an edit that was stopped
// (its lock free); its path into found.
bool FindLeftover(const char* target, char (&found)[kPathBytes]);

// What became of publishing a file under a new name.
enum class Published {
  kDone,      // the file is under its new name only
  kFailed,    // it is not; errno says why
  kTwoNames,  // it is under both names, and the old one could not go
};
// Moves from to to, never replacing a file there, even one made meanwhile.
Published PublishNew(const char* from, const char* to);

// The temporary file a writer fills beside its target, one at a time.
// Creates it exclusively with mode's permission bits and locks it; its
// descriptor, -1 with errno when it cannot be made.
int CreateTemp(const char* target, int mode);
// Its path, once made.
const char* TempPath();
// Removes it after a failure.
void DropTemp();
// Lets go of its lock once it is published.
void ReleaseTemp();
// Publishes it as target, which must not exist; false after the message
// ("cannot VERB TARGET: ..."), outcome->changed set when it stands under
// two names.
bool PublishTemp(const char* target, Outcome* outcome, const char* verb);
// Says in outcome that target was published but its folder could not be
// flushed; false when it could.
bool FlushFailed(const char* target, Outcome* outcome);

// Checked writes, flushes and closes of a descriptor; false with errno.
bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t length);
bool Flush(int fd);
bool CloseFile(int fd);
// Returns EEXIST when path names anything (a dangling link too), ENOENT
// when it names nothing, or why that cannot be told.
int LookAt(const char* path);
// A file-size limit then fails a write instead of ending the process.
void IgnoreFileSizeSignal();
// True when path is a link of some kind, which replacing would cut.
bool IsLink(const char* path);
// Gives the copy at fd the original's owner (sameOwner) and mode bits.
void TakeOwnerAndMode(int fd, const struct stat& original, bool sameOwner);

}  // namespace edit

#endif
