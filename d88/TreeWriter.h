// Writing a file system's folders and files below the working directory,
// as unzip does: each name checked per path component, no symbolic link or
// reparse point followed, every write checked, and each file's and folder's
// modification time taken from its entry.
#ifndef D88EXTRACT_D88_TREEWRITER_H
#define D88EXTRACT_D88_TREEWRITER_H

#include "filesystem/FileSystem.h"
#include "output/Sink.h"

namespace d88 {

enum class TreeOutcome {
  kWritten,  // the file has every byte, and its time
  kRefused,  // a component of its path is not a name this system writes, or a
             // link (or anything but a folder) stands where a folder goes
  kFailed,   // the system refused a step; error says why
};

struct TreeEvent {
  int entry;         // index in the file system
  const char* path;  // its UTF-8 path, folders joined by '/'
  TreeOutcome outcome;
  int error;  // errno for kFailed; for kRefused, 0 for a name and ELOOP for
              // a link, a special file or a file where a folder goes
};

// What a program does with each file written, refused or failed (and each
// folder refused or failed): report(context, event).
struct TreeReport {
  void (*report)(void* context, const TreeEvent& event);
  void* context;
};

struct TreeResult {
  int written = 0;     // files written whole
  int notWritten = 0;  // files and folders refused or failed
  int firstError = 0;  // errno of the first failure, 0 when none failed
};

// Writes every folder and file of fs (read and listed) below the working
// directory, their names decoded (UTF-8 on POSIX, wide on Windows).  A
// file's bytes are what fs.ReadFile gives, through a fixed buffer.  Times
// are the entries' DOS dates and times taken as local time, set on
// folders after their contents are written.  Refused and failed files are
// reported and the rest go on.  With chosen, only the entries it marks
// are written (with the folders above them).
TreeResult WriteTree(const filesystem::FileSystem& fs, const TreeReport& report,
                     const bool* chosen = nullptr);

// A TreeReport::report for an output::Sink (the context): one line for
// each file or folder not written, its path escaped, nothing otherwise.
void PrintNotWritten(void* sink, const TreeEvent& event);

}  // namespace d88

#endif
