// One disk in full: its sectors' states, the stray records and the files.
//
// The data is loaded exactly as the extraction tool loads it (one batch
// over all sector slots), so a file's bytes here are the bytes the tool
// writes.  The states come from the facts the batch gives of the very
// record each slot's data came from; one bounded listing per track adds
// only what a single record cannot show: foreign IDs and repeated ones.
#include <cstdint>
#include <cstring>

#include "diskimage/DiskImage.h"
#include "survey/Survey.h"
#include "tool/Extraction.h"

namespace survey {

namespace {

// The status byte of a sector read well with a deleted-data mark, and the
// deleted-mark byte's value for one.
constexpr std::uint8_t kDeletedData = 0x10;

// Returns the state of a slot from the bytes the load gave it and the
// record they came from, with the file fileSize bytes long; duplicates are
// judged per track afterwards.
SectorState JudgeSlot(int bytes, const diskimage::RecordFacts& record, const DiskShape& g,
                      std::int64_t fileSize) {
  if (record.position < 0) return record.walkHitFileEnd ? SectorState::kCut : SectorState::kMissing;
  if (record.position + diskimage::kSectorHeaderSize + record.dataLength > fileSize)
    return SectorState::kCut;
  if (bytes < g.sectorBytes) return SectorState::kShort;
  if (record.status != 0 && record.status != kDeletedData) return SectorState::kBadStatus;
  if (record.dataLength > g.sectorBytes) return SectorState::kLong;
  if (record.status == kDeletedData || record.deletedMark == kDeletedData)
    return SectorState::kDeletedMark;
  return SectorState::kIntact;
}

// Bytes of two copies compared at a time.
constexpr int kCompareBytes = 1024;

// True when records a and b give a sector of sectorBytes different bytes:
// a different count of them, or different data.
bool CopiesDiffer(diskimage::DiskImage& disk, const diskimage::TrackRecord& a,
                  const diskimage::TrackRecord& b, int sectorBytes) {
  const auto given = [sectorBytes](const diskimage::TrackRecord& rec) {
    return rec.dataLength < sectorBytes ? rec.dataLength : sectorBytes;
  };
  if (given(a) != given(b)) return true;
  std::uint8_t first[kCompareBytes];
  std::uint8_t second[kCompareBytes];
  for (std::int64_t at = 0; at < given(a); at += kCompareBytes) {
    const std::int64_t left = given(a) - at;
    const std::int64_t length = left < kCompareBytes ? left : kCompareBytes;
    const std::int64_t gotA =
        disk.ReadBytes(a.position + diskimage::kSectorHeaderSize + at, first, length);
    const std::int64_t gotB =
        disk.ReadBytes(b.position + diskimage::kSectorHeaderSize + at, second, length);
    if (gotA != gotB || std::memcmp(first, second, static_cast<std::size_t>(gotA)) != 0)
      return true;
  }
  return false;
}

// Marks the slots of track t whose ID is recorded twice, those whose
// copies differ apart, and notes the strays.  A record only counts where
// the load would reach it: a count of 0 ends the walk before its own ID is
// looked at.
void JudgeTrack(diskimage::DiskImage& disk, int row, const DiskShape& g, DiskSurvey* out) {
  const int t = g.TrackIndex(row);
  diskimage::TrackRecord records[diskimage::kMaxTrackRecords];
  const int count = disk.ReadTrackRecords(t, records, diskimage::kMaxTrackRecords);
  // By sector number - 1: the record of its first copy, or -1.
  int seen[kMostSectorsPerTrack];
  for (int& first : seen) first = -1;
  for (int i = 0; i < count && records[i].sectorCount != 0; ++i) {
    const diskimage::TrackRecord& rec = records[i];
    const int r = rec.id[2];
    if (rec.id[0] != (t >> 1) || rec.id[1] != (t & 1) || rec.id[3] != g.sizeCode || r < 1 ||
        r > g.sectorsPerTrack) {
      if (out->strayRecords < kListedStrays) {
        StrayRecord& stray = out->strays[out->strayRecords];
        stray.track = t;
        std::memcpy(stray.id, rec.id, sizeof stray.id);
      }
      ++out->strayRecords;
      continue;
    }
    SectorState& state = out->sectors[row * g.sectorsPerTrack + r - 1];
    // A full first copy is still read; copies that agree leave it right,
    // copies that differ leave unknown which is.
    const bool full = state == SectorState::kIntact || state == SectorState::kLong ||
                      state == SectorState::kDeletedMark || state == SectorState::kDuplicate;
    if (seen[r - 1] >= 0 && full) {
      state = CopiesDiffer(disk, records[seen[r - 1]], rec, g.sectorBytes)
                  ? SectorState::kConflicting
                  : SectorState::kDuplicate;
    }
    if (seen[r - 1] < 0) seen[r - 1] = i;
  }
}

// Fills file's range, state and damage list, and claims its slots.
void JudgeFile(int index, const tool::MediaGeometry& g, DiskSurvey* out) {
  FileSurvey& file = out->files[index];
  const tool::DirectoryEntry& e = file.entry;
  file.range = tool::EntryDataRange(e, g, tool::kLargestDiskBytes);
  const std::int64_t start =
      (static_cast<std::int64_t>(e.track) * g.sectorsPerTrack + e.sector - 1) * g.sectorBytes;
  file.cutOff = e.size < 0 || (e.size > 0 && start + e.size > tool::kLargestDiskBytes);
  const std::int64_t end = static_cast<std::int64_t>(file.range.offset) + file.range.length;
  file.beyondDisk = file.range.length > 0 && end > g.DiskBytes();
  file.unwritableName = !tool::IsWritableName(e.name);
  if (file.range.length == 0) return;
  const std::int64_t diskEnd = end < g.DiskBytes() ? end : g.DiskBytes();
  for (std::int64_t p = file.range.offset / g.sectorBytes; p * g.sectorBytes < diskEnd; ++p) {
    const int slot = static_cast<int>(p);
    if (out->owner[slot] == kNoOwner) out->owner[slot] = static_cast<std::int16_t>(index);
    file.damage.Add(slot, g.sectorsPerTrack, out->sectors[slot], out->facts[slot].status);
  }
}

// Loads every sector 1..spt of every row of shape, each with its size code,
// into its slot of out (data only when withData); unread bytes are zero.
void LoadShape(diskimage::DiskImage& disk, const DiskShape& g, DiskSurvey* out, bool withData) {
  if (withData) std::memset(out->data, 0, sizeof out->data);
  const int sectors = g.rows * g.sectorsPerTrack;
  for (int p = 0; p < sectors; ++p) {
    const int t = g.TrackIndex(p / g.sectorsPerTrack);
    std::uint8_t* bytes =
        withData ? out->data + static_cast<std::size_t>(p) * static_cast<std::size_t>(g.sectorBytes)
                 : nullptr;
    out->requests[p] = diskimage::SectorRequest{
        t, t >> 1, t & 1, p % g.sectorsPerTrack + 1, g.sizeCode, bytes, g.sectorBytes, 0};
  }
  disk.SetSectorRange(1, g.sectorsPerTrack);
  disk.ReadSectorBatch(out->requests, sectors, out->facts);
}

// Returns the shape of a disk of no flat medium from the geometry its
// records show, rows 0 when it shows none the survey can hold.
DiskShape ShapeOf(const geometry::Geometry& shown) {
  DiskShape none{0, 0, 0, 0, 0};
  if (!shown.Known() || shown.shape.sizeCode > 3) return none;
  const DiskShape g{shown.cylinders * shown.heads, shown.heads, shown.shape.sectorsPerTrack,
                    shown.shape.sizeCode, shown.sectorBytes};
  if (g.rows <= 0 || g.sectorsPerTrack > kMostSectorsPerTrack ||
      g.TrackIndex(g.rows - 1) >= kMostTracks ||
      static_cast<std::int64_t>(g.rows) * g.sectorsPerTrack * g.sectorBytes > kDataBytes)
    return none;
  return g;
}

}  // namespace

void LoadRows(diskimage::DiskImage& disk, DiskSurvey* out, int rows) {
  const DiskShape& g = out->shape;
  if (out->slots == 0 || rows <= out->rowsLoaded) return;
  if (rows > g.rows) rows = g.rows;
  const int first = out->rowsLoaded * g.sectorsPerTrack;
  const int count = (rows - out->rowsLoaded) * g.sectorsPerTrack;
  const std::size_t bytes = static_cast<std::size_t>(g.sectorBytes);
  std::memset(out->data + static_cast<std::size_t>(first) * bytes, 0,
              static_cast<std::size_t>(count) * bytes);
  // Answered again exactly as the load answered them, now with their bytes.
  for (int p = first; p < first + count; ++p) {
    out->requests[p].buffer = out->data + static_cast<std::size_t>(p) * bytes;
  }
  disk.SetSectorRange(1, g.sectorsPerTrack);
  disk.ReadSectorBatch(out->requests + first, count);
  out->rowsLoaded = rows;
}

bool SurveyDisk(diskimage::DiskImage& disk, int k, DiskSurvey* out, bool withData) {
  out->slots = 0;
  out->rowsLoaded = 0;
  out->strayRecords = 0;
  out->fileCount = 0;
  out->directoryDamage.count = 0;
  if (!disk.Select(k)) return false;
  SummarizeImage(disk, k, &out->image);
  const tool::MediaGeometry* medium = out->image.medium;
  if (medium != nullptr) {
    out->shape = DiskShape{medium->tracks, 2, medium->sectorsPerTrack, medium->sizeCode,
                           medium->sectorBytes};
    disk.SetSectorRange(1, medium->sectorsPerTrack);
    tool::ReadDirectory(disk, *medium, out->directory);
    tool::LoadDisk(disk, *medium, withData ? out->data : nullptr, out->requests, out->facts);
  } else {
    out->shape = ShapeOf(out->image.geometry);
    if (out->shape.rows == 0) return true;
    std::memset(out->directory, 0, sizeof out->directory);
    LoadShape(disk, out->shape, out, withData);
  }
  const DiskShape& g = out->shape;
  out->slots = g.rows * g.sectorsPerTrack;
  out->rowsLoaded = withData ? g.rows : 0;
  const std::int64_t fileSize = disk.GetFileSize();
  for (int p = 0; p < out->slots; ++p) {
    out->sectors[p] = JudgeSlot(out->requests[p].result, out->facts[p], g, fileSize);
    out->owner[p] = kNoOwner;
  }
  for (int row = 0; row < g.rows; ++row) JudgeTrack(disk, row, g, out);
  if (medium == nullptr) return true;

  const int directorySlots = medium->directoryBytes / medium->sectorBytes;
  for (int p = medium->directorySector - 1; p < medium->directorySector - 1 + directorySlots; ++p) {
    out->owner[p] = kDirectoryOwner;
    out->directoryDamage.Add(p, g.sectorsPerTrack, out->sectors[p], out->facts[p].status);
  }
  for (int i = 0; i < tool::kMaxDirectoryEntries; ++i) {
    FileSurvey& file = out->files[i];
    if (!tool::DecodeDirectoryEntry(out->directory + i * tool::kDirectoryEntryBytes, *medium,
                                    &file.entry))
      break;
    file.damage.count = 0;
    JudgeFile(i, *medium, out);
    out->fileCount = i + 1;
  }
  return true;
}

void DamageList::Add(int p, int spt, SectorState state, std::uint8_t status) {
  if (!DamagesData(state)) return;
  if (count < kListedDamage) first[count] = SectorDamage{p / spt, p % spt + 1, state, status};
  ++count;
}

void Tally::Add(const DiskSurvey& disk) {
  ++images;
  if (disk.image.medium == nullptr) ++unknownMedia;
  if (disk.directoryDamage.count > 0) ++damagedDirectories;
  if (disk.image.cutShort) ++cutShort;
  files += disk.fileCount;
  for (int i = 0; i < disk.fileCount; ++i) {
    if (disk.files[i].unwritableName) ++unwritable;
    if (disk.files[i].Intact()) {
      ++intact;
    } else {
      ++damaged;
    }
  }
}

}  // namespace survey
