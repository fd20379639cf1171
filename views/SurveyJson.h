// The survey as JSON, for list --json and test --json.  Field names are
// part of the program's interface: documented in d88(1), never renamed.
#ifndef D88EXTRACT_VIEWS_SURVEYJSON_H
#define D88EXTRACT_VIEWS_SURVEYJSON_H

#include "survey/FileSystems.h"
#include "survey/ImageHashes.h"
#include "survey/Survey.h"
#include "views/JsonWriter.h"

namespace views {

// Writes the name bytes (NUL-terminated) as {"text": decoded, "hex": raw}.
void WriteNameJson(JsonWriter& json, const char* key, const char* bytes);

// Writes disk as one element of the "images" array; with fs, its file
// system, folders and files as fs reads them.
void WriteImageJson(JsonWriter& json, const survey::DiskSurvey& disk,
                    survey::FileSystems* fs = nullptr);

// Writes the count of damage under countKey and the listed sectors under
// listKey.
void WriteDamageJson(JsonWriter& json, const char* countKey, const char* listKey,
                     const survey::DamageList& damage);

// Writes the members of one flat file's object.
void WriteFlatFileFields(JsonWriter& json, const survey::FileSurvey& file);

// Writes the members of d88 hash's object of an image: its index, name,
// size, crc32, sha1 and content.
void WriteHashFields(JsonWriter& json, const survey::ImageSummary& image,
                     const survey::ImageHashes& hashes);

// Writes the "summary" member.
void WriteSummaryJson(JsonWriter& json, const survey::Tally& tally);

}  // namespace views

#endif
