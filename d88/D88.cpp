// The verbs: each opens the container, surveys its disks one at a time into
// one static survey, and hands them to a view.
#include "d88/D88.h"

#include <cstdlib>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "d88/Options.h"
#include "d88/WorkDirectory.h"
#include "diskimage/DiskImage.h"
#include "survey/Survey.h"
#include "tool/Extraction.h"
#include "views/JsonWriter.h"
#include "views/SurveyJson.h"
#include "views/SurveyMap.h"
#include "views/SurveyText.h"

#ifndef D88_VERSION
#error "D88_VERSION must give the program's version"
#endif

namespace {

// One disk at a time; it holds the loaded disk, so it is not on the stack.
survey::DiskSurvey diskSurvey;

// Opens the container; false after the message when it cannot be read or
// holds no image at all.
bool OpenContainer(DiskImage& disk, const char* path, const Console& console) {
  if (!disk.Open(path)) {
    std::fprintf(console.err, "d88: cannot open %s\n", path);
    return false;
  }
  if (disk.GetImageCount() == 0) {
    std::fprintf(console.err, "d88: %s holds no disk image\n", path);
    return false;
  }
  return true;
}

// list and test: every disk of the container, in text or JSON.
int SurveyAll(DiskImage& disk, const cli::Options& options, const Console& console) {
  if (!OpenContainer(disk, options.container, console)) return kExitFailure;
  const bool list = options.verb == cli::Verb::kList;
  views::JsonWriter json(console.out);
  if (options.json) {
    json.Begin(nullptr, '{');
    json.Begin("images", '[');
  }
  survey::Tally tally;
  const int images = survey::CountImages(disk);
  for (int k = 0; k < images; ++k) {
    survey::SurveyDisk(disk, k, &diskSurvey);
    tally.Add(diskSurvey);
    views::PrintMediumWarning(console.err, diskSurvey.image);
    views::PrintSizeWarning(console.err, diskSurvey.image);
    if (options.json) {
      views::WriteImageJson(json, diskSurvey);
    } else if (list) {
      views::PrintImageLine(console.out, diskSurvey.image);
      views::PrintCutShort(console.out, diskSurvey.image, false);
      views::PrintDirectoryDamage(console.out, diskSurvey);
      for (int i = 0; i < diskSurvey.fileCount; ++i)
        views::PrintListedFile(console.out, diskSurvey.files[i]);
    } else {
      views::PrintProblems(console.out, diskSurvey);
    }
  }
  if (options.json) {
    json.End();
    views::WriteSummaryJson(json, tally);
    json.End();
  } else if (!list) {
    views::PrintSummary(console.out, tally);
  }
  // Only test reports damage in its status; list reports it in its lines.
  const bool sound = tally.damaged == 0 && tally.unknownMedia == 0 &&
                     tally.damagedDirectories == 0 && tally.cutShort == 0;
  return list || sound ? kExitSuccess : kExitDamaged;
}

// Surveys the image that -i names into diskSurvey; false after the
// message when there is none or its medium is unknown.
bool SurveyChosenImage(DiskImage& disk, const cli::Options& options, const Console& console) {
  if (!OpenContainer(disk, options.container, console)) return false;
  const int images = survey::CountImages(disk);
  if (options.image >= images || !survey::SurveyDisk(disk, options.image, &diskSurvey)) {
    std::fprintf(console.err, "d88: %s has no image %d (it holds %d)\n", options.container,
                 options.image, images);
    return false;
  }
  const survey::ImageSummary& image = diskSurvey.image;
  views::PrintMediumWarning(console.err, image);
  views::PrintSizeWarning(console.err, image);
  views::PrintCutShort(console.err, image, true);
  if (image.medium == nullptr) {
    std::fprintf(console.err, "d88: image %d: medium unknown (media byte 0x%02x)\n", image.index,
                 image.mediaByte);
    return false;
  }
  return true;
}

// True when map should colour its text: a terminal, and no NO_COLOR set
// to a non-empty value.  Windows consoles get plain text.
bool WantsColour(std::FILE* out) {
  const char* noColour = std::getenv("NO_COLOR");
  if (noColour != nullptr && noColour[0] != '\0') return false;
#if defined(_WIN32)
  (void)out;
  return false;
#else
  return isatty(fileno(out)) != 0;
#endif
}

// map: the sector map of one disk, as text, JSON or an SVG file.
int Map(DiskImage& disk, const cli::Options& options, const Console& console) {
  if (!SurveyChosenImage(disk, options, console)) return kExitFailure;
  if (options.svg != nullptr) {
    std::FILE* svg = std::fopen(options.svg, "wb");
    if (svg != nullptr) views::WriteMapSvg(svg, diskSurvey);
    if (svg == nullptr || std::fclose(svg) != 0) {
      std::fprintf(console.err, "d88: cannot write %s\n", options.svg);
      return kExitFailure;
    }
  } else if (options.json) {
    views::JsonWriter json(console.out);
    views::WriteMapJson(json, diskSurvey);
  } else {
    views::PrintMap(console.out, diskSurvey, WantsColour(console.out));
  }
  return kExitSuccess;
}

// extract's listing lines: the extraction tool's.
class ExtractListing final : public EntryListing {
 public:
  explicit ExtractListing(std::FILE* out) : out_(out) {}
  void List(const DirectoryEntry& entry) override { views::PrintListingLine(out_, entry); }

