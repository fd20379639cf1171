#include "views/SurveyJson.h"

#include <cstring>

#include "output/NameText.h"
#include "views/FileSystemViews.h"

namespace views {

namespace {

void WriteMedium(JsonWriter& json, const char* key, const tool::MediaGeometry* medium) {
  if (medium == nullptr) {
    json.Null(key);
  } else {
    json.String(key, survey::MediumName(*medium));
  }
}

// Writes what the records show of the disk's geometry; null when they
// show none.  Track 0's own shape only where it differs.
void WriteGeometry(JsonWriter& json, const geometry::Geometry& shown) {
  if (!shown.Known()) {
    json.Null("geometry");
    return;
  }
  json.Begin("geometry", '{', true);
  json.Int("cylinders", shown.cylinders);
  json.Int("heads", shown.heads);
  json.Int("sectorsPerTrack", shown.shape.sectorsPerTrack);
  json.Int("sectorBytes", shown.sectorBytes);
  if (shown.family == nullptr) {
    json.Null("family");
  } else {
    json.String("family", shown.family->name);
  }
  if (shown.track0Differs) {
    json.Begin("track0", '{', true);
    json.Int("sectorsPerTrack", shown.track0.sectorsPerTrack);
    json.Int("sectorBytes", 128 << shown.track0.sizeCode);
    json.End();
  }
  json.End();
}

// Writes the count of damage under countKey and the listed sectors under
// listKey.
}  // namespace

void WriteDamageJson(JsonWriter& json, const char* countKey, const char* listKey,
                     const survey::DamageList& damage) {
  json.Int(countKey, damage.count);
  json.Begin(listKey, '[');
  for (int i = 0; i < damage.count && i < survey::kListedDamage; ++i) {
    json.Begin(nullptr, '{', true);
    json.Int("track", damage.first[i].track);
    json.Int("sector", damage.first[i].sector);
    json.String("state", survey::SectorStateName(damage.first[i].state));
    if (damage.first[i].state == survey::SectorState::kBadStatus) {
      char error[survey::kStatusTextBytes];
      survey::DescribeStatus(damage.first[i].status, error);
      json.Int("status", damage.first[i].status);
      json.String("error", error);
    }
    json.End();
  }
  json.End();
}

void WriteFlatFileFields(JsonWriter& json, const survey::FileSurvey& file) {
  WriteNameJson(json, "name", file.entry.name);
  json.Int("track", file.entry.track);
  json.Int("sector", file.entry.sector);
  json.Int("size", file.entry.size);
  json.Bool("intact", file.Intact());
  WriteDamageJson(json, "damagedSectorCount", "damagedSectors", file.damage);
  json.Bool("cutOff", file.cutOff);
  json.Bool("beyondDisk", file.beyondDisk);
  json.Bool("writableName", !file.unwritableName);
}

void WriteNameJson(JsonWriter& json, const char* key, const char* bytes) {
  const std::size_t length = std::strlen(bytes);
  char text[output::kNameTextBytes];
  char hex[output::kNameTextBytes];
  output::DecodeName(bytes, length, text, sizeof text);
  output::HexName(bytes, length, hex, sizeof hex);
  json.Begin(key, '{', true);
  json.String("text", text);
  json.String("hex", hex);
  json.End();
}

void WriteHashFields(JsonWriter& json, const survey::ImageSummary& image,
                     const survey::ImageHashes& hashes) {
  json.Int("index", image.index);
  WriteNameJson(json, "name", image.name);
  json.Int("size", hashes.size);
  json.String("crc32", hashes.crc32);
  json.String("sha1", hashes.sha1);
  json.String("content", hashes.content);
}

void WriteImageJson(JsonWriter& json, const survey::DiskSurvey& disk, survey::FileSystems* fs) {
  const survey::ImageSummary& image = disk.image;
  json.Begin(nullptr, '{');
  json.Int("index", image.index);
  WriteNameJson(json, "name", image.name);
  json.Int("mediaByte", image.mediaByte);
  WriteMedium(json, "medium", image.medium);
  WriteMedium(json, "recordMedium", image.recordMedium);
  json.Bool("mediumFromRecords", image.mediumFromRecords);
  json.Int("size", image.size);
  json.Bool("sizeFieldBroken", image.sizeFieldBroken);
  json.Int("headerBytes", image.headerBytes);
  json.Bool("cutShort", image.cutShort);
  json.Int("bytesInFile", image.bytesInFile);
  json.Int("tracksRecorded", image.tracksRecorded);
  WriteGeometry(json, image.geometry);
  json.Int("strayRecords", disk.strayRecords);
  WriteDamageJson(json, "directoryDamagedSectorCount", "directoryDamagedSectors",
                  disk.directoryDamage);
  if (fs != nullptr) {
    WriteFileSystemJson(json, disk, *fs);
  } else {
    json.Begin("files", '[');
    for (int i = 0; i < disk.fileCount; ++i) {
      json.Begin(nullptr, '{');
      WriteFlatFileFields(json, disk.files[i]);
      json.End();
    }
    json.End();
  }
  json.End();
}

void WriteSummaryJson(JsonWriter& json, const survey::Tally& tally) {
  json.Begin("summary", '{');
  json.Int("images", tally.images);
  json.Int("unknownMedia", tally.unknownMedia);
  json.Int("damagedDirectories", tally.damagedDirectories);
  json.Int("files", tally.files);
  json.Int("intact", tally.intact);
  json.Int("damaged", tally.damaged);
  json.Int("cutShort", tally.cutShort);
  json.Int("unrecognised", tally.unrecognised);
  json.Int("unwritableNames", tally.unwritable);
  json.Int("bytesAfterLastImage", tally.bytesAfter);
  json.Bool("bytesAfterLikeImageHeader", tally.bytesAfterLikeImage);
  json.End();
}

}  // namespace views
