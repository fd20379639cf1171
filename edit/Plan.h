// Inside edit: the plan of one edit, and the copy that carries it out.
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

// What the copy changes, on the disk surveyed in before.
struct Plan {
  const survey::DiskSurvey* before;                     // the disk as it is
  std::int64_t fileSize;                                // the container's length
  std::int64_t dataPosition[survey::kSlots];            // file position of slot p's data; -1 none
  bool written[survey::kSlots];                         // slot p gets data[p x sector bytes ..]
  std::uint8_t data[tool::kLargestDiskBytes];           // the written slots' new bytes
  std::uint8_t directory[tool::kDirectoryBufferBytes];  // the new directory
};

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

// The part of path after its last separator.
const char* BaseName(const char* path);

// Makes the n-th temporary path beside target: its base name, shortened
// so that the whole stays within the folder's name limit, and the mark.
// False when no such name fits.
bool MakeTempPath(const char* target, int n, char (&path)[kPathBytes]);
// Finds a temporary file left beside target by an edit that was stopped
// (its lock free); its path into found.
bool FindLeftover(const char* target, char (&found)[kPathBytes]);

// Writes the formatted message into outcome->message; returns false.
bool Fail(Outcome* outcome, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Returns text with its controls escaped, in one of a few rotating
// static buffers (enough for the arguments of one message).
const char* Shown(const char* text);

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

// Bytes to change in the copy: a sector's data area.
struct Patch {
  std::int64_t position;      // file position of the first byte
  int length;                 // bytes
  const std::uint8_t* bytes;  // what they become
  const std::uint8_t* was;    // the bytes as surveyed, which the stream must meet; null: any
};

// Streams the container from source into fd with count patches (in file
// order) laid over it; *differs when bytes under a patch are not as
// surveyed.  Returns the bytes copied, -1 when a read or write failed.
std::int64_t StreamWithPatches(std::FILE* source, int fd, const Patch* patches, int count,
                               bool* differs);

// Streams as StreamWithPatches does, as a copy producer's write: null
// when the copy is whole, fileSize bytes of a container that did not
// change meanwhile, else why not.
const char* StreamPatchedCopy(std::FILE* source, int fd, const Patch* patches, int count,
                              std::int64_t fileSize);

// Opens the host file at path for reading, its status into status and
// its size into size (-1: not a plain file); null after the message.
std::FILE* OpenHostFile(const char* path, struct stat* status, long long* size, Outcome* outcome);

// The local time when, as DOS packs a date and a time.
void DosStamp(std::time_t when, std::uint16_t* date, std::uint16_t* time);

// Converts a name (or path) typed in the locale's encoding to Shift_JIS
// at out (outSize bytes); false after the message.
bool ToDiskName(const char* text, char* out, int outSize, Outcome* outcome);

// True when two surveys of a disk show the same directory, bytes and states.
bool SameDisk(const survey::DiskSurvey& a, const survey::DiskSurvey& b);

// Reads the copy at path back with check: its size fileSize, its images
// as many as original's, each but image k the same disk; image k is
// surveyed into edited and judged by judge(context).
bool ReadBack(diskimage::DiskImage& original, diskimage::DiskImage& check, const char* path, int k,
              std::int64_t fileSize, survey::DiskSurvey* edited, bool (*judge)(void* context),
              void* context);

// Plans and writes an add, rm, mkdir or rmdir on the FAT12 disk surveyed
// in before and read by fileSystems, the container locked and open in
// original.  False, nothing changed, with the message when refused.
bool EditFat(diskimage::DiskImage& original, diskimage::DiskImage& check,
             const EditRequest& request, const survey::DiskSurvey& before,
             const survey::FileSystems& fileSystems, Outcome* outcome);

// Writes the container with plan's changes to request.output, or over
// request.container; check reads the copy back.  False, nothing changed,
// with the message set when any step fails.
bool WriteChanged(diskimage::DiskImage& original, diskimage::DiskImage& check,
                  const EditRequest& request, const Plan& plan, Outcome* outcome);

}  // namespace edit

#endif
