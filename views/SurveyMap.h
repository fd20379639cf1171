// The sector map of one disk: one row per track, one cell per sector the
// medium should have, showing the file that owns it and what became of it.
// As text (coloured or plain), as JSON and as an SVG picture.
#ifndef D88EXTRACT_VIEWS_SURVEYMAP_H
#define D88EXTRACT_VIEWS_SURVEYMAP_H

#include "survey/FileSystems.h"
#include "survey/Survey.h"
#include "views/JsonWriter.h"

namespace views {

// Returns the map letter of file index: A-Z, a-z, then '*' for the rest.
char FileLetter(int index);

// The grid a map draws and the owners its letters name: a flat medium's,
// its files by their names; or the disk's own geometry, the entries of the
// file system read by their paths.
struct MapGrid {
  int rows;
  int sectorsPerTrack;
  char medium[48];                // "2HD", a family's name or the geometry's numbers
  int owners;                     // entries with a letter
  const survey::FileSystems* fs;  // null when the owners are the flat files
  const survey::DiskSurvey* disk;

  // Writes owner i's name: the flat file's bytes as escaped text, or the
  // entry's path with a '/' after a folder.
  void PrintOwner(output::Sink& out, int i) const;
};

// Returns the grid of disk, read by fs (null or flat: the flat files).
MapGrid GridOf(const survey::DiskSurvey& disk, const survey::FileSystems* fs);

// Writes the map of disk as text, with ANSI colours when colour is set.
// The disk must have a geometry; fs, when not null, is its file system.
void PrintMap(output::Sink& out, const survey::DiskSurvey& disk, bool colour,
              const survey::FileSystems* fs = nullptr);

// Writes the map of disk as the JSON document of map --json.
void WriteMapJson(JsonWriter& json, const survey::DiskSurvey& disk,
                  const survey::FileSystems* fs = nullptr);

// Writes the map of disk as an SVG document: tracks across, sectors down,
// files in distinct colours, damage marked, a legend below.
void WriteMapSvg(output::Sink& out, const survey::DiskSurvey& disk,
                 const survey::FileSystems* fs = nullptr);

}  // namespace views

#endif
