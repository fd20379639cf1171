// Carrying out a plan: the streamed copy with its patches, the check of
// the copy by the extraction tool's own load, and the atomic replace.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "edit/CopyWriter.h"
#include "edit/Plan.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace edit {

namespace {

// A disk of the copy, and a disk of the original other than the edited one.
survey::DiskSurvey after;
survey::DiskSurvey other;

// Bytes to change in the copy: a sector's data area.
struct Patch {
  std::int64_t position;      // file position of the first byte
  int length;                 // bytes
  const std::uint8_t* bytes;  // what they become
  const std::uint8_t* was;    // a directory sector's bytes as surveyed; null for data
};
Patch patches[survey::kSlots];
int patchCount;

std::uint8_t buffer[1 << 16];  // the stream's window on the container

// The copy's path beside its target.
char tempPath[kPathBytes];

// The stream's directory bytes differ from those surveyed.
bool sourceDiffers;

// Collects the data areas of the directory's sectors and the written
// ones, in file order.
void CollectPatches(const Plan& plan) {
  const tool::MediaGeometry& g = *plan.before->image.medium;
  const int firstDirectory = g.directorySector - 1;
  const int lastDirectory = firstDirectory + g.directoryBytes / g.sectorBytes;
  patchCount = 0;
  for (int p = 0; p < plan.before->slots; ++p) {
    const bool directory = p >= firstDirectory && p < lastDirectory;
    if (!directory && !plan.written[p]) continue;
    const std::uint8_t* bytes = directory
                                    ? plan.directory + (p - firstDirectory) * g.sectorBytes
                                    : plan.data + static_cast<std::int64_t>(p) * g.sectorBytes;
    const std::uint8_t* was =
        directory ? plan.before->directory + (p - firstDirectory) * g.sectorBytes : nullptr;
    patches[patchCount++] = Patch{plan.dataPosition[p], g.sectorBytes, bytes, was};
  }
  std::sort(patches, patches + patchCount,
            [](const Patch& a, const Patch& b) { return a.position < b.position; });
}

// Lays the patches over the length bytes of chunk, which start at file
// position at, noting a directory byte that is not as surveyed.
void ApplyPatches(std::int64_t at, std::uint8_t* chunk, std::int64_t length) {
  for (int i = 0; i < patchCount; ++i) {
    const Patch& patch = patches[i];
    const std::int64_t from = std::max(at, patch.position);
    const std::int64_t to = std::min(at + length, patch.position + patch.length);
    if (from >= to) continue;
    if (patch.was != nullptr &&
        std::memcmp(chunk + (from - at), patch.was + (from - patch.position),
                    static_cast<std::size_t>(to - from)) != 0)
      sourceDiffers = true;
    std::memcpy(chunk + (from - at), patch.bytes + (from - patch.position),
                static_cast<std::size_t>(to - from));
  }
}

}  // namespace

#if defined(_WIN32)
int OpenExclusive(const char* path, int mode, bool) {
  return _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, mode & (_S_IREAD | _S_IWRITE));
}
bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t length) {
  return _write(fd, bytes, static_cast<unsigned>(length)) == static_cast<int>(length);
}
bool Flush(int fd) { return _commit(fd) == 0; }
bool CloseFile(int fd) { return _close(fd) == 0; }

// Moves from over to, flushed to the disk.
bool Replace(const char* from, const char* to) {
  wchar_t wideFrom[kPathBytes], wideTo[kPathBytes];
  if (MultiByteToWideChar(CP_ACP, 0, from, -1, wideFrom, kPathBytes) == 0 ||
      MultiByteToWideChar(CP_ACP, 0, to, -1, wideTo, kPathBytes) == 0)
    return false;
  if (MoveFileExW(wideFrom, wideTo, MOVEFILE_WRITE_THROUGH | MOVEFILE_REPLACE_EXISTING))
    return true;
  errno = EACCES;
  return false;
}

