// Planning an edit of the flat directory: which sectors may take data,
// the new directory, and where each added file goes.
//
// Invariants of the plan, for the disk of the chosen image:
//   - a slot is usable only when its sector is recorded once, intact and
//     full length, its whole record lies inside this image's bytes, and
//     no record reached by any track of any image shares its bytes;
//   - slots on track 0 up to the directory's last sector never take data;
//   - a slot is in use while any entry's data range covers it;
//   - directory_ always reads back as a directory whose end mark
//     follows its last entry.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "change/Editor.h"

namespace change {

namespace {

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

// Converts text into a disk name at name; false after the message.
bool DiskName(Converter convert, const char* text, char (&name)[kConvertedBytes],
              Outcome* outcome) {
  if (!ToDiskName(convert, text, name, kConvertedBytes, outcome)) return false;
  if (std::strlen(name) > static_cast<std::size_t>(tool::kEntryNameBytes))
    return Fail(outcome, "the name \"%s\" is longer than 4 bytes in Shift_JIS; nothing written",
                Shown(text));
  return true;
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

}  // namespace

// Marks unusable the slots whose data area meets [from, to), except the
// one whose data starts at own.
void FlatPlan::RuleOut(std::int64_t from, std::int64_t to, std::int64_t own, int sectorBytes) {
  const Area* first =
      std::lower_bound(areas_, areas_ + areaCount_, from - sectorBytes + 1,
                       [](const Area& area, std::int64_t value) { return area.start < value; });
  for (const Area* a = first; a < areas_ + areaCount_ && a->start < to; ++a) {
    if (a->start != own) usable_[a->slot] = false;
  }
}

// Finds the usable slots of image k (of images) whose bytes are
// [imageStart, imageEnd) of the file.  Returns false when a directory
// sector shares its bytes with another record.
bool FlatPlan::FindUsableSlots(diskimage::DiskImage& disk, int k, int images,
                               std::int64_t imageStart, std::int64_t imageEnd) {
  const survey::DiskSurvey& before = *before_;
  const tool::MediaGeometry& g = *before.image.medium;
  areaCount_ = 0;
  for (int p = 0; p < before.slots; ++p) {
    const std::int64_t header = before.facts[p].position;
    usable_[p] = header >= 0 && header >= imageStart + before.image.headerBytes &&
                 header + diskimage::kSectorHeaderSize + g.sectorBytes <= imageEnd &&
                 (before.sectors[p] == survey::SectorState::kIntact || IsDirectorySlot(p, g));
    if (usable_[p]) areas_[areaCount_++] = Area{header + diskimage::kSectorHeaderSize, p};
  }
  std::sort(areas_, areas_ + areaCount_,
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
    if (!usable_[p]) return false;
  }
  return true;
}

// Decodes entry e of the planned directory.
tool::DirectoryEntry FlatPlan::PlannedEntry(int e) const {
  tool::DirectoryEntry entry{};
  tool::DecodeDirectoryEntry(directory_ + e * tool::kDirectoryEntryBytes, *before_->image.medium,
                             &entry);
  return entry;
}

// Entries before the planned directory's end mark, as the scan counts
// them (a 2DD disk's zero tail ends it at 154).
int FlatPlan::PlannedEntries() const {
  int e = 0;
  while (e < tool::kMaxDirectoryEntries && directory_[e * tool::kDirectoryEntryBytes] != 0) ++e;
  return e;
}

// Marks the slots covered by the planned entries other than skip.
void FlatPlan::MarkUsed(int entries, int skip) {
  const tool::MediaGeometry& g = *before_->image.medium;
  std::fill(used_, used_ + before_->slots, false);
  for (int e = 0; e < entries; ++e) {
    if (e == skip) continue;
    const tool::DataRange range = tool::EntryDataRange(PlannedEntry(e), g, tool::kLargestDiskBytes);
    const std::int64_t end = static_cast<std::int64_t>(range.offset) + range.length;
    for (std::int64_t p = range.offset / g.sectorBytes;
         range.length > 0 && p < before_->slots && p * g.sectorBytes < end; ++p)
      used_[p] = true;
  }
}

// Returns the first slot of the first free run of count usable slots (one
// slot's place for count 0), or -1 when there is none.
int FlatPlan::FindRun(int count) const {
  const int first = FirstDataSlot(*before_->image.medium);
  const int need = count > 0 ? count : 1;
  for (int start = first, run = 0, p = first; p < before_->slots; ++p) {
    if (!usable_[p] || used_[p]) {
      run = 0;
      start = p + 1;
      continue;
    }
    if (++run == need) return start;
  }
  return -1;
}

// Returns the last planned entry (of entries) named name, or -1.
int FlatPlan::LastNamed(const char* name, int entries) const {
  int found = -1;
  for (int e = 0; e < entries; ++e) {
    if (std::strcmp(PlannedEntry(e).name, name) == 0) found = e;
  }
  return found;
}

// Stores entry e: name space-padded, the location of slot start, size.
void FlatPlan::StoreEntry(int e, const char* name, int start, long long size) {
  const tool::MediaGeometry& g = *before_->image.medium;
  std::uint8_t* entry = directory_ + e * tool::kDirectoryEntryBytes;
  std::memset(entry, ' ', tool::kEntryNameBytes);
  std::memcpy(entry, name, std::strlen(name));
  const unsigned location = static_cast<unsigned>(start / g.sectorsPerTrack) << g.locationShift |
                            static_cast<unsigned>(start % g.sectorsPerTrack);
  entry[4] = static_cast<std::uint8_t>(location);
  entry[5] = static_cast<std::uint8_t>(location >> 8);
  for (int b = 0; b < 4; ++b)
    entry[tool::kEntrySizeOffset + b] = static_cast<std::uint8_t>(size >> (8 * b));
}

// Puts the host file item names on the disk as request.diskName (or its
// host name).
bool FlatPlan::AddFile(const char* item, const Request& request, HostFiles& files,
                       Outcome* outcome) {
  const tool::MediaGeometry& g = *before_->image.medium;
  const int k = request.image;
  const char* text = request.diskName != nullptr ? request.diskName : BaseName(item);
  char name[kConvertedBytes];
  if (!DiskName(request.toShiftJis, text, name, outcome)) return false;
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
  HostFile file{};
  if (!files.Open(item, &file, outcome)) return false;
  MarkUsed(entries, replaced);
  const int start = file.size <= g.DiskBytes()
                        ? FindRun(static_cast<int>((file.size + g.sectorBytes - 1) / g.sectorBytes))
                        : -1;
  if (start < 0) {
    files.Close();
    return Fail(outcome, "image %d: no room for %s (%lld bytes); nothing written", k, Shown(item),
                file.size);
  }
  std::uint8_t* to = data_ + static_cast<std::int64_t>(start) * g.sectorBytes;
  const long long sectors = (file.size + g.sectorBytes - 1) / g.sectorBytes;
  std::memset(to, 0, static_cast<std::size_t>(sectors * g.sectorBytes));
  if (!files.Read(item, to, outcome)) return false;
  for (long long p = start; p < start + sectors; ++p) {
    written_[p] = true;
    used_[p] = true;
  }
  StoreEntry(e, name, start, file.size);
  if (e == entries && (e + 1) * tool::kDirectoryEntryBytes < g.directoryBytes)
    directory_[(e + 1) * tool::kDirectoryEntryBytes] = 0;
  return true;
}

// Removes every entry each item names (or the one at its position),
// moving the later entries up.
bool FlatPlan::RemoveEntries(const Request& request, Outcome* outcome) {
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
    if (!DiskName(request.toShiftJis, item, name, outcome)) return false;
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
                directory_ + e * tool::kDirectoryEntryBytes, tool::kDirectoryEntryBytes);
  }
  std::memcpy(directory_, kept, sizeof kept);
  return true;
}

