// Planning an edit: which sectors may take data, the new directory, and
// where each added file goes.
//
// Invariants of the plan, for the disk of the chosen image:
//   - a slot is usable only when its sector is recorded once, intact and
//     full length, its whole record lies inside this image's bytes, and
//     no record reached by any track of any image shares its bytes;
//   - slots on track 0 up to the directory's last sector never take data;
//   - a slot is in use while any entry's data range covers it;
//   - plan.directory always reads back as a directory whose end mark
//     follows its last entry.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "edit/CopyWriter.h"
#include "edit/Edit.h"
#include "edit/Plan.h"
#include "output/NameText.h"
#include "platform/Platform.h"
#include "survey/FileSystems.h"

namespace edit {

namespace {

// The disk edited, as it is; and the plan.
survey::DiskSurvey before;
// The file system before holds; made on first use, as the other verbs
// of d88 need none of it.
survey::FileSystems& BeforeFileSystems() {
  static survey::FileSystems fileSystems;
  return fileSystems;
}
Plan plan;

// A slot's data area by its file position, for finding the records that
// share its bytes.
struct Area {
  std::int64_t start;  // file position of the data
  int slot;            // the slot it holds
};
Area areas[survey::kSlots];
int areaCount;
bool usable[survey::kSlots];
bool used[survey::kSlots];

// Room for a name converted to Shift_JIS: longer ones are refused anyway.
constexpr int kConvertedBytes = 64;

int DirectorySlots(const tool::MediaGeometry& g) { return g.directoryBytes / g.sectorBytes; }

// Slots before this one hold the boot sectors and the directory.
int FirstDataSlot(const tool::MediaGeometry& g) {
  return g.directorySector - 1 + DirectorySlots(g);
}

// Whole entries inside the directory's sectors.
int Capacity(const tool::MediaGeometry& g) { return g.directoryBytes / tool::kDirectoryEntryBytes; }

bool IsDirectorySlot(int p, const tool::MediaGeometry& g) {
  return p >= g.directorySector - 1 && p < FirstDataSlot(g);
}

// Marks unusable the slots whose data area meets [from, to), except the
// one whose data starts at own.
void RuleOut(std::int64_t from, std::int64_t to, std::int64_t own, int sectorBytes) {
  const Area* first =
      std::lower_bound(areas, areas + areaCount, from - sectorBytes + 1,
                       [](const Area& area, std::int64_t value) { return area.start < value; });
  for (const Area* a = first; a < areas + areaCount && a->start < to; ++a) {
    if (a->start != own) usable[a->slot] = false;
  }
}

// Finds the usable slots of image k (of images) whose bytes are
// [imageStart, imageEnd) of the file.  Returns false when a directory
// sector shares its bytes with another record.
bool FindUsableSlots(diskimage::DiskImage& disk, int k, int images, std::int64_t imageStart,
                     std::int64_t imageEnd) {
  const tool::MediaGeometry& g = *before.image.medium;
  areaCount = 0;
  for (int p = 0; p < before.slots; ++p) {
    const std::int64_t header = before.facts[p].position;
    usable[p] = header >= 0 && header >= imageStart + before.image.headerBytes &&
                header + diskimage::kSectorHeaderSize + g.sectorBytes <= imageEnd &&
                (before.sectors[p] == survey::SectorState::kIntact || IsDirectorySlot(p, g));
    if (usable[p]) areas[areaCount++] = Area{header + diskimage::kSectorHeaderSize, p};
  }
  std::sort(areas, areas + areaCount,
            [](const Area& a, const Area& b) { return a.start < b.start; });
  survey::ImageSummary summary;
  diskimage::TrackRecord records[diskimage::kMaxTrackRecords];
  for (int j = 0; j < images; ++j) {
    if (!disk.Select(j)) continue;
    survey::SummarizeImage(disk, j, &summary);
    for (int t = 0; t < diskimage::kTrackCount; ++t) {
      const int count = disk.ReadTrackRecords(t, records, diskimage::kMaxTrackRecords);
      for (int i = 0; i < count; ++i) {
        const std::int64_t data = records[i].position + diskimage::kSectorHeaderSize;
        RuleOut(records[i].position, data + records[i].dataLength, j == k ? data : -1,
                g.sectorBytes);
      }
    }
  }
  for (int p = g.directorySector - 1; p < FirstDataSlot(g); ++p) {
    if (!usable[p]) return false;
  }
  return true;
}

// Decodes entry e of the planned directory.
tool::DirectoryEntry PlannedEntry(int e) {
  tool::DirectoryEntry entry{};
  tool::DecodeDirectoryEntry(plan.directory + e * tool::kDirectoryEntryBytes, *before.image.medium,
                             &entry);
  return entry;
}

// Entries before the planned directory's end mark, as the scan counts
// them (a 2DD disk's zero tail ends it at 154).
int PlannedEntries() {
  int e = 0;
  while (e < tool::kMaxDirectoryEntries && plan.directory[e * tool::kDirectoryEntryBytes] != 0) ++e;
  return e;
}

// Marks the slots covered by the planned entries other than skip.
void MarkUsed(int entries, int skip) {
  const tool::MediaGeometry& g = *before.image.medium;
  std::fill(used, used + before.slots, false);
  for (int e = 0; e < entries; ++e) {
    if (e == skip) continue;
    const tool::DataRange range = tool::EntryDataRange(PlannedEntry(e), g, tool::kLargestDiskBytes);
    const std::int64_t end = static_cast<std::int64_t>(range.offset) + range.length;
    for (std::int64_t p = range.offset / g.sectorBytes;
         range.length > 0 && p < before.slots && p * g.sectorBytes < end; ++p)
      used[p] = true;
  }
}

// Returns the first slot of the first free run of count usable slots (one
// slot's place for count 0), or -1 when there is none.
int FindRun(int count) {
  const int first = FirstDataSlot(*before.image.medium);
  const int need = count > 0 ? count : 1;
  for (int start = first, run = 0, p = first; p < before.slots; ++p) {
    if (!usable[p] || used[p]) {
      run = 0;
      start = p + 1;
      continue;
    }
    if (++run == need) return start;
  }
  return -1;
}

// The name a host file goes by: the part of path after its last separator.
const char* HostName(const char* path) {
  const char* name = path;
  for (const char* c = path; *c != '\0'; ++c) {
#if defined(_WIN32)
    if (*c == '\\' || *c == ':') name = c + 1;
#endif
    if (*c == '/') name = c + 1;
  }
  return name;
}

// Converts text into a disk name at name; false after the message.
bool DiskName(const char* text, char (&name)[kConvertedBytes], Outcome* outcome) {
  if (!ToDiskName(text, name, kConvertedBytes, outcome)) return false;
  if (std::strlen(name) > static_cast<std::size_t>(tool::kEntryNameBytes))
    return Fail(outcome, "the name \"%s\" is longer than 4 bytes in Shift_JIS; nothing written",
                Shown(text));
  return true;
}

// Returns the last planned entry (of entries) named name, or -1.
int LastNamed(const char* name, int entries) {
  int found = -1;
  for (int e = 0; e < entries; ++e) {
    if (std::strcmp(PlannedEntry(e).name, name) == 0) found = e;
  }
  return found;
}

// Fails the edit for a read of the file at path that failed with error.
bool CannotRead(const char* path, int error, Outcome* outcome) {
  return Fail(outcome, "cannot read %s: %s; nothing written", Shown(path), std::strerror(error));
}

// Reads the host file at path, size bytes long, into the slots from
// start; false after the message when it is not what it was.
bool ReadHostFile(std::FILE* file, const char* path, long long size, int start, Outcome* outcome) {
  const tool::MediaGeometry& g = *before.image.medium;
  std::uint8_t* to = plan.data + static_cast<std::int64_t>(start) * g.sectorBytes;
  const long long sectors = (size + g.sectorBytes - 1) / g.sectorBytes;
  std::memset(to, 0, static_cast<std::size_t>(sectors * g.sectorBytes));
  const std::size_t read = std::fread(to, 1, static_cast<std::size_t>(size), file);
  if (std::ferror(file) != 0) return CannotRead(path, errno, outcome);
  if (read != static_cast<std::size_t>(size) || std::fgetc(file) != EOF)
    return Fail(outcome, "%s changed while it was read; nothing written", Shown(path));
  for (long long p = start; p < start + sectors; ++p) {
    plan.written[p] = true;
    used[p] = true;
  }
  return true;
}

// Stores entry e: name space-padded, the location of slot start, size.
void StoreEntry(int e, const char* name, int start, long long size) {
  const tool::MediaGeometry& g = *before.image.medium;
  std::uint8_t* entry = plan.directory + e * tool::kDirectoryEntryBytes;
  std::memset(entry, ' ', tool::kEntryNameBytes);
  std::memcpy(entry, name, std::strlen(name));
  const unsigned location = static_cast<unsigned>(start / g.sectorsPerTrack) << g.locationShift |
                            static_cast<unsigned>(start % g.sectorsPerTrack);
  entry[4] = static_cast<std::uint8_t>(location);
  entry[5] = static_cast<std::uint8_t>(location >> 8);
  for (int b = 0; b < 4; ++b)
    entry[tool::kEntrySizeOffset + b] = static_cast<std::uint8_t>(size >> (8 * b));
}

// Puts the host file at path on the disk as diskName (or its host name).
bool AddFile(const char* path, const char* diskName, int k, Outcome* outcome) {
  const tool::MediaGeometry& g = *before.image.medium;
  const char* text = diskName != nullptr ? diskName : HostName(path);
  char name[kConvertedBytes];
  if (!DiskName(text, name, outcome)) return false;
  if (!IsPortableName(name))
    return Fail(outcome,
                "the name \"%s\" is not one every system can extract (empty, a space, a control "
                "byte, . or .., < > : \" / \\ | ? *, a trailing dot, a device name); nothing "
                "written",
                Shown(text));
  const int entries = PlannedEntries();
  const int replaced = LastNamed(name, entries);
  const int e = replaced >= 0 ? replaced : entries;
  if (e >= Capacity(g))
    return Fail(outcome, "image %d: the directory is full (%d entries); nothing written", k,
                Capacity(g));
  for (int stop = 0; stop < e; ++stop) {
    const tool::DirectoryEntry entry = PlannedEntry(stop);
    if (!IsPortableName(entry.name))
      return Fail(outcome,
                  "image %d: entry #%d \"%s\" stops extraction, and no file after it would come "
                  "out; remove it with rm '#%d'; nothing written",
                  k, stop, Shown(entry.name), stop);
  }
  struct stat status;
  long long size = -1;
  std::FILE* file = OpenHostFile(path, &status, &size, outcome);
  if (file == nullptr) return false;
  const bool plain = size >= 0;
  MarkUsed(entries, replaced);
  const int start = size >= 0 && size <= g.DiskBytes()
                        ? FindRun(static_cast<int>((size + g.sectorBytes - 1) / g.sectorBytes))
                        : -1;
  bool added = false;
  if (!plain) {
    Fail(outcome, "%s is not a plain file; nothing written", Shown(path));
  } else if (start < 0) {
    Fail(outcome, "image %d: no room for %s (%lld bytes); nothing written", k, Shown(path), size);
  } else if (ReadHostFile(file, path, size, start, outcome)) {
    StoreEntry(e, name, start, size);
    if (e == entries && (e + 1) * tool::kDirectoryEntryBytes < g.directoryBytes)
      plan.directory[(e + 1) * tool::kDirectoryEntryBytes] = 0;
    added = true;
  }
  std::fclose(file);
  return added;
}

// Returns true when item is "#N"; N in *position (-1 when out of range).
bool IsPosition(const char* item, int* position) {
  if (item[0] != '#' || item[1] < '0' || item[1] > '9') return false;
  char* end = nullptr;
  const long value = std::strtol(item + 1, &end, 10);
  if (*end != '\0') return false;
  *position = value < tool::kMaxDirectoryEntries ? static_cast<int>(value) : -1;
  return true;
}

// Removes every entry each item names (or the one at its position),
// moving the later entries up.
bool RemoveEntries(const EditRequest& request, Outcome* outcome) {
  const int entries = PlannedEntries();
  bool gone[tool::kMaxDirectoryEntries + 1] = {};
  for (int i = 0; i < request.itemCount; ++i) {
    const char* item = request.items[i];
    int position = -1;
    if (IsPosition(item, &position)) {
      if (position < 0 || position >= entries)
        return Fail(outcome, "image %d has no entry %s (it holds %d); nothing written",
                    request.image, Shown(item), entries);
      gone[position] = true;
      continue;
    }
    char name[kConvertedBytes];
    if (!DiskName(item, name, outcome)) return false;
    bool found = false;
    for (int e = 0; e < entries; ++e) {
      if (std::strcmp(PlannedEntry(e).name, name) != 0) continue;
      gone[e] = true;
      found = true;
    }
    if (!found)
      return Fail(outcome, "image %d holds no file \"%s\"; nothing written", request.image,
                  Shown(item));
  }
  std::uint8_t kept[tool::kDirectoryBufferBytes] = {};
  int count = 0;
  for (int e = 0; e < entries; ++e) {
    if (gone[e]) continue;
    std::memcpy(kept + count++ * tool::kDirectoryEntryBytes,
                plan.directory + e * tool::kDirectoryEntryBytes, tool::kDirectoryEntryBytes);
  }
  std::memcpy(plan.directory, kept, sizeof kept);
  return true;
}

}  // namespace

std::FILE* OpenHostFile(const char* path, struct stat* status, long long* size, Outcome* outcome) {
  std::FILE* file = platform::OpenStream(path, "rb");
  if (file == nullptr) {
    Fail(outcome, "cannot open %s: %s; nothing written", Shown(path), std::strerror(errno));
    return nullptr;
  }
  const bool plain = fstat(fileno(file), status) == 0 && S_ISREG(status->st_mode);
  *size = plain ? static_cast<long long>(status->st_size) : -1;
  return file;
}

bool Fail(Outcome* outcome, const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(outcome->message, sizeof outcome->message, format, arguments);
  va_end(arguments);
  return false;
}

const char* Shown(const char* text) {
  static char shown[4][4 * 256 + 1];
  static int next = 0;
  char* out = shown[next];
  next = (next + 1) % 4;
  output::EscapeControls(text, out, sizeof shown[0]);
  return out;
}

namespace {

bool EditLocked(diskimage::DiskImage& original, diskimage::DiskImage& check,
                const EditRequest& request, Outcome* outcome) {
  const int k = request.image;
  if (!OpenLocked(original, request.container, outcome)) return false;
  const int images = survey::CountImages(original);
  const bool surveyed = k < images && survey::SurveyDisk(original, k, &before);
  if (original.GetReadError() != 0)
    return CannotRead(request.container, original.GetReadError(), outcome);
  if (!surveyed)
    return Fail(outcome, "%s has no image %d (it holds %d)", Shown(request.container), k, images);
  outcome->surveyed = true;
  outcome->image = before.image;
  // FAT12 disks of any shape go to their own writer; the flat directory
  // needs its medium known.
  survey::FileSystems& fileSystems = BeforeFileSystems();
  survey::ReadFileSystem(original, before, fileSystems, survey::FileSystemChoice::kAny);
  if (original.GetReadError() != 0)
    return CannotRead(request.container, original.GetReadError(), outcome);
  if (fileSystems.IsFat12()) return EditFat(original, check, request, before, fileSystems, outcome);
  if (before.image.medium == nullptr)
    return Fail(outcome, "image %d: medium unknown (media byte 0x%02x); nothing written", k,
                before.image.mediaByte);
  if (fileSystems.chosen == nullptr)
    return Fail(outcome, "image %d: no file system recognised; nothing written", k);
  if (request.folders) return Fail(outcome, "the flat directory has no folders; nothing written");
  if (!fileSystems.IsFlat())
    return Fail(outcome, "image %d: a %s disk; only the flat directory is written; nothing written",
                k, fileSystems.chosen->Name());
  if (before.directoryDamage.count > 0)
    return Fail(outcome, "image %d: the directory is damaged; nothing written", k);
  plan.before = &before;
  plan.fileSize = original.GetFileSize();
  const std::int64_t imageStart = original.GetImageOffset();
  const bool apart =
      FindUsableSlots(original, k, images, imageStart, imageStart + before.image.bytesInFile);
  if (original.GetReadError() != 0)
    return CannotRead(request.container, original.GetReadError(), outcome);
  if (!apart)
    return Fail(outcome,
                "image %d: the directory shares its bytes with other records; nothing "
                "written",
                k);
  for (int p = 0; p < before.slots; ++p) {
    plan.written[p] = false;
    plan.dataPosition[p] = usable[p] ? before.facts[p].position + diskimage::kSectorHeaderSize : -1;
  }
  std::memcpy(plan.directory, before.directory, sizeof plan.directory);
  if (request.remove) {
    if (!RemoveEntries(request, outcome)) return false;
  } else {
    for (int i = 0; i < request.itemCount; ++i) {
      if (!AddFile(request.items[i], request.diskName, k, outcome)) return false;
    }
  }
  return WriteChanged(original, check, request, plan, outcome);
}

}  // namespace

bool EditContainer(diskimage::DiskImage& original, diskimage::DiskImage& check,
                   const EditRequest& request, Outcome* outcome) {
  outcome->surveyed = false;
  outcome->changed = false;
  outcome->message[0] = '\0';
  outcome->leftover[0] = '\0';
  if (!LockContainer(request.container, outcome)) return false;
  const bool done = EditLocked(original, check, request, outcome);
  original.Open(nullptr);
  UnlockContainer();
  return done;
}

}  // namespace edit