// True when path is a link of some kind, which the replace would cut.
bool IsLink(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

int DuplicateLock(int) { return -1; }
void TakeOwnerAndMode(int, const struct stat&, bool) {}
#else
int OpenExclusive(const char* path, int mode, bool) {
  return open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0777);
}
bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t length) {
  while (length > 0) {
    const ssize_t written = write(fd, bytes, length);
    if (written <= 0) {
      if (written < 0 && errno == EINTR) continue;
      if (written == 0) errno = EIO;
      return false;
    }
    bytes += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}
bool Flush(int fd) { return fsync(fd) == 0; }
bool CloseFile(int fd) { return close(fd) == 0; }
bool Replace(const char* from, const char* to) { return rename(from, to) == 0; }

// A second descriptor of fd's open file, which keeps its lock after fd
// is closed; -1 when none.
int DuplicateLock(int fd) { return fcntl(fd, F_DUPFD_CLOEXEC, 0); }

// The copy takes the container's owner where this editor may set it
// (before the mode: a change of owner clears the set-ID bits); a set-ID
// bit whose owner or group the copy does not have is dropped.
void TakeOwnerAndMode(int fd, const struct stat& original, bool sameOwner) {
  mode_t mode = original.st_mode & 07777;
  if (sameOwner && fchown(fd, original.st_uid, original.st_gid) != 0)
    fchown(fd, static_cast<uid_t>(-1), original.st_gid);
  struct stat copy;
  const bool known = fstat(fd, &copy) == 0;
  if (!known || copy.st_uid != original.st_uid) mode &= ~static_cast<mode_t>(S_ISUID);
  if (!known || copy.st_gid != original.st_gid) mode &= ~static_cast<mode_t>(S_ISGID);
  fchmod(fd, mode);
}

bool IsLink(const char* path) {
  struct stat status;
  return lstat(path, &status) == 0 && S_ISLNK(status.st_mode);
}
#endif

// Flushes the directory that holds path, so that a rename into it
// outlasts a crash; Windows moves with write-through instead.  False with
// errno when it fails.
bool FlushDirectoryOf([[maybe_unused]] const char* path) {
#if !defined(_WIN32)
  char directory[kPathBytes];
  std::snprintf(directory, sizeof directory, "%s", path);
  char* slash = std::strrchr(directory, '/');
  if (slash == nullptr) {
    std::snprintf(directory, sizeof directory, ".");
  } else {
    slash[slash == directory ? 1 : 0] = '\0';
  }
  const int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  // Some file systems cannot flush a directory, and need not.
  const bool flushed = fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
  const int error = errno;
  close(fd);
  errno = error;
  return flushed;
#else
  return true;
#endif
}

// A file-size limit then fails a write instead of ending the process with
// a partial file left behind.
void IgnoreFileSizeSignal() {
#if !defined(_WIN32)
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}

// The temporary file's lock, held until it is published or removed.
int tempLock = -1;

void ReleaseTemp() {
#if !defined(_WIN32)
  if (tempLock >= 0) close(tempLock);
#endif
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
    const int fd = OpenExclusive(tempPath, mode, true);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd >= 0 && LockTemp(fd)) tempLock = DuplicateLock(fd);
    return fd;
  }
  return -1;
}

// Removes the temporary file after a failure.
void DropTemp() {
  std::remove(tempPath);
  ReleaseTemp();
}

namespace {

// Streams the container from source into fd with the patches laid over
// it.  Returns the bytes copied, -1 when a read or write failed.
std::int64_t StreamCopy(std::FILE* source, int fd) {
  std::int64_t at = 0;
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, source);
    if (got == 0) return std::ferror(source) ? -1 : at;
    ApplyPatches(at, buffer, static_cast<std::int64_t>(got));
    if (!WriteAll(fd, buffer, got)) return -1;
    at += static_cast<std::int64_t>(got);
  }
}

// True when two surveys of a disk show the same directory, bytes and states.
bool SameDisk(const survey::DiskSurvey& a, const survey::DiskSurvey& b) {
  return a.image.medium == b.image.medium && a.slots == b.slots && a.fileCount == b.fileCount &&
         a.strayRecords == b.strayRecords && a.directoryDamage.count == b.directoryDamage.count &&
         std::memcmp(a.directory, b.directory, sizeof a.directory) == 0 &&
         std::memcmp(a.data, b.data, sizeof a.data) == 0 &&
         std::equal(a.sectors, a.sectors + a.slots, b.sectors);
}