// Collects the data areas of the directory's sectors and the written
// ones, in file order.
void FlatPlan::CollectPatches(Patches& patches) const {
  const tool::MediaGeometry& g = *before_->image.medium;
  const int firstDirectory = g.directorySector - 1;
  const int lastDirectory = firstDirectory + g.directoryBytes / g.sectorBytes;
  patches.count = 0;
  for (int p = 0; p < before_->slots; ++p) {
    const bool directory = p >= firstDirectory && p < lastDirectory;
    if (!directory && !written_[p]) continue;
    const std::uint8_t* bytes = directory ? directory_ + (p - firstDirectory) * g.sectorBytes
                                          : data_ + static_cast<std::int64_t>(p) * g.sectorBytes;
    const std::uint8_t* was =
        directory ? before_->directory + (p - firstDirectory) * g.sectorBytes : nullptr;
    patches.list[patches.count++] = Patch{dataPosition_[p], g.sectorBytes, bytes, was};
  }
  std::sort(patches.list, patches.list + patches.count,
            [](const Patch& a, const Patch& b) { return a.position < b.position; });
}

bool FlatPlan::Make(diskimage::DiskImage& original, int images, const survey::DiskSurvey& before,
                    const Request& request, HostFiles& files, Patches& patches, Outcome* outcome) {
  const int k = request.image;
  before_ = &before;
  const std::int64_t imageStart = original.GetImageOffset();
  if (!FindUsableSlots(original, k, images, imageStart, imageStart + before.image.bytesInFile))
    return Fail(outcome,
                "image %d: the directory shares its bytes with other records; nothing "
                "written",
                k);
  for (int p = 0; p < before.slots; ++p) {
    written_[p] = false;
    dataPosition_[p] = usable_[p] ? before.facts[p].position + diskimage::kSectorHeaderSize : -1;
  }
  std::memcpy(directory_, before.directory, sizeof directory_);
  if (request.remove) {
    if (!RemoveEntries(request, outcome)) return false;
  } else {
    for (int i = 0; i < request.itemCount; ++i) {
      if (!AddFile(request.items[i], request, files, outcome)) return false;
    }
  }
  CollectPatches(patches);
  return true;
}

// True when the edited disk of the copy (in after) reads as planned: the
// planned directory, the written sectors intact with their new bytes,
// every other sector's bytes and state as they were.
bool FlatPlan::ReadsAsPlanned(const survey::DiskSurvey& after) const {
  const survey::DiskSurvey& was = *before_;
  if (after.image.medium != was.image.medium || after.slots != was.slots ||
      after.directoryDamage.count != 0 || after.strayRecords != was.strayRecords)
    return false;
  const tool::MediaGeometry& g = *was.image.medium;
  if (std::memcmp(after.directory, directory_, static_cast<std::size_t>(g.directoryBytes)) != 0)
    return false;
  const int firstDirectory = g.directorySector - 1;
  for (int p = 0; p < was.slots; ++p) {
    const std::int64_t at = static_cast<std::int64_t>(p) * g.sectorBytes;
    const bool directory =
        p >= firstDirectory && p < firstDirectory + g.directoryBytes / g.sectorBytes;
    const std::uint8_t* expected = directory ? directory_ + (p - firstDirectory) * g.sectorBytes
                                             : (written_[p] ? data_ : was.data) + at;
    const survey::SectorState state = written_[p] ? survey::SectorState::kIntact : was.sectors[p];
    if (after.sectors[p] != state ||
        std::memcmp(after.data + at, expected, static_cast<std::size_t>(g.sectorBytes)) != 0)
      return false;
  }
  return true;
}

}  // namespace change
