// What the programs ask of the operating system: their arguments, files,
// folders and the console.  Paths and arguments are UTF-8 inside the
// programs on Windows (the system's own bytes elsewhere); a path becomes
// wide only at the system call, so no character is lost on the way.
#ifndef D88EXTRACT_PLATFORM_PLATFORM_H
#define D88EXTRACT_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace platform {

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

// True when stream is a terminal (a console on Windows).
bool IsTerminal(std::FILE* stream);

// Writes into shown (size bytes, ended) the path as a report to stream
// shows it: on Windows, in the console's code page when stream is a
// console and utf8 is false, a character it lacks as '?'; else the path's
// own bytes.
void ShownPath(const char* path, std::FILE* stream, bool utf8, char* shown, std::size_t size);

#if defined(_WIN32)
// The most UTF-16 characters of a path the programs hand the system.
constexpr int kMaxPathChars = 4096;

// The UTF-8 text as UTF-16 in wide (count characters with the end);
// false when it is no UTF-8 or does not fit.
bool Widen(const char* text, wchar_t* wide, int count);
#endif

}  // namespace platform

#endif
