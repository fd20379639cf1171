// Editing a FAT12 disk: the writer plans the change on a copy of the
// volume's logical sectors; the container is then streamed with the
// changed sectors' bytes laid over the records that hold them, and the
// copy is read back through the survey and the FAT12 reader before it
// replaces the container.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "edit/CopyWriter.h"
#include "edit/Plan.h"
#include "fat12/Fat12Writer.h"
#include "platform/Platform.h"

namespace edit {

namespace {

// The most files or names one edit takes.
constexpr int kMaxEditItems = 64;

fat12::Fat12Writer writer;
std::uint8_t volume[survey::kDataBytes];  // the logical sectors as the change leaves them
Patch patches[survey::kSlots];
int patchCount;

// The files added, in turn: their paths on the disk (UTF-8) and bytes.
struct AddedFile {
  const char* path;
  std::size_t offset;  // into hostData
  std::uint32_t size;
};
AddedFile added[kMaxEditItems];
int addedCount;
std::uint8_t hostData[survey::kDataBytes];
std::size_t hostUsed;

// The copy read back.
survey::DiskSurvey after;
survey::FileSystems& AfterFileSystems() {
  static survey::FileSystems fileSystems;
  return fileSystems;
}

char Folded(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// True when a and b are the same path but for the case of ASCII letters.
bool SamePath(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (Folded(*a) != Folded(*b)) return false;
  }
  return *a == *b;
}

// True when entry index of fs is reached by path: its long name or its
// alias, folders by either.
bool Reaches(const filesystem::FileSystem& fs, int index, const char* path) {
  const filesystem::Entry& entry = fs.EntryAt(index);
  const char* slash = std::strrchr(path, '/');
  const char* leaf = slash != nullptr ? slash + 1 : path;
  if (!SamePath(leaf, entry.nameText) &&
      (entry.aliasText == nullptr || !SamePath(leaf, entry.aliasText)))
    return false;
  if (entry.parent == filesystem::kInRoot) return slash == nullptr;
  if (slash == nullptr) return false;
  char parent[kPathBytes];
  std::snprintf(parent, sizeof parent, "%.*s", static_cast<int>(slash - path), path);
  return Reaches(fs, entry.parent, parent);
}

// Returns the entry path reaches, or -1.
int FindEntry(const filesystem::FileSystem& fs, const char* path) {
  for (int i = 0; i < fs.EntryCount(); ++i) {
    if (Reaches(fs, i, path)) return i;
  }
  return -1;
}

// True when a folder on the way to path (the root too) has a damaged directory.
bool DamagedOnPath(const filesystem::FileSystem& fs, const char* path) {
  if (fs.RootFaults() != 0) return true;
  char prefix[kPathBytes];
  for (const char* slash = std::strchr(path, '/'); slash != nullptr;
       slash = std::strchr(slash + 1, '/')) {
    std::snprintf(prefix, sizeof prefix, "%.*s", static_cast<int>(slash - path), path);
    const int folder = FindEntry(fs, prefix);
    if (folder >= 0 && fs.EntryAt(folder).faults != 0) return true;
  }
  return false;
}

// True when file a of fs and file b of gs hold the same bytes.
bool SameBytes(const filesystem::FileSystem& fs, int a, const filesystem::FileSystem& gs, int b) {
  if (fs.EntryAt(a).size != gs.EntryAt(b).size) return false;
  static std::uint8_t one[4096], two[4096];
  for (std::uint64_t at = 0; at < fs.EntryAt(a).size; at += sizeof one) {
    const std::size_t got = fs.ReadFile(a, at, one, sizeof one);
    if (gs.ReadFile(b, at, two, sizeof two) != got || std::memcmp(one, two, got) != 0) return false;
  }
  return true;
}

// The edit under way, for the producer.
struct FatCopy {
  diskimage::DiskImage* original;
  diskimage::DiskImage* check;
  const EditRequest* request;
  const survey::DiskSurvey* before;
  const survey::FileSystems* fileSystems;
  std::int64_t fileSize;
  const char* const* targets;  // the disk paths named, UTF-8
};

const char* WriteFat(void* context, std::FILE* source, int fd) {
  return StreamPatchedCopy(source, fd, patches, patchCount,
                           static_cast<FatCopy*>(context)->fileSize);
}

// True when the edited disk of the copy (in after) holds the volume as
// planned, every sector in its state, and reads as the change meant.
bool ReadsAsPlanned(const FatCopy& copy) {
  const survey::DiskSurvey& was = *copy.before;
  if (after.slots != was.slots || after.shape.sectorBytes != was.shape.sectorBytes ||
      !std::equal(was.sectors, was.sectors + was.slots, after.sectors) ||
      std::memcmp(after.data, volume,
                  static_cast<std::size_t>(was.slots) *
                      static_cast<std::size_t>(was.shape.sectorBytes)) != 0)
    return false;
  survey::FileSystems& now = AfterFileSystems();
  survey::ReadFileSystem(*copy.check, after, now, survey::FileSystemChoice::kAny);
  if (!now.IsFat12() || now.chosen->RootFaults() != 0) return false;
  const filesystem::FileSystem& fs = *now.chosen;
  const filesystem::FileSystem& old = *copy.fileSystems->chosen;
  const EditRequest& request = *copy.request;
  for (int i = 0; i < addedCount; ++i) {
    // A path added twice holds the later file.
    bool replaced = false;
    for (int j = i + 1; j < addedCount && !replaced; ++j)
      replaced = SamePath(added[i].path, added[j].path);
    if (replaced) continue;
    const int index = FindEntry(fs, added[i].path);
    if (index < 0 || fs.EntryAt(index).size != added[i].size) return false;
    static std::uint8_t back[4096];
    for (std::uint32_t at = 0; at < added[i].size; at += sizeof back) {
      const std::size_t want = std::min<std::size_t>(sizeof back, added[i].size - at);
      if (fs.ReadFile(index, at, back, want) != want ||
          std::memcmp(back, hostData + added[i].offset + at, want) != 0)
        return false;
    }
  }
  for (int t = 0; t < request.itemCount; ++t) {
    const int index = FindEntry(fs, copy.targets[t]);
    const bool present = !request.remove;
    if ((index >= 0) != present) return false;
    if (request.folders && present && fs.EntryAt(index).kind != filesystem::EntryKind::kFolder)
      return false;
  }
  // Every entry not named stays, files with their bytes.
  for (int i = 0; i < old.EntryCount(); ++i) {
    bool named = false;
    for (int t = 0; t < request.itemCount && !named; ++t) named = Reaches(old, i, copy.targets[t]);
    if (named) continue;
    char path[kPathBytes];
    old.Path(i, path, sizeof path);
    const int index = FindEntry(fs, path);
    if (index < 0 || fs.EntryAt(index).kind != old.EntryAt(i).kind) return false;
    if (old.EntryAt(i).kind == filesystem::EntryKind::kFile && old.EntryAt(i).Intact() &&
        !SameBytes(old, i, fs, index))
      return false;
  }
  return true;
}

const char* CheckFat(void* context, const char* path) {
  FatCopy& copy = *static_cast<FatCopy*>(context);
  const auto judge = [](void* edit) { return ReadsAsPlanned(*static_cast<FatCopy*>(edit)); };
  if (!ReadBack(*copy.original, *copy.check, path, copy.request->image, copy.fileSize, &after,
                judge, &copy))
    return "the copy does not read back as planned";
  return nullptr;
}

}  // namespace

bool ToDiskName(const char* text, char* out, int outSize, Outcome* outcome) {
  const Conversion conversion = ToShiftJis(text, out, outSize);
  if (conversion == Conversion::kNoConverter)
    return Fail(outcome,
                "cannot convert names to Shift_JIS: the system has no converter; nothing written");
  if (conversion == Conversion::kNoForm)
    return Fail(outcome, "the name \"%s\" has no Shift_JIS form; nothing written", Shown(text));
  return true;
}

namespace {

// Converts a disk path to Shift_JIS; false after the message.
bool ToDisk(const char* text, char (&out)[kPathBytes], Outcome* outcome) {
  return ToDiskName(text, out, kPathBytes, outcome);
}

// Reads the host file at path and adds it as target; false after the message.
bool AddHostFile(const char* path, const char* target, int k, Outcome* outcome) {
  struct stat status;
  long long size = -1;
  std::FILE* file = OpenHostFile(path, &status, &size, outcome);
  if (file == nullptr) return false;
  const bool plain = size >= 0;
  bool done = false;
  filesystem::Reason reason;
  if (!plain) {
    Fail(outcome, "%s is not a plain file; nothing written", Shown(path));
  } else if (addedCount == static_cast<int>(sizeof added / sizeof added[0]) ||
             size > static_cast<long long>(sizeof hostData - hostUsed)) {
    Fail(outcome, "image %d: no room for %s (%lld bytes); nothing written", k, Shown(path), size);
  } else {
    std::uint8_t* to = hostData + hostUsed;
    const std::size_t read = std::fread(to, 1, static_cast<std::size_t>(size), file);
    char diskPath[kPathBytes];
    std::uint16_t date = 0, time = 0;
    DosStamp(status.st_mtime, &date, &time);
    if (std::ferror(file) != 0) {
      Fail(outcome, "cannot read %s: %s; nothing written", Shown(path), std::strerror(errno));
    } else if (read != static_cast<std::size_t>(size) || std::fgetc(file) != EOF) {
      Fail(outcome, "%s changed while it was read; nothing written", Shown(path));
    } else if (ToDisk(target, diskPath, outcome)) {
      if (!writer.Add(diskPath, to, static_cast<std::uint32_t>(size), date, time, reason)) {
        Fail(outcome, "image %d: cannot add %s as %s: %s; nothing written", k, Shown(path),
             Shown(target), reason.text);
      } else {
        AddedFile& file_ = added[addedCount++];
        file_.path = target;
        file_.offset = hostUsed;
        file_.size = static_cast<std::uint32_t>(size);
        hostUsed += static_cast<std::size_t>(size);
        done = true;
      }
    }
  }
  std::fclose(file);
  return done;
}

}  // namespace

bool EditFat(diskimage::DiskImage& original, diskimage::DiskImage& check,
             const EditRequest& request, const survey::DiskSurvey& before,
             const survey::FileSystems& fileSystems, Outcome* outcome) {
  const int k = request.image;
  const fat12::Layout& layout = fileSystems.fat12.layout();
  const filesystem::FileSystem& fs = *fileSystems.chosen;
  const std::size_t sectorBytes = static_cast<std::size_t>(before.shape.sectorBytes);
  if (layout.bytesPerSector != sectorBytes)
    return Fail(outcome, "image %d: FAT12 sectors of %u bytes on a disk of %u; nothing written", k,
                static_cast<unsigned>(layout.bytesPerSector), static_cast<unsigned>(sectorBytes));
  const std::size_t bytes = static_cast<std::size_t>(before.slots) * sectorBytes;
  if (bytes > sizeof volume || before.rowsLoaded < before.shape.rows ||
      layout.dataStart > static_cast<std::uint32_t>(before.slots))
    return Fail(outcome, "image %d: a FAT12 disk larger than the writer handles; nothing written",
                k);
  // The boot sector, the FAT copies and the root directory must all read well.
  for (std::uint32_t s = 0; s < layout.dataStart; ++s) {
    const survey::SectorState state = before.sectors[s];
    if (state != survey::SectorState::kIntact)
      return Fail(outcome, "image %d: logical sector %u (%s) is %s; nothing written", k,
                  static_cast<unsigned>(s),
                  s < layout.reservedSectors ? "boot sector"
                  : s < layout.rootStart     ? "FAT"
                                             : "root directory",
                  survey::SectorStateName(state));
  }
  std::memcpy(volume, before.data, bytes);
  filesystem::Reason reason;
  if (!writer.Open(volume, static_cast<std::uint32_t>(before.slots), layout, reason))
    return Fail(outcome, "image %d: cannot write FAT12: %s; nothing written", k, reason.text);
  addedCount = 0;
  hostUsed = 0;
  // The disk paths named, in UTF-8 as typed.
  static char targets[kMaxEditItems][kPathBytes];
  static const char* targetList[kMaxEditItems];
  if (request.itemCount > kMaxEditItems)
    return Fail(outcome, "too many files or names at once (at most %d)", kMaxEditItems);
  for (int i = 0; i < request.itemCount; ++i) {
    const char* item = request.items[i];
    const char* as = request.diskName;
    const std::size_t asBytes = as != nullptr ? std::strlen(as) : 0;
    if (request.remove || request.folders) {
      std::snprintf(targets[i], kPathBytes, "%s", item);
    } else if (as != nullptr && asBytes > 0 && as[asBytes - 1] == '/') {
      std::snprintf(targets[i], kPathBytes, "%s%s", as, BaseName(item));
    } else {
      std::snprintf(targets[i], kPathBytes, "%s", as != nullptr ? as : BaseName(item));
    }
    targetList[i] = targets[i];
    if (DamagedOnPath(fs, targets[i]))
      return Fail(outcome, "image %d: a directory on the way to %s is damaged; nothing written", k,
                  Shown(targets[i]));
  }
  // A new folder is stamped now.
  std::uint16_t date = 0, time = 0;
  DosStamp(std::time(nullptr), &date, &time);
  for (int i = 0; i < request.itemCount; ++i) {
    char diskPath[kPathBytes];
    if (!request.remove && !request.folders) {
      if (!AddHostFile(request.items[i], targets[i], k, outcome)) return false;
      continue;
    }
    if (!ToDisk(targets[i], diskPath, outcome)) return false;
    const bool done = !request.folders ? writer.Remove(diskPath, reason)
                      : request.remove ? writer.RemoveFolder(diskPath, reason)
                                       : writer.MakeFolder(diskPath, date, time, reason);
    if (!done)
      return Fail(outcome, "image %d: cannot %s %s: %s; nothing written", k,
                  !request.folders ? "remove"
                  : request.remove ? "remove the folder"
                                   : "make",
                  Shown(targets[i]), reason.text);
  }
  // Only sectors recorded once and read well take new bytes.
  const std::int64_t imageStart = original.GetImageOffset();
  const std::int64_t imageEnd = imageStart + before.image.bytesInFile;
  patchCount = 0;
  for (int s = 0; s < before.slots; ++s) {
    if (!writer.Changed(static_cast<std::uint32_t>(s))) continue;
    const std::int64_t header = before.facts[s].position;
    const std::int64_t data = header + diskimage::kSectorHeaderSize;
    if (before.sectors[s] != survey::SectorState::kIntact || header < imageStart ||
        data + static_cast<std::int64_t>(sectorBytes) > imageEnd)
      return Fail(outcome,
                  "image %d: logical sector %d, which the change writes, is %s; nothing "
                  "written",
                  k, s,
                  before.sectors[s] == survey::SectorState::kIntact
                      ? "outside its image"
                      : survey::SectorStateName(before.sectors[s]));
    const std::size_t at = static_cast<std::size_t>(s) * sectorBytes;
    patches[patchCount++] =
        Patch{data, static_cast<int>(sectorBytes), volume + at, before.data + at};
  }
  std::sort(patches, patches + patchCount,
            [](const Patch& a, const Patch& b) { return a.position < b.position; });
  FatCopy copy{&original, &check, &request, &before, &fileSystems, original.GetFileSize(),
               targetList};
  return WriteProducedCopy(original, request.container, request.output,
                           CopyProducer{WriteFat, CheckFat, &copy}, outcome);
}

}  // namespace edit
