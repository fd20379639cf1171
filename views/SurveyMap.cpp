// The map as text and as JSON.
#include "views/SurveyMap.h"

#include <cstdio>

#include "views/SurveyJson.h"
#include "views/SurveyText.h"

namespace views {

namespace {

// The mark after a cell's letter, by state (in the order of SectorState):
// blank when intact.
constexpr char kStateMarks[survey::kSectorStates + 1] = " xsld!cm?";

// ANSI foreground colours for file letters, taken in turn.
constexpr int kFileColours[] = {32, 34, 35, 36, 33, 92, 94, 95, 96};
constexpr int kFileColourCount = sizeof kFileColours / sizeof kFileColours[0];

// Writes one cell: a space, the owner's letter and the state's mark; a
// row's last cell leaves out a blank mark, so no line ends in a space.
void PrintCell(output::Sink& out, int owner, survey::SectorState state, bool colour, bool last) {
  const char letter = owner == survey::kDirectoryOwner ? '#' : owner < 0 ? '.' : FileLetter(owner);
  const char mark = kStateMarks[static_cast<int>(state)];
  if (!colour) {
    out.Printf(" %c", letter);
    if (!last || mark != ' ') out.Putc(mark);
    return;
  }
  if (owner >= 0) {
    out.Printf(" \x1b[%dm%c\x1b[0m", kFileColours[owner % kFileColourCount], letter);
  } else {
    out.Printf(" %c", letter);
  }
  // Red for a mark that spoils data, yellow for one that only looks odd.
  if (state == survey::SectorState::kIntact) {
    if (!last) out.Putc(' ');
  } else {
    out.Printf("\x1b[1;%dm%c\x1b[0m", survey::DamagesData(state) ? 31 : 33, mark);
  }
}

// True when no file owns a sector of track t and every one is intact.
bool IsPlainRow(const survey::DiskSurvey& disk, int spt, int t) {
  for (int slot = t * spt; slot < (t + 1) * spt; ++slot) {
    if (disk.owner[slot] != survey::kNoOwner || disk.sectors[slot] != survey::SectorState::kIntact)
      return false;
  }
  return true;
}

void PrintStrays(output::Sink& out, const survey::DiskSurvey& disk) {
  if (disk.strayRecords == 0) return;
  out.Printf("%d record%s not belonging on their track:\n", disk.strayRecords,
             disk.strayRecords == 1 ? "" : "s");
  for (int i = 0; i < disk.strayRecords && i < survey::kListedStrays; ++i) {
    const survey::StrayRecord& s = disk.strays[i];
    out.Printf("  TRK=%02x holds C=%02x H=%02x R=%02x N=%02x\n", s.track, s.id[0], s.id[1], s.id[2],
               s.id[3]);
  }
  if (disk.strayRecords > survey::kListedStrays) {
    out.Printf("  and %d more\n", disk.strayRecords - survey::kListedStrays);
  }
}

}  // namespace

char FileLetter(int index) {
  if (index < 26) return static_cast<char>('A' + index);
  if (index < 52) return static_cast<char>('a' + index - 26);
  return '*';
}

MapGrid GridOf(const survey::DiskSurvey& disk, const survey::FileSystems* fs) {
  MapGrid grid{};
  if (fs == nullptr || fs->chosen == nullptr || fs->IsFlat()) {
    if (disk.image.medium != nullptr) {
      const tool::MediaGeometry& g = *disk.image.medium;
      grid = {g.tracks, g.sectorsPerTrack, {}, disk.fileCount, nullptr, &disk};
      std::snprintf(grid.medium, sizeof grid.medium, "%s", survey::MediumName(g));
      return grid;
    }
    fs = nullptr;
  }
  grid = {disk.shape.rows, disk.shape.sectorsPerTrack, {}, 0, fs, &disk};
  if (fs != nullptr) grid.owners = fs->chosen->EntryCount();
  const geometry::Geometry& shown = disk.image.geometry;
  if (shown.family != nullptr) {
    std::snprintf(grid.medium, sizeof grid.medium, "%s", shown.family->name);
  } else {
    std::snprintf(grid.medium, sizeof grid.medium, "%dx%dx%dx%d", shown.cylinders, shown.heads,
                  disk.shape.sectorsPerTrack, disk.shape.sectorBytes);
  }
  return grid;
}

void MapGrid::PrintOwner(output::Sink& out, int i) const {
  if (fs == nullptr) {
    out.Escaped(disk->files[i].entry.name);
    return;
  }
  char path[filesystem::kMaxPathBytes + 1];
  fs->chosen->Path(i, path, sizeof path);
  out.Escaped(path);
  if (fs->chosen->EntryAt(i).kind == filesystem::EntryKind::kFolder) out.Putc('/');
}

void PrintMap(output::Sink& out, const survey::DiskSurvey& disk, bool colour,
              const survey::FileSystems* fs) {
  const MapGrid g = GridOf(disk, fs);
  PrintImageTitle(out, disk.image);
  out.Printf(
      ", %s: a row per track, a cell per sector: its file%s (# the\n"
      "%s, . none), then x missing, c cut, s short, ! bad status, d duplicate ID,\n"
      "l long, m deleted mark, ? recorded twice with different data\n",
      g.medium, g.fs != nullptr ? " or folder" : "",
      g.fs != nullptr ? "file system's own" : "directory");
  for (int i = 0; i < g.owners; ++i) {
    out.Printf("%s%c=", i == 0 ? "files: " : "  ", FileLetter(i));
    g.PrintOwner(out, i);
  }
  if (g.owners > 0) out.Putc('\n');
  out.Puts("TRK");
  for (int r = 1; r <= g.sectorsPerTrack; ++r)
    out.Printf(r < g.sectorsPerTrack ? " %-2d" : " %d", r);
  out.Putc('\n');
  // A run of rows with nothing to see shows as its first row and a line
  // saying how far it goes.
  const int spt = g.sectorsPerTrack;
  for (int t = 0; t < g.rows; ++t) {
    const bool plain = IsPlainRow(disk, spt, t);
    if (plain && t > 0 && IsPlainRow(disk, spt, t - 1)) {
      if (t + 1 == g.rows || !IsPlainRow(disk, spt, t + 1))
        out.Printf(" .. to %02x the same\n", disk.shape.TrackIndex(t));
      continue;
    }
    out.Printf(" %02x", disk.shape.TrackIndex(t));
    for (int r = 0; r < spt; ++r) {
      const int slot = t * spt + r;
      PrintCell(out, disk.owner[slot], disk.sectors[slot], colour, r + 1 == spt);
    }
    out.Putc('\n');
  }
  PrintStrays(out, disk);
}

void WriteMapJson(JsonWriter& json, const survey::DiskSurvey& disk, const survey::FileSystems* fs) {
  const MapGrid g = GridOf(disk, fs);
  json.Begin(nullptr, '{');
  json.Int("index", disk.image.index);
  json.String("medium", g.medium);
  json.Int("tracks", g.rows);
  json.Int("sectorsPerTrack", g.sectorsPerTrack);
  json.Begin("files", '[');
  for (int i = 0; i < g.owners; ++i) {
    json.Begin(nullptr, '{', true);
    const char letter[2] = {FileLetter(i), '\0'};
    json.String("letter", letter);
    if (g.fs == nullptr) {
      WriteNameJson(json, "name", disk.files[i].entry.name);
    } else {
      char path[filesystem::kMaxPathBytes + 1];
      g.fs->chosen->Path(i, path, sizeof path);
      json.String("path", path);
    }
    json.End();
  }
  json.End();
  // Cells as [file index, or -1 none, -2 directory; state; the record's
  // status, density and deleted-mark bytes], a row per track.
  json.Begin("rows", '[');
  for (int t = 0; t < g.rows; ++t) {
    json.Begin(nullptr, '[', true);
    for (int r = 0; r < g.sectorsPerTrack; ++r) {
      const int slot = t * g.sectorsPerTrack + r;
      json.Begin(nullptr, '[');
      json.Int(nullptr, disk.owner[slot]);
      json.String(nullptr, survey::SectorStateName(disk.sectors[slot]));
      const diskimage::RecordFacts& record = disk.facts[slot];
      json.Int(nullptr, record.status);
      json.Int(nullptr, record.density);
      json.Int(nullptr, record.deletedMark);
      json.End();
    }
    json.End();
  }
  json.End();
  json.Int("strayRecordCount", disk.strayRecords);
  json.Begin("strayRecords", '[');
  for (int i = 0; i < disk.strayRecords && i < survey::kListedStrays; ++i) {
    const survey::StrayRecord& s = disk.strays[i];
    json.Begin(nullptr, '{', true);
    json.Int("track", s.track);
    const char* keys[4] = {"c", "h", "r", "n"};
    for (int b = 0; b < 4; ++b) json.Int(keys[b], s.id[b]);
    json.End();
  }
  json.End();
  json.End();
}

}  // namespace views
