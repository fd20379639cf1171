#include "views/SurveyText.h"

#include <cstring>

#include "output/NameText.h"

namespace views {

namespace {

// Returns "s" unless count is 1.
const char* Plural(int count) { return count == 1 ? "" : "s"; }

// Writes "damaged:" and the sectors of damage.
}  // namespace

void PrintDamage(output::Sink& out, const survey::DamageList& damage) {
  out.Puts("damaged:");
  for (int i = 0; i < damage.count && i < survey::kListedDamage; ++i) {
    const survey::SectorDamage& d = damage.first[i];
    // A bad status is named by what it means.
    char status[survey::kStatusTextBytes];
    survey::DescribeStatus(d.status, status);
    out.Printf(
        "%s TRK=%02x SEC=%02x %s", i > 0 ? "," : "", d.track, d.sector,
        d.state == survey::SectorState::kBadStatus ? status : survey::SectorStateName(d.state));
  }
  if (damage.count > survey::kListedDamage) {
    out.Printf(" and %d more", damage.count - survey::kListedDamage);
  }
}

namespace {

// Writes entry's listing line, as the extraction tool prints it but for the
// name, decoded and its controls shown as \xNN; without the line end.  The
// name keeps the tool's column: a Shift_JIS byte is one column wide.
void PrintEntry(output::Sink& out, const tool::DirectoryEntry& entry) {
  char name[output::kNameTextBytes];
  output::EscapeControls(entry.name, name, sizeof name);
  const std::size_t columns = std::strlen(name);
  output::DecodeName(entry.name, std::strlen(entry.name), name, sizeof name,
                     output::Controls::kEscape);
  out.Puts(name);
  // The tool pads the name to 4 bytes, counted as it stands.
  static constexpr char kPadding[] = "    ";
  out.Puts(&kPadding[columns < 4 ? columns : 4]);
  // The tool's format after its name's "%-4s".
  out.Printf(tool::kListingLineFormat + 4, entry.track, entry.sector, entry.size);
}

}  // namespace

void PrintFileState(output::Sink& out, const survey::FileSurvey& file) {
  if (file.Intact() && !file.unwritableName) {
    out.Puts("intact");
    return;
  }
  const char* separator = file.Intact() ? "intact; " : "";
  if (file.damage.count > 0) {
    PrintDamage(out, file.damage);
    separator = "; ";
  }
  if (file.cutOff) {
    out.Printf("%scut off", separator);
    separator = "; ";
  }
  if (file.beyondDisk) {
    out.Printf("%sreads zeros beyond the disk", separator);
    separator = "; ";
  }
  if (file.unwritableName) out.Printf("%scannot be written under its name", separator);
}

void PrintImageTitle(output::Sink& out, const survey::ImageSummary& image) {
  out.Printf("image %d \"", image.index);
  out.DecodedName(image.name);
  out.Putc('"');
}

void PrintImageLine(output::Sink& out, const survey::ImageSummary& image) {
  PrintImageTitle(out, image);
  out.Printf(": media byte 0x%02x, medium %s%s, size %lu, %d track%s recorded", image.mediaByte,
             image.medium != nullptr ? survey::MediumName(*image.medium) : "unknown",
             image.mediumFromRecords ? " (from the records)" : "",
             static_cast<unsigned long>(image.size), image.tracksRecorded,
             image.tracksRecorded == 1 ? "" : "s");
  // A disk of neither medium says what the records show instead.
  const geometry::Geometry& shown = image.geometry;
  if (image.medium == nullptr && shown.Known()) {
    out.Printf(", geometry %dx%dx%dx%d", shown.cylinders, shown.heads, shown.shape.sectorsPerTrack,
               shown.sectorBytes);
    if (shown.family != nullptr) out.Printf(" (%s)", shown.family->name);
    if (shown.track0Differs) {
      out.Printf(", track 0 %dx%d", shown.track0.sectorsPerTrack, 128 << shown.track0.sizeCode);
    }
  }
  out.Putc('\n');
}

void PrintMediumWarning(output::Sink& err, const survey::ImageSummary& image) {
  if (!image.mediumFromRecords) return;
  err.Printf("d88: image %d: media byte 0x%02x, records are %s\n", image.index, image.mediaByte,
             survey::MediumName(*image.recordMedium));
}

void PrintSizeWarning(output::Sink& err, const survey::ImageSummary& image) {
  if (image.headerBytes != diskimage::kImageHeaderSize) {
    err.Printf(
        "d88: image %d: header of %d bytes: its track table holds %d entries, the first track "
        "follows it\n",
        image.index, image.headerBytes,
        (image.headerBytes - diskimage::kTrackTableOffset) / diskimage::kTrackEntrySize);
  }
  if (!image.sizeFieldBroken) return;
  err.Printf(
      "d88: image %d: size field %lu is smaller than an image header; taken to run to "
      "the end of the file\n",
      image.index, static_cast<unsigned long>(image.size));
}

void PrintCutShort(output::Sink& out, const survey::ImageSummary& image, bool warning) {
  if (!image.cutShort) return;
  out.Printf("%simage %d: cut short: the file holds %lld of its %lu bytes\n",
             warning ? "d88: " : "", image.index, static_cast<long long>(image.bytesInFile),
             static_cast<unsigned long>(image.size));
}

void PrintImageWarnings(output::Sink& out, const survey::ImageSummary& image, bool warning) {
  PrintMediumWarning(out, image);
  PrintSizeWarning(out, image);
  PrintCutShort(out, image, warning);
}

void PrintDirectoryDamage(output::Sink& out, const survey::DiskSurvey& disk) {
  if (disk.directoryDamage.count == 0) return;
  out.Printf("image %d: directory ", disk.image.index);
  PrintDamage(out, disk.directoryDamage);
  out.Puts(", entries may be lost\n");
}

void PrintListingLine(output::Sink& out, const tool::DirectoryEntry& entry) {
  PrintEntry(out, entry);
  out.Putc('\n');
}

void PrintListedFile(output::Sink& out, const survey::FileSurvey& file) {
  PrintEntry(out, file.entry);
  out.Puts("  ");
  PrintFileState(out, file);
  out.Putc('\n');
}

void PrintProblems(output::Sink& out, const survey::DiskSurvey& disk) {
  PrintCutShort(out, disk.image, false);
  if (disk.image.medium == nullptr) {
    out.Printf("image %d: medium unknown (media byte 0x%02x), files not checked\n",
               disk.image.index, disk.image.mediaByte);
    return;
  }
  PrintDirectoryDamage(out, disk);
  for (int i = 0; i < disk.fileCount; ++i) {
    const survey::FileSurvey& file = disk.files[i];
    if (file.Intact() && !file.unwritableName) continue;
    out.Printf("image %d: ", disk.image.index);
    out.DecodedName(file.entry.name);
    out.Puts(": ");
    PrintFileState(out, file);
    out.Putc('\n');
  }
}

void PrintSummary(output::Sink& out, const survey::Tally& tally) {
  out.Printf("%d file%s in %d image%s: %d intact, %d damaged", tally.files, Plural(tally.files),
             tally.images, Plural(tally.images), tally.intact, tally.damaged);
  if (tally.damagedDirectories > 0) {
    out.Printf(", %d damaged director%s", tally.damagedDirectories,
               tally.damagedDirectories == 1 ? "y" : "ies");
  }
  if (tally.unknownMedia > 0) {
    out.Printf(", %d image%s of unknown medium", tally.unknownMedia, Plural(tally.unknownMedia));
  }
  if (tally.unrecognised > 0) {
    out.Printf(", %d image%s with no file system recognised", tally.unrecognised,
               Plural(tally.unrecognised));
  }
  if (tally.cutShort > 0) {
    out.Printf(", %d image%s cut short", tally.cutShort, Plural(tally.cutShort));
  }
  if (tally.unwritable > 0) {
    out.Printf(", %d file%s that cannot be written under %s name%s", tally.unwritable,
               Plural(tally.unwritable), tally.unwritable == 1 ? "its" : "their",
               Plural(tally.unwritable));
  }
  if (tally.bytesAfter > 0) {
    out.Printf(", %lld byte%s after the last image%s", static_cast<long long>(tally.bytesAfter),
               tally.bytesAfter == 1 ? "" : "s",
               tally.bytesAfterLikeImage ? ", like the start of an image cut off" : "");
  }
  out.Putc('\n');
}

void PrintBytesAfter(output::Sink& out, const survey::Tally& tally) {
  if (tally.bytesAfter == 0) return;
  out.Printf("after the last image: %lld byte%s that %s\n",
             static_cast<long long>(tally.bytesAfter), tally.bytesAfter == 1 ? "" : "s",
             tally.bytesAfterLikeImage
                 ? "start like an image header: an image cut off, its files lost"
                 : "do not start like an image header");
}

}  // namespace views
