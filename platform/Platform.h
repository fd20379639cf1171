// What the programs ask of the operating system: their arguments, files,
// folders and the console.  Paths and arguments are UTF-8 inside the
// programs on Windows (the system's own bytes elsewhere); a path becomes
// wide only at the system call, so no character is lost on the way.
#ifndef D88EXTRACT_PLATFORM_PLATFORM_H
#define D88EXTRACT_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

namespace platform {

#if defined(_WIN32)
// The most UTF-16 characters of a path the programs hand the system.
constexpr int kMaxPathChars = 4096;

// The UTF-8 text as UTF-16 in wide (count characters with the end);
// false when it is no UTF-8 or does not fit.
bool Widen(const char* text, wchar_t* wide, int count);
#endif

// The program's arguments, as main hands them down.
struct Arguments {
  int count;
  const char* const* values;  // values[0 .. count), then null
};

// The arguments of main: argv itself on POSIX; on Windows the wide command
// line converted to UTF-8 once, into fixed storage (argv when it does not
// fit, which no command line Windows takes does).
Arguments TakeArguments(int argc, char** argv);

// Opens path for binary reading; returns a descriptor, or -1 with errno.
int OpenForReading(const char* path);
// Creates path, which must not exist, for binary writing with the
// permission bits of mode (read-only on Windows without the write bit);
// returns a descriptor, or -1 with errno.
int CreateExclusive(const char* path, int mode);
// Closes a descriptor of the calls above; false with errno.
bool Close(int fd);
// fopen of path.
std::FILE* OpenStream(const char* path, const char* mode);
// Moves stream to the 64-bit position; false with errno.
bool SeekStream(std::FILE* stream, std::int64_t position);
// The size of the file open as stream; -1 when it cannot be told.
std::int64_t StreamSize(std::FILE* stream);
// True when stream reads a plain file: its size and modification time
// into size and modified.
bool PlainFileFacts(std::FILE* stream, std::int64_t* size, std::time_t* modified);

// What became of text converted to Shift_JIS.
enum class Converted {
  kDone,         // converted (or taken as it stands: not text of the locale)
  kNoForm,       // a character has no Shift_JIS form, or the result does not fit
  kNoConverter,  // the system has no converter between the two
};
// Converts text from the locale's encoding (Windows: UTF-8) into Shift_JIS
// (code page 932) at out (outSize bytes with the terminator), refusing a
// look-alike for a character without a form.  Text that is no text of
// the locale is taken as Shift_JIS bytes as they stand (a name written by
// the extraction tool as it was on the disk).
Converted ToShiftJis(const char* text, char* out, int outSize);

// What a path names, following links.
enum class Kind { kNothing, kFile, kFolder, kOther };
Kind KindOf(const char* path);

// Renames from to to, replacing it; false with errno.
bool Rename(const char* from, const char* to);
// Removes the file path; false with errno.
bool Remove(const char* path);
// Makes the one folder path; false with errno (EEXIST when something is
// there).
bool MakeFolder(const char* path);
// Makes path the working folder; false with errno.
bool EnterFolder(const char* path);

// One entry of a folder.  A link (a reparse point on Windows) is kOther,
// whatever it points at.
struct FolderEntry {
  const char* name;
  Kind kind;
};

// Calls visit for every entry of folder but "." and "..", in the system's
// order.  Returns 0, or the errno when the folder cannot be read.
int ListFolder(const char* folder, void (*visit)(void* context, const FolderEntry& entry),
               void* context);

// Checked writes of a new file, and what publishes it safely.  Each false
// with errno unless it says otherwise.

// Writes all length bytes to fd, again after an interruption (EIO when the
// system takes none).
bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t length);
// Flushes fd's file to the disk.
bool Flush(int fd);
// Flushes the entries of folder, so that a rename into it outlasts a
// crash; true where that takes nothing (Windows moves write through) or
// the file system cannot flush a folder.
bool FlushFolder(const char* folder);
// A file-size limit then fails a write instead of ending the process.
void IgnoreFileSizeSignal();
// Returns EEXIST when path names anything (a dangling link too), ENOENT
// when it names nothing, or why that cannot be told.
int LookAt(const char* path);
// True when path is a link of some kind (a reparse point on Windows).
bool IsLink(const char* path);
// The longest name folder takes; 255 when the system cannot tell.
long NameLimit(const char* folder);
// This process's ID.
int ProcessId();

