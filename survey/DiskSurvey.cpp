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
SectorState JudgeSlot(int bytes, const diskimage::RecordFacts& record, const tool::MediaGeometry& g,
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

// Marks the slots of track t whose ID is recorded twice, and notes the
// strays.  A record only counts where the load would reach it: a count of
// 0 ends the walk before its own ID is looked at.
void JudgeTrack(diskimage::DiskImage& disk, int t, const tool::MediaGeometry& g, DiskSurvey* out) {
  diskimage::TrackRecord records[diskimage::kMaxTrackRecords];
  const int count = disk.ReadTrackRecords(t, records, diskimage::kMaxTrackRecords);
  // By sector number - 1: the location's 4-bit sector field caps spt at 16.
  bool seen[16] = {};
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
    SectorState& state = out->sectors[t * g.sectorsPerTrack + r - 1];
    // A full first copy is still read, but which copy is right is unknown.
    if (seen[r - 1] && (state == SectorState::kIntact || state == SectorState::kLong ||
                        state == SectorState::kDeletedMark)) {
      state = SectorState::kDuplicate;
    }
    seen[r - 1] = true;
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
  if (file.range.length == 0) return;
  const std::int64_t diskEnd = end < g.DiskBytes() ? end : g.DiskBytes();
  for (std::int64_t p = file.range.offset / g.sectorBytes; p * g.sectorBytes < diskEnd; ++p) {
    const int slot = static_cast<int>(p);
    if (out->owner[slot] == kNoOwner) out->owner[slot] = static_cast<std::int16_t>(index);
    file.damage.Add(slot, g.sectorsPerTrack, out->sectors[slot], out->facts[slot].status);
  }
}

}  // namespace

bool SurveyDisk(diskimage::DiskImage& disk, int k, DiskSurvey* out, bool withData) {
  out->slots = 0;
  out->strayRecords = 0;
  out->fileCount = 0;
  out->directoryDamage.count = 0;
  if (!disk.Select(k)) return false;
  SummarizeImage(disk, k, &out->image);
  if (out->image.medium == nullptr) return true;
  const tool::MediaGeometry& g = *out->image.medium;
  disk.SetSectorRange(1, g.sectorsPerTrack);
  tool::ReadDirectory(disk, g, out->directory);
  tool::LoadDisk(disk, g, withData ? out->data : nullptr, out->requests, out->facts);

  out->slots = g.tracks * g.sectorsPerTrack;
  const std::int64_t fileSize = disk.GetFileSize();
  for (int p = 0; p < out->slots; ++p) {
    out->sectors[p] = JudgeSlot(out->requests[p].result, out->facts[p], g, fileSize);
    out->owner[p] = kNoOwner;
  }
  const int directorySlots = g.directoryBytes / g.sectorBytes;
  for (int p = g.directorySector - 1; p < g.directorySector - 1 + directorySlots; ++p) {
    out->owner[p] = kDirectoryOwner;
  }
  for (int t = 0; t < g.tracks; ++t) JudgeTrack(disk, t, g, out);
  for (int p = g.directorySector - 1; p < g.directorySector - 1 + directorySlots; ++p) {
    out->directoryDamage.Add(p, g.sectorsPerTrack, out->sectors[p], out->facts[p].status);
  }

  for (int i = 0; i < tool::kMaxDirectoryEntries; ++i) {
    FileSurvey& file = out->files[i];
    if (!tool::DecodeDirectoryEntry(out->directory + i * tool::kDirectoryEntryBytes, g,
                                    &file.entry))
      break;
    file.damage.count = 0;
    JudgeFile(i, g, out);
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
    if (disk.files[i].Intact()) {
      ++intact;
    } else {
      ++damaged;
    }
  }
}

}  // namespace survey
