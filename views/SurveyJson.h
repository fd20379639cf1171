// The survey as JSON, for list --json and test --json.  Field names are
// part of the program's interface: documented in d88(1), never renamed.
#ifndef D88EXTRACT_VIEWS_SURVEYJSON_H
#define D88EXTRACT_VIEWS_SURVEYJSON_H

#include "survey/Survey.h"
#include "views/JsonWriter.h"

namespace views {

// Writes the name bytes (NUL-terminated) as {"text": decoded, "hex": raw}.
void WriteNameJson(JsonWriter& json, const char* key, const char* bytes);

// Writes disk as one element of the "images" array.
void WriteImageJson(JsonWriter& json, const survey::DiskSurvey& disk);

// Writes the "summary" member.
void WriteSummaryJson(JsonWriter& json, const survey::Tally& tally);

}  // namespace views

#endif
