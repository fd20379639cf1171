#include "d88/TreeWriter.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "tool/Extraction.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace d88 {

namespace {

using filesystem::Entry;
using filesystem::EntryKind;
using filesystem::FileSystem;

// Bytes a file is copied through; the largest file of a floppy disk takes
// some hundred rounds.
constexpr std::size_t kCopyBytes = 16384;

struct Step {
  TreeOutcome outcome = TreeOutcome::kWritten;
  int error = 0;
};

Step Refused(int error) { return {TreeOutcome::kRefused, error}; }
Step Failed(int error) { return {TreeOutcome::kFailed, error != 0 ? error : EIO}; }

// Fills tm with the DOS date and time; false when they name no moment
// (month 0, day 0, hour 24 and the like), and the time is then left alone.
bool DosFields(const Entry& entry, std::tm* tm) {
  *tm = std::tm{};
  tm->tm_year = 80 + (entry.dosDate >> 9);
  tm->tm_mon = ((entry.dosDate >> 5) & 15) - 1;
  tm->tm_mday = entry.dosDate & 31;
  tm->tm_hour = entry.dosTime >> 11;
  tm->tm_min = (entry.dosTime >> 5) & 63;
  tm->tm_sec = (entry.dosTime & 31) * 2;
  tm->tm_isdst = -1;
  return entry.hasTime && tm->tm_mon >= 0 && tm->tm_mon < 12 && tm->tm_mday > 0 &&
         tm->tm_hour < 24 && tm->tm_min < 60 && tm->tm_sec < 60;
}

#if defined(_WIN32)
// The system's reason for a failed call, as errno names it.
int Reason() {
  const DWORD error = GetLastError();
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? EACCES
         : error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND ? ENOENT
         : error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL    ? ENOSPC
         : error == ERROR_FILENAME_EXCED_RANGE                            ? ENAMETOOLONG
                                                                          : EIO;
}

// The folder reached so far: its relative wide path, and a handle on it and
// on each folder above, opened without FILE_SHARE_DELETE so that none can
// be renamed away and replaced by a link while files go below it.
struct Place {
  wchar_t path[filesystem::kMaxPathBytes + 2] = {};
  std::size_t length = 0;
  HANDLE held[filesystem::kMaxDepth + 1] = {};
  int heldCount = 0;

  ~Place() {
    while (heldCount > 0) CloseHandle(held[--heldCount]);
  }
};

// Appends name, decoded from UTF-8, to place's path; false when it does not
// decode, does not fit or is no plain Windows name.
bool AppendName(Place& place, const char* name) {
  std::size_t at = place.length;
  if (at > 0) {
    if (at + 1 >= sizeof place.path / sizeof place.path[0]) return false;
    place.path[at++] = L'\\';
  }
  const int room = static_cast<int>(sizeof place.path / sizeof place.path[0] - at);
  const int made =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, place.path + at, room);
  if (made <= 0 || !tool::IsPlainWindowsName(place.path + at)) {
    place.path[place.length] = L'\0';
    return false;
  }
  place.length = at + static_cast<std::size_t>(made - 1);
  return true;
}

bool IsWritableComponent(const char* name) {
  Place scratch;
  return AppendName(scratch, name);
}

Step Begin(Place&) { return {}; }

// Makes the folder name below place unless one is there, and enters it.
Step Enter(Place& place, const char* name, bool make) {
  if (!AppendName(place, name)) return Refused(0);
  if (make && CreateDirectoryW(place.path, nullptr) == 0 &&
      GetLastError() != ERROR_ALREADY_EXISTS) {
    return Failed(Reason());
  }
  const HANDLE handle = CreateFileW(
      place.path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return Failed(Reason());
  place.held[place.heldCount++] = handle;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(handle, &info) == 0) return Failed(Reason());
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return Refused(ELOOP);
  }
  return {};
}

// The entry's time as the system keeps it; false when it has none.
bool EntryTime(const Entry& entry, FILETIME* out) {
  std::tm fields;
  if (!DosFields(entry, &fields)) return false;
  FILETIME local;
  SYSTEMTIME localParts, utcParts;
  // Through the time zone's rules for that date, not today's offset.
  return DosDateTimeToFileTime(entry.dosDate, entry.dosTime, &local) != 0 &&
         FileTimeToSystemTime(&local, &localParts) != 0 &&
         TzSpecificLocalTimeToSystemTime(nullptr, &localParts, &utcParts) != 0 &&
         SystemTimeToFileTime(&utcParts, out) != 0;
}

Step SetTime(HANDLE handle, const Entry& entry) {
  FILETIME time;
  if (!EntryTime(entry, &time)) return {};
  return SetFileTime(handle, nullptr, &time, &time) != 0 ? Step{} : Failed(Reason());
}

