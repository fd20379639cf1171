// Planning an edit of a FAT12 disk: the writer makes the change on a copy
// of the volume's logical sectors, and each sector it changed becomes a
// patch over the one record that holds it.
#include <algorithm>
#include <cstring>

#include "change/Editor.h"
#include "output/NameText.h"

namespace change {

namespace {

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

}  // namespace

// True when the edited disk of the copy (in after) holds the volume as
// planned, every sector in its state, and reads as the change meant.
bool FatPlan::ReadsAsPlanned(diskimage::DiskImage& check, survey::DiskSurvey& after,
                             survey::FileSystems& now) const {
  const survey::DiskSurvey& was = *before_;
  if (after.slots != was.slots || after.shape.sectorBytes != was.shape.sectorBytes ||
      !std::equal(was.sectors, was.sectors + was.slots, after.sectors) ||
      std::memcmp(after.data, volume_,
                  static_cast<std::size_t>(was.slots) *
                      static_cast<std::size_t>(was.shape.sectorBytes)) != 0)
    return false;
  survey::ReadFileSystem(check, after, now, survey::FileSystemChoice::kAny);
  if (!now.IsFat12() || now.chosen->RootFaults() != 0) return false;
  const filesystem::FileSystem& fs = *now.chosen;
  const filesystem::FileSystem& old = *fileSystems_->chosen;
  const Request& request = *request_;
  for (int i = 0; i < addedCount_; ++i) {
    // A path added twice holds the later file.
    bool replaced = false;
    for (int j = i + 1; j < addedCount_ && !replaced; ++j)
      replaced = SamePath(added_[i].path, added_[j].path);
    if (replaced) continue;
    const int index = FindEntry(fs, added_[i].path);
    if (index < 0 || fs.EntryAt(index).size != added_[i].size) return false;
    static std::uint8_t back[4096];
    for (std::uint32_t at = 0; at < added_[i].size; at += sizeof back) {
      const std::size_t want = std::min<std::size_t>(sizeof back, added_[i].size - at);
      if (fs.ReadFile(index, at, back, want) != want ||
          std::memcmp(back, hostData_ + added_[i].offset + at, want) != 0)
        return false;
    }
  }
  for (int t = 0; t < request.itemCount; ++t) {
    const int index = FindEntry(fs, matched_[t]);
    const bool present = !request.remove;
    if ((index >= 0) != present) return false;
    if (request.folders && present && fs.EntryAt(index).kind != filesystem::EntryKind::kFolder)
      return false;
  }
  // Every entry not named stays, files with their bytes.
  for (int i = 0; i < old.EntryCount(); ++i) {
    bool named = false;
    for (int t = 0; t < request.itemCount && !named; ++t) named = Reaches(old, i, matched_[t]);
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

// Reads host file i and adds it as its target; false after the message.
bool FatPlan::AddHostFile(int i, const Request& request, HostFiles& files, Outcome* outcome) {
  const int k = request.image;
  const char* item = request.items[i];
  HostFile file{};
  if (!files.Open(item, &file, outcome)) return false;
  if (addedCount_ == kMaxItems ||
      file.size > static_cast<long long>(sizeof hostData_ - hostUsed_)) {
    files.Close();
    return Fail(outcome, "image %d: no room for %s (%lld bytes); nothing written", k, Shown(item),
                file.size);
  }
  std::uint8_t* to = hostData_ + hostUsed_;
  if (!files.Read(item, to, outcome)) return false;
  std::uint16_t date = 0, time = 0;
  DosStamp(file.modified, &date, &time);
  filesystem::Reason reason;
  if (!writer_.Add(diskPaths_[i], to, static_cast<std::uint32_t>(file.size), date, time, reason))
    return Fail(outcome, "image %d: cannot add %s as %s: %s; nothing written", k, Shown(item),
                Shown(targets_[i]), reason.text);
  added_[addedCount_++] = AddedFile{matched_[i], hostUsed_, static_cast<std::uint32_t>(file.size)};
  hostUsed_ += static_cast<std::size_t>(file.size);
  return true;
}

bool FatPlan::Make(diskimage::DiskImage& original, const survey::DiskSurvey& before,
                   const survey::FileSystems& fileSystems, const Request& request, HostFiles& files,
                   Patches& patches, Outcome* outcome) {
  const int k = request.image;
  before_ = &before;
  fileSystems_ = &fileSystems;
  request_ = &request;
  const fat12::Layout& layout = fileSystems.fat12.layout();
  const filesystem::FileSystem& fs = *fileSystems.chosen;
  const std::size_t sectorBytes = static_cast<std::size_t>(before.shape.sectorBytes);
  if (layout.bytesPerSector != sectorBytes)
    return Fail(outcome, "image %d: FAT12 sectors of %u bytes on a disk of %u; nothing written", k,
                static_cast<unsigned>(layout.bytesPerSector), static_cast<unsigned>(sectorBytes));
  const std::size_t bytes = static_cast<std::size_t>(before.slots) * sectorBytes;
  if (bytes > sizeof volume_ || before.rowsLoaded < before.shape.rows ||
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
  std::memcpy(volume_, before.data, bytes);
  filesystem::Reason reason;
  if (!writer_.Open(volume_, static_cast<std::uint32_t>(before.slots), layout, reason))
    return Fail(outcome, "image %d: cannot write FAT12: %s; nothing written", k, reason.text);
  addedCount_ = 0;
  hostUsed_ = 0;
  if (request.itemCount > kMaxItems)
    return Fail(outcome, "too many files or names at once (at most %d)", kMaxItems);
  for (int i = 0; i < request.itemCount; ++i) {
    const char* item = request.items[i];
    const char* as = request.diskName;
    const std::size_t asBytes = as != nullptr ? std::strlen(as) : 0;
    if (request.remove || request.folders) {
      std::snprintf(targets_[i], kPathBytes, "%s", item);
    } else if (as != nullptr && asBytes > 0 && as[asBytes - 1] == '/') {
      std::snprintf(targets_[i], kPathBytes, "%s%s", as, BaseName(item));
    } else {
      std::snprintf(targets_[i], kPathBytes, "%s", as != nullptr ? as : BaseName(item));
    }
    // Found by the names the reader shows, whatever the typed text's encoding.
    if (!ToDiskName(request.toShiftJis, targets_[i], diskPaths_[i], kPathBytes, outcome))
      return false;
    output::DecodeName(diskPaths_[i], std::strlen(diskPaths_[i]), matched_[i], kPathBytes);
    if (DamagedOnPath(fs, matched_[i]))
      return Fail(outcome, "image %d: a directory on the way to %s is damaged; nothing written", k,
                  Shown(targets_[i]));
  }
  // A new folder is stamped now.
  std::uint16_t date = 0, time = 0;
  DosStamp(request.now, &date, &time);
  for (int i = 0; i < request.itemCount; ++i) {
    if (!request.remove && !request.folders) {
      if (!AddHostFile(i, request, files, outcome)) return false;
      continue;
    }
    const char* diskPath = diskPaths_[i];
    const bool done = !request.folders ? writer_.Remove(diskPath, reason)
                      : request.remove ? writer_.RemoveFolder(diskPath, reason)
                                       : writer_.MakeFolder(diskPath, date, time, reason);
    if (!done)
      return Fail(outcome, "image %d: cannot %s %s: %s; nothing written", k,
                  !request.folders ? "remove"
                  : request.remove ? "remove the folder"
                                   : "make",
                  Shown(targets_[i]), reason.text);
  }
  // Only sectors recorded once and read well take new bytes.
  const std::int64_t imageStart = original.GetImageOffset();
  const std::int64_t imageEnd = imageStart + before.image.bytesInFile;
  patches.count = 0;
  for (int s = 0; s < before.slots; ++s) {
    if (!writer_.Changed(static_cast<std::uint32_t>(s))) continue;
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
    patches.list[patches.count++] =
        Patch{data, static_cast<int>(sectorBytes), volume_ + at, before.data + at};
  }
  std::sort(patches.list, patches.list + patches.count,
            [](const Patch& a, const Patch& b) { return a.position < b.position; });
  return true;
}

}  // namespace change
