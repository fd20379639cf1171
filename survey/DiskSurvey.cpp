// One disk in full: its sectors' states, the stray records and the files.
//
// The data is loaded exactly as the extraction tool loads it (one batch
// over all sector slots), so a file's bytes here are the bytes the tool
// writes.  The states come from two sources that agree by construction:
// the batch results say whether a slot got a full sector, and one bounded
// listing per track says what the record that filled it looked like.
#include <cstring>

#include "diskimage/DiskImage.h"
#include "survey/Survey.h"
#include "tool/Extraction.h"

namespace survey {

namespace {

// Judges the slots of track t from its records, and notes the strays.  A
// record only counts where the load would reach it: a count of 0 ends the
// walk before its own ID is looked at.
void JudgeTrack(DiskImage& disk, int t, const MediaGeometry& g, DiskSurvey* out) {
  d88::TrackRecord records[d88::kMaxTrackRecords];
  const int count = disk.ReadTrackRecords(t, records, d88::kMaxTrackRecords);
  // By sector number - 1: the location's 4-bit sector field caps spt at 16.
  bool seen[16] = {};
  for (int i = 0; i < count && records[i].sectorCount != 0; ++i) {
    const d88::TrackRecord& rec = records[i];
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
    if (seen[r - 1]) {
      // A full first copy is still read, but which copy is right is unknown.
      if (state == SectorState::kIntact || state == SectorState::kLong)
        state = SectorState::kDuplicate;
      continue;
    }
    seen[r - 1] = true;
    // Missing and short slots are already judged by the load itself.
    if (state != SectorState::kIntact) continue;
    if (rec.status != 0) {
      state = SectorState::kFlaggedBad;
    } else if (rec.dataLength > g.sectorBytes) {
      state = SectorState::kLong;
    }
  }
}

// Fills file's range, state and damage list, and claims its slots.
void JudgeFile(int index, const MediaGeometry& g, DiskSurvey* out) {
  FileSurvey& file = out->files[index];
  const DirectoryEntry& e = file.entry;
  file.range = EntryDataRange(e, g, kLargestDiskBytes);
  const std::int64_t start =
      (static_cast<std::int64_t>(e.track) * g.sectorsPerTrack + e.sector - 1) * g.sectorBytes;
  file.cutOff = e.size < 0 || (e.size > 0 && start + e.size > kLargestDiskBytes);
  const std::int64_t end = static_cast<std::int64_t>(file.range.offset) + file.range.length;
  file.beyondDisk = file.range.length > 0 && end > g.DiskBytes();
  if (file.range.length == 0) return;
  const std::int64_t diskEnd = end < g.DiskBytes() ? end : g.DiskBytes();
  for (std::int64_t p = file.range.offset / g.sectorBytes; p * g.sectorBytes < diskEnd; ++p) {
    const int slot = static_cast<int>(p);
    if (out->owner[slot] == kNoOwner) out->owner[slot] = static_cast<std::int16_t>(index);
    file.damage.Add(slot, g.sectorsPerTrack, out->sectors[slot]);
  }
}

}  // namespace

bool SurveyDisk(DiskImage& disk, int k, DiskSurvey* out) {
  out->slots = 0;
  out->strayRecords = 0;
  out->fileCount = 0;
  out->directoryDamage.count = 0;
  if (!disk.Select(k)) return false;
  SummarizeImage(disk, k, &out->image);
  if (out->image.medium == nullptr) return true;
  const MediaGeometry& g = *out->image.medium;
  disk.SetSectorRange(1, g.sectorsPerTrack);
  ReadDirectory(disk, g, out->directory);
  LoadDisk(disk, g, out->data, out->requests);

  out->slots = g.tracks * g.sectorsPerTrack;
  for (int p = 0; p < out->slots; ++p) {
    const int got = out->requests[p].result;
    out->sectors[p] = got == 0              ? SectorState::kMissing
                      : got < g.sectorBytes ? SectorState::kShort
                                            : SectorState::kIntact;
    out->owner[p] = kNoOwner;
  }
  const int directorySlots = g.directoryBytes / g.sectorBytes;
  for (int p = g.directorySector - 1; p < g.directorySector - 1 + directorySlots; ++p) {
    out->owner[p] = kDirectoryOwner;
  }
  for (int t = 0; t < g.tracks; ++t) JudgeTrack(disk, t, g, out);
  for (int p = g.directorySector - 1; p < g.directorySector - 1 + directorySlots; ++p) {
    out->directoryDamage.Add(p, g.sectorsPerTrack, out->sectors[p]);
  }

  for (int i = 0; i < kMaxDirectoryEntries; ++i) {
    FileSurvey& file = out->files[i];
    if (!DecodeDirectoryEntry(out->directory + i * kDirectoryEntryBytes, g, &file.entry)) break;
    file.damage.count = 0;
    JudgeFile(i, g, out);
    out->fileCount = i + 1;
  }
  return true;
}

void DamageList::Add(int p, int spt, SectorState state) {
  if (!DamagesData(state)) return;
  if (count < kListedDamage) first[count] = SectorDamage{p / spt, p % spt + 1, state};
  ++count;
}

void Tally::Add(const DiskSurvey& disk) {
  ++images;
  if (disk.image.medium == nullptr) ++unknownMedia;
  if (disk.directoryDamage.count > 0) ++damagedDirectories;
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