// Which file a path or descriptor reaches, and its size and time: a file
// replaced, or changed in place, is another.
struct FileIdentity {
  unsigned long long device, inode;  // the volume and the file on it
  long long size;
  long long modifiedSeconds, modifiedNanoseconds;  // Windows: the time's high and low words
  Kind kind;                                       // Windows: kFolder or kFile
  int links;                                       // how many names it has
  int mode;                                        // permission bits; Windows: read, write
  unsigned owner, group;                           // Windows: 0
};
// True when a and b are the same file, unchanged.
bool SameFile(const FileIdentity& a, const FileIdentity& b);
bool IdentityOfDescriptor(int fd, FileIdentity* identity);
bool IdentityOfPath(const char* path, FileIdentity* identity);
// Gives the file at fd original's owner, where this process may (when
// sameOwner), then its mode, less a set-ID bit whose owner it lacks.
void TakeOwnerAndMode(int fd, const FileIdentity& original, bool sameOwner);

// Opens path for reading to lock it: without waiting (a FIFO waits for no
// writer), a folder too; a descriptor, or -1 with errno.
int OpenToLock(const char* path);
// Locks fd's file for this process alone, without waiting; false with
// errno, EWOULDBLOCK when another holds it.
bool LockWithoutWaiting(int fd);
// A second descriptor of fd's open file, which keeps its lock after fd is
// closed; -1 when none.
int DuplicateLock(int fd);

#if defined(_WIN32)
// Windows renames over no file still open, and a lock there ends with the
// descriptor that took it.
constexpr bool kOpenFilesReplaceable = false;
constexpr bool kLocksOutliveDescriptor = false;
#else
constexpr bool kOpenFilesReplaceable = true;
constexpr bool kLocksOutliveDescriptor = true;
#endif

// What became of publishing a file under a new name.
enum class Published {
  kDone,      // the file is under its new name only
  kFailed,    // it is not; errno says why
  kTwoNames,  // it is under both names, and the old one could not go
};
// Moves from to to, never replacing a file there, even one made meanwhile.
Published PublishNew(const char* from, const char* to);

// What became of a step below a Folder.
enum class Reached {
  kDone,
  kNoName,  // the name does not fit the path (Windows)
  kLink,    // a link, or anything but what the step wants, stands there
  kFailed,  // errno says why
};

// A file made by Folder::CreateChildFile, open for writing; closed on
// destruction unless Close was called.
class NewFile {
 public:
  NewFile() = default;
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  ~NewFile();
  // Writes all length bytes; false with errno.
  bool Write(const std::uint8_t* bytes, std::size_t length);
  // Sets the file's modified (and accessed) time to local, a local time;
  // true, and nothing set, when local names no moment.  False with errno.
  bool SetTime(const std::tm& local);
  // False with errno.
  bool Close();

 private:
  friend class Folder;
#if defined(_WIN32)
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// A folder below the working one, reached one name at a time and never
// through a link: each step is taken from the folder held open before it
// (on Windows, every folder on the way is held, so none can be renamed
// away and replaced by a link meanwhile).
class Folder {
 public:
  Folder() = default;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  ~Folder();
  // Starts at the working folder; false with errno.
  bool Start();
  // Steps into the folder name, made first when make and missing.
  Reached Enter(const char* name, bool make);
  // Sets this folder's time as NewFile::SetTime does.
  bool SetTime(const std::tm& local);
  // Creates the file name here, or truncates the plain file there, for
  // writing into file; anything else there is kLink, a FIFO not waited on.
  Reached CreateChildFile(const char* name, NewFile* file);

 private:
#if defined(_WIN32)
  bool Append(const char* name);

  wchar_t path_[kMaxPathChars] = {};  // relative to the working folder
  std::size_t length_ = 0;
  void* held_[64] = {};  // deeper than any path the programs write
  int heldCount_ = 0;
#else
  int fd_ = -1;
#endif
};

// True when stream is a terminal (a console on Windows).
bool IsTerminal(std::FILE* stream);

// Writes into shown (size bytes, ended) the path as a report to stream
// shows it: on Windows, in the console's code page when stream is a
// console and utf8 is false, a character it lacks as '?'; else the path's
// own bytes.
void ShownPath(const char* path, std::FILE* stream, bool utf8, char* shown, std::size_t size);

}  // namespace platform

#endif
