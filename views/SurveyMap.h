// The sector map of one disk: one row per track, one cell per sector the
// medium should have, showing the file that owns it and what became of it.
// As text (coloured or plain), as JSON and as an SVG picture.
#ifndef D88EXTRACT_VIEWS_SURVEYMAP_H
#define D88EXTRACT_VIEWS_SURVEYMAP_H

#include "survey/Survey.h"
#include "views/JsonWriter.h"

namespace views {

// Returns the map letter of file index: A-Z, a-z, then '*' for the rest.
char FileLetter(int index);

// Writes the map of disk as text, with ANSI colours when colour is set.
// The disk's medium must be known.
void PrintMap(output::Sink& out, const survey::DiskSurvey& disk, bool colour);

// Writes the map of disk as the JSON document of map --json.
void WriteMapJson(JsonWriter& json, const survey::DiskSurvey& disk);

// Writes the map of disk as an SVG document: tracks across, sectors down,
// files in distinct colours, damage marked, a legend below.
void WriteMapSvg(output::Sink& out, const survey::DiskSurvey& disk);

}  // namespace views

#endif