Step SetFolderTime(Place& place, const Entry& entry) {
  return SetTime(place.held[place.heldCount - 1], entry);
}

Step WriteFileIn(Place& place, const char* name, const FileSystem& fs, int index,
                 std::uint8_t* buffer) {
  if (!AppendName(place, name)) return Refused(0);
  // Opened without following a reparse point, and truncated only once it
  // is known to be a plain file.
  const HANDLE handle =
      CreateFileW(place.path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return Failed(Reason());
  BY_HANDLE_FILE_INFORMATION info;
  Step step;
  if (GetFileInformationByHandle(handle, &info) == 0) {
    step = Failed(Reason());
  } else if ((info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) !=
             0) {
    step = Refused(ELOOP);
  } else if (SetEndOfFile(handle) == 0) {
    step = Failed(Reason());
  }
  const Entry& entry = fs.EntryAt(index);
  for (std::uint64_t offset = 0; step.outcome == TreeOutcome::kWritten && offset < entry.size;) {
    const std::size_t wanted = entry.size - offset < kCopyBytes
                                   ? static_cast<std::size_t>(entry.size - offset)
                                   : kCopyBytes;
    const std::size_t got = fs.ReadFile(index, offset, buffer, wanted);
    if (got == 0) break;
    DWORD done = 0;
    if (WriteFile(handle, buffer, static_cast<DWORD>(got), &done, nullptr) == 0 || done != got) {
      step = Failed(Reason());
    }
    offset += got;
  }
  if (step.outcome == TreeOutcome::kWritten) step = SetTime(handle, entry);
  if (CloseHandle(handle) == 0 && step.outcome == TreeOutcome::kWritten) step = Failed(Reason());
  return step;
}
#else
// The folder reached so far, open; each step below is taken from it, so
// that no path is looked up twice and no link is followed.
struct Place {
  int fd = -1;

  ~Place() {
    if (fd != -1) close(fd);
  }
};

bool IsWritableComponent(const char* name) { return tool::IsWritableName(name); }

Step Begin(Place& place) {
  place.fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return place.fd != -1 ? Step{} : Failed(errno);
}

// A link, or anything but a folder, where a folder goes is refused.
Step Enter(Place& place, const char* name, bool make) {
  if (make && mkdirat(place.fd, name, 0777) != 0 && errno != EEXIST) return Failed(errno);
  const int next = openat(place.fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (next == -1) return errno == ELOOP || errno == ENOTDIR ? Refused(ELOOP) : Failed(errno);
  close(place.fd);
  place.fd = next;
  return {};
}

Step SetTime(int fd, const Entry& entry) {
  std::tm fields;
  if (!DosFields(entry, &fields)) return {};
  const std::time_t time = std::mktime(&fields);
  if (time == static_cast<std::time_t>(-1)) return {};
  const struct timespec times[2] = {{time, 0}, {time, 0}};
  return futimens(fd, times) == 0 ? Step{} : Failed(errno);
}

Step SetFolderTime(Place& place, const Entry& entry) { return SetTime(place.fd, entry); }

bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t length) {
  while (length > 0) {
    const ssize_t done = write(fd, bytes, length);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      if (done == 0) errno = EIO;
      return false;
    }
    bytes += done;
    length -= static_cast<std::size_t>(done);
  }
  return true;
}

Step WriteFileIn(Place& place, const char* name, const FileSystem& fs, int index,
                 std::uint8_t* buffer) {
  // O_NOFOLLOW refuses a link in the same step as the open; O_NONBLOCK keeps
  // a FIFO standing there from holding the run, and fstat refuses it.
  const int fd = openat(place.fd, name,
                        O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd == -1) return errno == ELOOP ? Refused(errno) : Failed(errno);
  struct stat status;
  Step step;
  if (fstat(fd, &status) != 0) {
    step = Failed(errno);
  } else if (!S_ISREG(status.st_mode)) {
    step = Refused(ELOOP);
  }
  const Entry& entry = fs.EntryAt(index);
  for (std::uint64_t offset = 0; step.outcome == TreeOutcome::kWritten && offset < entry.size;) {
    const std::uint64_t left = entry.size - offset;
    const std::size_t wanted = left < kCopyBytes ? static_cast<std::size_t>(left) : kCopyBytes;
    const std::size_t got = fs.ReadFile(index, offset, buffer, wanted);
    if (got == 0) break;
    if (!WriteAll(fd, buffer, got)) step = Failed(errno);
    offset += got;
  }
  if (step.outcome == TreeOutcome::kWritten) step = SetTime(fd, entry);
  if (close(fd) != 0 && step.outcome == TreeOutcome::kWritten) step = Failed(errno);
  return step;
}
#endif