// True when the edited disk of the copy (in after) reads as planned: the
// planned directory, the written sectors intact with their new bytes,
// every other sector's bytes and state as they were.
bool ReadsAsPlanned(const Plan& plan) {
  const survey::DiskSurvey& was = *plan.before;
  if (after.image.medium != was.image.medium || after.slots != was.slots ||
      after.directoryDamage.count != 0 || after.strayRecords != was.strayRecords)
    return false;
  const tool::MediaGeometry& g = *was.image.medium;
  if (std::memcmp(after.directory, plan.directory, static_cast<std::size_t>(g.directoryBytes)) != 0)
    return false;
  const int firstDirectory = g.directorySector - 1;
  for (int p = 0; p < was.slots; ++p) {
    const std::int64_t at = static_cast<std::int64_t>(p) * g.sectorBytes;
    const bool directory =
        p >= firstDirectory && p < firstDirectory + g.directoryBytes / g.sectorBytes;
    const std::uint8_t* expected = directory ? plan.directory + (p - firstDirectory) * g.sectorBytes
                                             : (plan.written[p] ? plan.data : was.data) + at;
    const survey::SectorState state =
        plan.written[p] ? survey::SectorState::kIntact : was.sectors[p];
    if (after.sectors[p] != state ||
        std::memcmp(after.data + at, expected, static_cast<std::size_t>(g.sectorBytes)) != 0)
      return false;
  }
  return true;
}

// Reads the copy back with check and compares every disk with the
// original's, the edited one with the plan.
bool Verify(diskimage::DiskImage& original, diskimage::DiskImage& check, const char* path, int k,
            const Plan& plan) {
  if (!check.Open(path)) return false;
  const int images = survey::CountImages(original);
  bool same = check.GetFileSize() == plan.fileSize && survey::CountImages(check) == images;
  for (int j = 0; same && j < images; ++j) {
    same = survey::SurveyDisk(check, j, &after);
    if (j == k) {
      same = same && ReadsAsPlanned(plan);
    } else {
      same = same && survey::SurveyDisk(original, j, &other) && SameDisk(other, after);
    }
  }
  // What failed to read was compared as nothing.
  same = same && check.GetReadError() == 0 && original.GetReadError() == 0;
  check.Open(nullptr);
  return same;
}

}  // namespace

