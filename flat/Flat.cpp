#include "flat/Flat.h"

#include <cstdio>
#include <cstring>

#include "output/NameText.h"

namespace flat {

namespace {

constexpr int kMediaBytes[] = {0x10, 0x20};

// The bytes of the loaded disk from the start of entry's place on.
std::int64_t StartOf(const tool::DirectoryEntry& entry, const tool::MediaGeometry& g) {
  return (static_cast<std::int64_t>(entry.track) * g.sectorsPerTrack + entry.sector - 1) *
         g.sectorBytes;
}

}  // namespace

const tool::MediaGeometry* MediumOf(const filesystem::Geometry& shape) {
  for (int type : kMediaBytes) {
    const tool::MediaGeometry* g = tool::FindMediaGeometry(type);
    if (shape.heads == 2 && shape.cylinders * 2 == static_cast<std::uint32_t>(g->tracks) &&
        shape.sectorsPerTrack == static_cast<std::uint32_t>(g->sectorsPerTrack) &&
        shape.sectorBytes == static_cast<std::uint32_t>(g->sectorBytes))
      return g;
  }
  return nullptr;
}

bool FlatDirectory::ReadDirectorySectors(const filesystem::SectorSource& source) {
  std::memset(directory_, 0, sizeof directory_);
  const int sectors = medium_->directoryBytes / medium_->sectorBytes;
  bool sound = true;
  for (int i = 0; i < sectors; ++i) {
    const filesystem::Sector sector =
        source.At(static_cast<std::uint32_t>(medium_->directorySector - 1 + i));
    // As the tool reads it: the bytes recorded, zeros for a sector missing.
    if (!sector.Intact()) sound = false;
    if (sector.bytes != nullptr)
      std::memcpy(directory_ + i * medium_->sectorBytes, sector.bytes,
                  static_cast<std::size_t>(medium_->sectorBytes));
  }
  return sound;
}

bool FlatDirectory::Recognise(const filesystem::SectorSource& source, filesystem::Reason& reason) {
  medium_ = MediumOf(source.Shape());
  if (medium_ == nullptr) {
    std::snprintf(reason.text, sizeof reason.text, "the geometry is of neither flat medium");
    return false;
  }
  if (!ReadDirectorySectors(source)) {
    std::snprintf(reason.text, sizeof reason.text, "a flat directory, its sectors damaged");
    return true;
  }
  // A stray entry or two among sound ones is the flat directory's damage;
  // bytes of another kind make most entries point off the disk.
  tool::DirectoryEntry entry;
  int entries = 0;
  int impossible = 0;
  for (; entries < tool::kMaxDirectoryEntries; ++entries) {
    if (!tool::DecodeDirectoryEntry(directory_ + entries * tool::kDirectoryEntryBytes, *medium_,
                                    &entry))
      break;
    if (StartOf(entry, *medium_) >= tool::kLargestDiskBytes) ++impossible;
  }
  if (impossible * 2 > entries) {
    std::snprintf(reason.text, sizeof reason.text,
                  "%d of the %d flat directory entries start past the disk", impossible, entries);
    return false;
  }
  std::snprintf(reason.text, sizeof reason.text, "a flat directory");
  return true;
}

void FlatDirectory::Read(const filesystem::SectorSource& source) {
  source_ = &source;
  entryCount_ = 0;
  rootFaults_ = ReadDirectorySectors(source) ? 0 : filesystem::kSectorDamaged;
  const std::uint32_t sectors = source.Shape().SectorCount();
  for (int i = 0; i < tool::kMaxDirectoryEntries; ++i) {
    tool::DirectoryEntry& decoded = decoded_[i];
    if (!tool::DecodeDirectoryEntry(directory_ + i * tool::kDirectoryEntryBytes, *medium_,
                                    &decoded))
      break;
    filesystem::Entry& e = entries_[i];
    e = filesystem::Entry{};
    e.size = decoded.size < 0 ? 0 : static_cast<std::uint32_t>(decoded.size);
    e.nameBytes = reinterpret_cast<const std::uint8_t*>(decoded.name);
    e.nameByteCount = static_cast<std::uint16_t>(std::strlen(decoded.name));
    output::DecodeName(decoded.name, e.nameByteCount, text_[i], sizeof text_[i]);
    e.nameText = text_[i];
    e.pathTextBytes = static_cast<std::uint16_t>(std::strlen(text_[i]));
    entryCount_ = i + 1;
    const tool::DataRange range = tool::EntryDataRange(decoded, *medium_, tool::kLargestDiskBytes);
    if (decoded.size < 0 || range.length < decoded.size ||
        range.offset + range.length > medium_->DiskBytes())
      e.faults |= filesystem::kLeavesDataArea;
    const std::uint32_t first = static_cast<std::uint32_t>(range.offset / medium_->sectorBytes);
    for (std::uint32_t p = first;
         range.length > 0 && p < sectors &&
         static_cast<std::int64_t>(p) * medium_->sectorBytes < range.offset + range.length;
         ++p) {
      if (source.At(p).Intact()) continue;
      if (e.damagedSectors++ == 0) e.firstDamagedSector = p;
      e.faults |= filesystem::kSectorDamaged;
    }
  }
}

std::uint32_t FlatDirectory::FileSectors(int index, std::uint32_t* out, std::uint32_t capacity,
                                         std::uint32_t* lastSectorBytes) const {
  const tool::DataRange range =
      tool::EntryDataRange(decoded_[index], *medium_, tool::kLargestDiskBytes);
  const std::int64_t end = range.offset + range.length < medium_->DiskBytes()
                               ? range.offset + range.length
                               : medium_->DiskBytes();
  std::uint32_t count = 0;
  *lastSectorBytes = 0;
  for (std::int64_t at = range.offset; range.length > 0 && at < end;
       at += medium_->sectorBytes - at % medium_->sectorBytes) {
    if (count < capacity) out[count] = static_cast<std::uint32_t>(at / medium_->sectorBytes);
    ++count;
    const std::int64_t sectorEnd = (at / medium_->sectorBytes + 1) * medium_->sectorBytes;
    *lastSectorBytes = static_cast<std::uint32_t>((end < sectorEnd ? end : sectorEnd) -
                                                  (sectorEnd - medium_->sectorBytes));
  }
  return count;
}

std::size_t FlatDirectory::ReadFile(int index, std::uint64_t offset, std::uint8_t* out,
                                    std::size_t length) const {
  const tool::DataRange range =
      tool::EntryDataRange(decoded_[index], *medium_, tool::kLargestDiskBytes);
  std::size_t done = 0;
  const std::uint64_t bytes = static_cast<std::uint64_t>(range.length);
  const std::uint64_t sectorBytes = static_cast<std::uint64_t>(medium_->sectorBytes);
  const std::uint32_t sectors = source_->Shape().SectorCount();
  while (done < length && offset + done < bytes) {
    const std::uint64_t at = static_cast<std::uint64_t>(range.offset) + offset + done;
    const std::uint64_t within = at % sectorBytes;
    std::size_t run = static_cast<std::size_t>(sectorBytes - within);
    if (run > length - done) run = length - done;
    if (run > bytes - offset - done) run = static_cast<std::size_t>(bytes - offset - done);
    const std::uint64_t logical = at / sectorBytes;
    const filesystem::Sector sector =
        logical < sectors ? source_->At(static_cast<std::uint32_t>(logical)) : filesystem::Sector{};
    if (sector.bytes != nullptr) {
      std::memcpy(out + done, sector.bytes + within, run);
    } else {
      std::memset(out + done, 0, run);
    }
    done += run;
  }
  return done;
}

}  // namespace flat
