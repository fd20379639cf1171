#include "survey/FileSystems.h"

#include <cstdio>
#include <cstring>

#include "tool/Extraction.h"

namespace survey {

FileSystems::FileSystems() = default;

filesystem::Geometry SurveySource::Shape() const {
  if (disk_ == nullptr || disk_->slots == 0) return filesystem::Geometry{};
  const DiskShape& g = disk_->shape;
  return filesystem::Geometry{
      static_cast<std::uint32_t>(g.rows / g.heads), static_cast<std::uint32_t>(g.heads),
      static_cast<std::uint32_t>(g.sectorsPerTrack), static_cast<std::uint32_t>(g.sectorBytes)};
}

filesystem::Sector SurveySource::At(std::uint32_t logical) const {
  filesystem::Sector sector;
  if (disk_ == nullptr || logical >= static_cast<std::uint32_t>(disk_->slots)) return sector;
  switch (disk_->sectors[logical]) {
    case SectorState::kMissing:
      return sector;
    case SectorState::kCut:
      sector.fault = filesystem::SectorFault::kCut;
      break;
    case SectorState::kShort:
      sector.fault = filesystem::SectorFault::kShort;
      break;
    case SectorState::kBadStatus:
      sector.fault = filesystem::SectorFault::kBadStatus;
      break;
    case SectorState::kConflicting:
      sector.fault = filesystem::SectorFault::kConflict;
      break;
    default:
      sector.fault = filesystem::SectorFault::kNone;
  }
  sector.bytes = disk_->data + static_cast<std::size_t>(logical) *
                                   static_cast<std::size_t>(disk_->shape.sectorBytes);
  return sector;
}

bool ParseFileSystemChoice(const char* name, FileSystemChoice* choice) {
  if (std::strcmp(name, "flat") == 0) {
    *choice = FileSystemChoice::kFlat;
  } else if (std::strcmp(name, "fat12") == 0 || std::strcmp(name, "FAT12") == 0) {
    *choice = FileSystemChoice::kFat12;
  } else {
    return false;
  }
  return true;
}

// Rows whose bytes recognition reads: the boot sector, the first table
// sectors and the flat directory lie there on every disk either reads.
constexpr int kRecognitionRows = 2;

void ReadFileSystem(diskimage::DiskImage& image, DiskSurvey& disk, FileSystems& fs,
                    FileSystemChoice choice) {
  fs.chosen = nullptr;
  LoadRows(image, &disk, kRecognitionRows);
  fs.source.Bind(disk);
  const SurveySource& source = fs.source;
  if (disk.slots == 0) {
    std::snprintf(fs.reason.text, sizeof fs.reason.text, "no geometry");
  } else if (choice != FileSystemChoice::kFlat && fs.fat12.Recognise(source, fs.reason)) {
    fs.chosen = &fs.fat12;
  } else if (choice == FileSystemChoice::kFat12) {
    // The reader's reason stands.
  } else if (choice == FileSystemChoice::kFlat && disk.image.medium != nullptr) {
    std::snprintf(fs.reason.text, sizeof fs.reason.text, "read as the flat directory");
    fs.chosen = &fs.flat;
  } else if (disk.image.medium != nullptr && fs.flat.Recognise(source, fs.reason)) {
    fs.chosen = &fs.flat;
  } else if (disk.image.medium == nullptr) {
    std::snprintf(fs.reason.text, sizeof fs.reason.text, "not a flat medium and no FAT12");
  }
  if (fs.IsFlat()) {
    fs.flat.Recognise(source, fs.reason);
    fs.flat.Read(source);
    return;
  }
  disk.fileCount = 0;
  disk.directoryDamage.count = 0;
  for (int p = 0; p < disk.slots; ++p) disk.owner[p] = kNoOwner;
  if (!fs.IsFat12()) return;
  LoadRows(image, &disk, disk.shape.rows);
  fs.fat12.Read(source);
}

void AddToTally(Tally& tally, const DiskSurvey& disk, const FileSystems& fs) {
  if (fs.chosen == nullptr || fs.IsFlat()) {
    tally.Add(disk);
    if (fs.chosen == nullptr && disk.image.medium != nullptr) ++tally.unrecognised;
    return;
  }
  ++tally.images;
  if (disk.image.cutShort) ++tally.cutShort;
  bool directoryDamaged = fs.chosen->RootFaults() != 0;
  for (int i = 0; i < fs.chosen->EntryCount(); ++i) {
    const filesystem::Entry& e = fs.chosen->EntryAt(i);
    if (e.kind == filesystem::EntryKind::kFolder) {
      directoryDamaged = directoryDamaged || !e.Intact();
      continue;
    }
    ++tally.files;
    if (!EntryWritable(fs, i)) ++tally.unwritable;
    if (e.Intact()) {
      ++tally.intact;
    } else {
      ++tally.damaged;
    }
  }
  if (directoryDamaged) ++tally.damagedDirectories;
}

bool EntryWritable(const FileSystems& fs, int index) {
  char path[filesystem::kMaxPathBytes + 1];
  fs.chosen->Path(index, path, sizeof path);
  for (char* component = path;;) {
    char* end = std::strchr(component, '/');
    if (end != nullptr) *end = '\0';
    if (!tool::IsWritableTextName(component)) return false;
    if (end == nullptr) return true;
    component = end + 1;
  }
}

void MarkOwners(DiskSurvey& disk, FileSystems& fs) {
  if (fs.chosen == nullptr || fs.IsFlat()) return;
  const std::uint32_t slots = static_cast<std::uint32_t>(disk.slots);
  for (std::uint32_t p = 0; p < fs.chosen->OwnSectors() && p < slots; ++p)
    disk.owner[p] = kDirectoryOwner;
  static_assert(filesystem::kMaxEntries <= 32767, "an owner is an entry's index");
  for (int i = 0; i < fs.chosen->EntryCount(); ++i) {
    std::uint32_t last = 0;
    std::uint32_t count = fs.chosen->FileSectors(i, fs.sectors, filesystem::kMaxSectors, &last);
    if (count > filesystem::kMaxSectors) count = filesystem::kMaxSectors;
    for (std::uint32_t k = 0; k < count; ++k) {
      if (fs.sectors[k] < slots && disk.owner[fs.sectors[k]] == kNoOwner)
        disk.owner[fs.sectors[k]] = static_cast<std::int16_t>(i);
    }
  }
}

void AddEntryDamage(const DiskSurvey& disk, FileSystems& fs, int index, DamageList* damage) {
  std::uint32_t last = 0;
  std::uint32_t count = fs.chosen->FileSectors(index, fs.sectors, filesystem::kMaxSectors, &last);
  if (count > filesystem::kMaxSectors) count = filesystem::kMaxSectors;
  for (std::uint32_t i = 0; i < count; ++i) {
    const int p = static_cast<int>(fs.sectors[i]);
    if (p < disk.slots)
      damage->Add(p, disk.shape.sectorsPerTrack, disk.sectors[p], disk.facts[p].status);
  }
}

}  // namespace survey