// Returns EEXIST when path names anything (a dangling link too), ENOENT
// when it names nothing, or why that cannot be told.
int LookAt(const char* path) {
  struct stat status;
#if defined(_WIN32)
  return stat(path, &status) == 0 ? EEXIST : errno;
#else
  return lstat(path, &status) == 0 ? EEXIST : errno;
#endif
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
  const Published published = PublishNew(tempPath, target);
  if (published == Published::kDone) return true;
  const int error = errno;
  if (published == Published::kTwoNames) {
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

namespace {

// The edit being written, for the copy's producer.
struct PatchedCopy {
  diskimage::DiskImage* original;
  diskimage::DiskImage* check;
  int image;
  const Plan* plan;
};

const char* WritePatched(void* context, std::FILE* source, int fd) {
  const Plan& plan = *static_cast<PatchedCopy*>(context)->plan;
  sourceDiffers = false;
  const std::int64_t copied = StreamCopy(source, fd);
  if (copied < 0) return std::strerror(errno);
  if (copied != plan.fileSize) return "the container changed size during the run";
  if (sourceDiffers) return "the container changed during the run";
  return nullptr;
}

const char* CheckPatched(void* context, const char* path) {
  const PatchedCopy& copy = *static_cast<PatchedCopy*>(context);
  if (!Verify(*copy.original, *copy.check, path, copy.image, *copy.plan))
    return "the copy does not read back as planned";
  return nullptr;
}

}  // namespace

bool WriteChanged(diskimage::DiskImage& original, diskimage::DiskImage& check,
                  const EditRequest& request, const Plan& plan, Outcome* outcome) {
  CollectPatches(plan);
  PatchedCopy copy{&original, &check, request.image, &plan};
  return WriteProducedCopy(original, request.container, request.output,
                           CopyProducer{WritePatched, CheckPatched, &copy}, outcome);
}

bool MakeBlankDisk(const char* path, const tool::MediaGeometry& medium, const char* name,
                   Outcome* outcome) {
  outcome->surveyed = false;
  outcome->changed = false;
  outcome->message[0] = '\0';
  outcome->leftover[0] = '\0';
  std::uint8_t header[diskimage::kImageHeaderSize] = {};
  char converted[diskimage::kNameSize + 1] = {};
  const Conversion conversion =
      name != nullptr ? ToShiftJis(name, converted, sizeof converted) : Conversion::kDone;
  if (conversion == Conversion::kNoConverter)
    return Fail(outcome, "cannot convert names to Shift_JIS: the system has no converter");
  if (conversion == Conversion::kNoForm)
    return Fail(outcome, "the disk name \"%s\" has no Shift_JIS form of at most 16 bytes",
                Shown(name));
  std::memcpy(header + diskimage::kNameOffset, converted, std::strlen(converted));
  header[diskimage::kMediaTypeOffset] = static_cast<std::uint8_t>(medium.mediaType);
  const int recordBytes = diskimage::kSectorHeaderSize + medium.sectorBytes;
  const int trackBytes = medium.sectorsPerTrack * recordBytes;
  const std::uint32_t size =
      static_cast<std::uint32_t>(diskimage::kImageHeaderSize + medium.tracks * trackBytes);
  for (int b = 0; b < 4; ++b)
    header[diskimage::kImageSizeOffset + b] = static_cast<std::uint8_t>(size >> (8 * b));
  for (int t = 0; t < medium.tracks; ++t) {
    const std::uint32_t offset =
        static_cast<std::uint32_t>(diskimage::kImageHeaderSize + t * trackBytes);
    for (int b = 0; b < 4; ++b)
      header[diskimage::kTrackTableOffset + diskimage::kTrackEntrySize * t + b] =
          static_cast<std::uint8_t>(offset >> (8 * b));
  }
  // The blank disk is written beside path and moved there when whole, so
  // that a stopped run leaves no disk cut short under that name.
  const int existing = LookAt(path);
  if (existing != ENOENT)
    return Fail(outcome, "cannot make %s: %s", Shown(path), std::strerror(existing));
  IgnoreFileSizeSignal();
  const int fd = CreateTemp(path, 0666);
  if (fd < 0) return Fail(outcome, "cannot make %s: %s", Shown(path), std::strerror(errno));
  bool written = WriteAll(fd, header, sizeof header);
  std::memset(buffer, 0, static_cast<std::size_t>(trackBytes));
  for (int t = 0; written && t < medium.tracks; ++t) {
    for (int r = 1; r <= medium.sectorsPerTrack; ++r) {
      std::uint8_t* record = buffer + (r - 1) * recordBytes;
      record[diskimage::kIdCylinderOffset] = static_cast<std::uint8_t>(t >> 1);
      record[diskimage::kIdHeadOffset] = static_cast<std::uint8_t>(t & 1);
      record[diskimage::kIdSectorOffset] = static_cast<std::uint8_t>(r);
      record[diskimage::kIdSizeCodeOffset] = static_cast<std::uint8_t>(medium.sizeCode);
      record[diskimage::kSectorCountOffset] = static_cast<std::uint8_t>(medium.sectorsPerTrack);
      record[diskimage::kDataLengthOffset] = static_cast<std::uint8_t>(medium.sectorBytes);
      record[diskimage::kDataLengthOffset + 1] = static_cast<std::uint8_t>(medium.sectorBytes >> 8);
    }
    written = WriteAll(fd, buffer, static_cast<std::size_t>(trackBytes));
  }
  int error = written ? 0 : errno;
  if (written && !Flush(fd)) error = errno;
  if (!CloseFile(fd) && error == 0) error = errno;
  if (error != 0) {
    DropTemp();
    return Fail(outcome, "cannot write %s: %s", Shown(path), std::strerror(error));
  }
  if (!PublishTemp(path, outcome, "make")) return false;
  outcome->changed = true;
  ReleaseTemp();
  return !FlushFailed(path, outcome);
}

}  // namespace edit
