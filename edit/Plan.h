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

// Locks the container at path for this editor, without blocking (a FIFO
// is refused, not waited on), and records its identity.  False after the
// message when it is not a plain file, another editor holds it, or it
// cannot be opened.
bool LockContainer(const char* path, Outcome* outcome);
// The container's identity when it was locked.
const platform::FileIdentity& LockedIdentity();
// The descriptor that holds the lock, for reading the very file locked.
int LockedDescriptor();
// Releases the lock (Windows: before the container is replaced, which an
// open handle would stop).
void UnlockContainer();

// Makes the n-th temporary path beside target: its base name, shortened
// so that the whole stays within the folder's name limit, and the mark.
// False when no such name fits.
bool MakeTempPath(const char* target, int n, char (&path)[kPathBytes]);
// Finds a temporary file left beside target by an edit that was stopped
// (its lock free); its path into found.
bool FindLeftover(const char* target, char (&found)[kPathBytes]);

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

// The checked steps of writing a new file are the system's.
using platform::Flush;
using platform::IgnoreFileSizeSignal;
using platform::LookAt;
using platform::WriteAll;

}  // namespace edit

#endif