// Writes into chain the entries from the root down to index; returns how
// many, or 0 when the links are broken or deeper than any path.
int Chain(const FileSystem& fs, int index, int* chain) {
  int count = 0;
  for (int at = index; at != filesystem::kInRoot; at = fs.EntryAt(at).parent) {
    if (at < 0 || at >= fs.EntryCount() || count > filesystem::kMaxDepth) return 0;
    if (at != index && fs.EntryAt(at).kind != EntryKind::kFolder) return 0;
    chain[count++] = at;
  }
  for (int i = 0; i < count / 2; ++i) {
    const int kept = chain[i];
    chain[i] = chain[count - 1 - i];
    chain[count - 1 - i] = kept;
  }
  return count;
}

// Enters the folders of chain (its last entry too when it is a folder),
// making the missing ones when make.
Step EnterChain(const FileSystem& fs, const int* chain, int count, bool make, Place& place) {
  Step step = Begin(place);
  const int folders = fs.EntryAt(chain[count - 1]).kind == EntryKind::kFolder ? count : count - 1;
  for (int i = 0; i < folders && step.outcome == TreeOutcome::kWritten; ++i) {
    step = Enter(place, fs.EntryAt(chain[i]).nameText, make);
  }
  return step;
}

Step WriteEntry(const FileSystem& fs, int index, std::uint8_t* buffer) {
  int chain[filesystem::kMaxDepth + 1];
  const int count = Chain(fs, index, chain);
  if (count == 0) return Refused(0);
  // Every name is checked before anything is made.
  for (int i = 0; i < count; ++i) {
    const char* name = fs.EntryAt(chain[i]).nameText;
    if (name == nullptr || !IsWritableComponent(name)) return Refused(0);
  }
  Place place;
  const Step step = EnterChain(fs, chain, count, true, place);
  if (step.outcome != TreeOutcome::kWritten || fs.EntryAt(index).kind == EntryKind::kFolder) {
    return step;
  }
  return WriteFileIn(place, fs.EntryAt(index).nameText, fs, index, buffer);
}

}  // namespace

TreeResult WriteTree(const FileSystem& fs, const TreeReport& report, const bool* chosen) {
  TreeResult result;
  std::uint8_t buffer[kCopyBytes];
  char path[filesystem::kMaxPathBytes + 1];
  bool made[filesystem::kMaxEntries] = {};
  const auto tell = [&](int index, const Step& step) {
    fs.Path(index, path, sizeof path);
    if (step.outcome != TreeOutcome::kWritten) {
      ++result.notWritten;
      if (result.firstError == 0 && step.outcome == TreeOutcome::kFailed) {
        result.firstError = step.error;
      }
    } else if (fs.EntryAt(index).kind == EntryKind::kFile) {
      ++result.written;
    } else {
      return;  // a folder made is no news
    }
    report.report(report.context, {index, path, step.outcome, step.error});
  };
  const int count =
      fs.EntryCount() < filesystem::kMaxEntries ? fs.EntryCount() : filesystem::kMaxEntries;
  for (int i = 0; i < count; ++i) {
    if (chosen != nullptr && !chosen[i]) continue;
    const Step step = WriteEntry(fs, i, buffer);
    made[i] = step.outcome == TreeOutcome::kWritten;
    tell(i, step);
  }
  // As unzip does: a folder's time is set once nothing more is written into
  // it.
  for (int i = 0; i < count; ++i) {
    if (!made[i] || fs.EntryAt(i).kind != EntryKind::kFolder) continue;
    int chain[filesystem::kMaxDepth + 1];
    const int depth = Chain(fs, i, chain);
    Place place;
    Step step = EnterChain(fs, chain, depth, false, place);
    if (step.outcome == TreeOutcome::kWritten) step = SetFolderTime(place, fs.EntryAt(i));
    if (step.outcome != TreeOutcome::kWritten) tell(i, step);
  }
  return result;
}

void PrintNotWritten(void* sink, const TreeEvent& event) {
  if (event.outcome == TreeOutcome::kWritten) return;
  output::Sink& err = *static_cast<output::Sink*>(sink);
  err.Puts("d88: cannot write \"");
  err.Escaped(event.path);
  if (event.outcome == TreeOutcome::kRefused) {
    err.Puts(event.error == 0 ? "\": not a plain file name\n"
                              : "\": a link or special file stands in its way\n");
  } else {
    err.Printf("\": %s\n", std::strerror(event.error));
  }
}

}  // namespace d88
