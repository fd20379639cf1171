#include "views/SurveyText.h"

#include <cstring>

#include "views/NameText.h"

namespace views {

namespace {

// A file's listing line, as the extraction tool prints it.
constexpr char kListingLine[] = "%-4s TRK=%02x SEC=%02x SIZE=%d\n";

// Returns "s" unless count is 1.
const char* Plural(int count) { return count == 1 ? "" : "s"; }

// Writes "damaged:" and the sectors of damage.
void PrintDamage(std::FILE* out, const survey::DamageList& damage) {
  std::fputs("damaged:", out);
  for (int i = 0; i < damage.count && i < survey::kListedDamage; ++i) {
    const survey::SectorDamage& d = damage.first[i];
    // A bad status is named by what it means.
    char status[survey::kStatusTextBytes];
    survey::DescribeStatus(d.status, status);
    std::fprintf(
        out, "%s TRK=%02x SEC=%02x %s", i > 0 ? "," : "", d.track, d.sector,
        d.state == survey::SectorState::kBadStatus ? status : survey::SectorStateName(d.state));
  }
  if (damage.count > survey::kListedDamage) {
    std::fprintf(out, " and %d more", damage.count - survey::kListedDamage);
  }
}

// Writes what is wrong with file, or "intact".
void PrintFileState(std::FILE* out, const survey::FileSurvey& file) {
  if (file.Intact()) {
    std::fputs("intact", out);
    return;
  }
  const char* separator = "";
  if (file.damage.count > 0) {
    PrintDamage(out, file.damage);
    separator = "; ";
  }
  if (file.cutOff) {
    std::fprintf(out, "%scut off", separator);
    separator = "; ";
  }
  if (file.beyondDisk) std::fprintf(out, "%sreads zeros beyond the disk", separator);
}

}  // namespace

void PrintImageLine(std::FILE* out, const survey::ImageSummary& image) {
  char name[kNameTextBytes];
  DecodeName(image.name, std::strlen(image.name), name, sizeof name);
  std::fprintf(out,
               "image %d \"%s\": media byte 0x%02x, medium %s%s, size %lu, %d tracks recorded\n",
               image.index, name, image.mediaByte,
               image.medium != nullptr ? survey::MediumName(*image.medium) : "unknown",
               image.mediumFromRecords ? " (from the records)" : "",
               static_cast<unsigned long>(image.size), image.tracksRecorded);
}

void PrintMediumWarning(std::FILE* err, const survey::ImageSummary& image) {
  if (!image.mediumFromRecords) return;
  std::fprintf(err, "d88: image %d: media byte 0x%02x, records are %s\n", image.index,
               image.mediaByte, survey::MediumName(*image.recordMedium));
}

void PrintSizeWarning(std::FILE* err, const survey::ImageSummary& image) {
  if (!image.sizeFieldBroken) return;
  std::fprintf(err,
               "d88: image %d: size field %lu is smaller than an image header; taken to run to "
               "the end of the file\n",
               image.index, static_cast<unsigned long>(image.size));
}

void PrintCutShort(std::FILE* out, const survey::ImageSummary& image, bool warning) {
  if (!image.cutShort) return;
  std::fprintf(out, "%simage %d: cut short: the file holds %lld of its %lu bytes\n",
               warning ? "d88: " : "", image.index, static_cast<long long>(image.bytesInFile),
               static_cast<unsigned long>(image.size));
}

void PrintDirectoryDamage(std::FILE* out, const survey::DiskSurvey& disk) {
  if (disk.directoryDamage.count == 0) return;
  std::fprintf(out, "image %d: directory ", disk.image.index);
  PrintDamage(out, disk.directoryDamage);
  std::fputs(", entries may be lost\n", out);
}

void PrintListingLine(std::FILE* out, const DirectoryEntry& entry) {
  std::fprintf(out, kListingLine, entry.name, entry.track, entry.sector, entry.size);
}

void PrintListedFile(std::FILE* out, const survey::FileSurvey& file) {
  char line[64];
  std::snprintf(line, sizeof line, kListingLine, file.entry.name, file.entry.track,
                file.entry.sector, file.entry.size);
  line[std::strcspn(line, "\n")] = '\0';
  std::fprintf(out, "%s  ", line);
  PrintFileState(out, file);
  std::fputc('\n', out);
}

void PrintProblems(std::FILE* out, const survey::DiskSurvey& disk) {
  PrintCutShort(out, disk.image, false);
  if (disk.image.medium == nullptr) {
    std::fprintf(out, "image %d: medium unknown (media byte 0x%02x), files not checked\n",
                 disk.image.index, disk.image.mediaByte);
    return;
  }
  PrintDirectoryDamage(out, disk);
  for (int i = 0; i < disk.fileCount; ++i) {
    const survey::FileSurvey& file = disk.files[i];
    if (file.Intact()) continue;
    char name[kNameTextBytes];
    DecodeName(file.entry.name, std::strlen(file.entry.name), name, sizeof name);
    std::fprintf(out, "image %d: %s: ", disk.image.index, name);
    PrintFileState(out, file);
    std::fputc('\n', out);
  }
}

void PrintSummary(std::FILE* out, const survey::Tally& tally) {
  std::fprintf(out, "%d file%s in %d image%s: %d intact, %d damaged", tally.files,
               Plural(tally.files), tally.images, Plural(tally.images), tally.intact,
               tally.damaged);
  if (tally.damagedDirectories > 0) {
    std::fprintf(out, ", %d damaged director%s", tally.damagedDirectories,
                 tally.damagedDirectories == 1 ? "y" : "ies");
  }
  if (tally.unknownMedia > 0) {
    std::fprintf(out, ", %d image%s of unknown medium", tally.unknownMedia,
                 Plural(tally.unknownMedia));
  }
  if (tally.cutShort > 0) {
    std::fprintf(out, ", %d image%s cut short", tally.cutShort, Plural(tally.cutShort));
  }
  std::fputc('\n', out);
}

}  // namespace views