 private:
  std::FILE* out_;
};

// extract: the files of one disk, written as the extraction tool writes
// them, then the names of the damaged ones (and the directory, if it is).
int Extract(DiskImage& disk, const cli::Options& options, const Console& console) {
  if (!SurveyChosenImage(disk, options, console)) return kExitFailure;
  const survey::ImageSummary& image = diskSurvey.image;
  if (options.directory != nullptr && !cli::EnterDirectory(options.directory)) {
    std::fprintf(console.err, "d88: cannot make or enter the directory %s\n", options.directory);
    return kExitFailure;
  }
  std::fputs(image.medium->mediaLine, console.out);
  ExtractListing listing(console.out);
  const ListingOutcome outcome =
      ListAndWriteFiles(diskSurvey.directory, diskSurvey.data, *image.medium, listing);
  if (outcome.failedEntry >= 0) {
    // The listing comes first also where both streams share one file.
    std::fflush(console.out);
    std::fprintf(console.err, "d88: cannot write the file \"%s\"\n",
                 diskSurvey.files[outcome.failedEntry].entry.name);
    return kExitFailure;
  }
  int damaged = 0;
  for (int i = 0; i < diskSurvey.fileCount; ++i) {
    if (!diskSurvey.files[i].Intact()) ++damaged;
  }
  const bool directoryDamaged = diskSurvey.directoryDamage.count > 0;
  // An image cut short may have lost files its directory no longer lists.
  if (damaged == 0 && !directoryDamaged) return image.cutShort ? kExitDamaged : kExitSuccess;
  // No name has more than 4 bytes, so "directory" is never a file's.
  std::fputs(directoryDamaged ? "damaged: directory" : "damaged:", console.out);
  for (int i = 0; i < diskSurvey.fileCount; ++i) {
    if (!diskSurvey.files[i].Intact())
      std::fprintf(console.out, " %s", diskSurvey.files[i].entry.name);
  }
  std::fputc('\n', console.out);
  return kExitDamaged;
}

}  // namespace

int RunD88(DiskImage& disk, int argc, const char* const* argv, const Console& console) {
  cli::Options options;
  if (!cli::ParseOptions(argc, argv, console.err, &options)) return kExitFailure;
  switch (options.verb) {
    case cli::Verb::kHelp:
      std::fputs(cli::kHelpText, console.out);
      return kExitSuccess;
    case cli::Verb::kVersion:
      std::fputs("d88 " D88_VERSION "\n", console.out);
      return kExitSuccess;
    case cli::Verb::kExtract:
      return Extract(disk, options, console);
    case cli::Verb::kMap:
      return Map(disk, options, console);
    default:
      return SurveyAll(disk, options, console);
  }
}
