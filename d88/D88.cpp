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
#include "output/Sink.h"
#include "survey/Survey.h"
#include "tool/OutputFile.h"
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

// The run's standard output and standard error.
struct Sinks {
  output::Sink out;
  output::Sink err;
};

// Opens the container; false after the message when it cannot be read or
// holds no image at all.
bool OpenContainer(DiskImage& disk, const char* path, Sinks& console) {
  if (!disk.Open(path)) {
    console.err.Printf("d88: cannot open %s\n", path);
    return false;
  }
  if (disk.GetImageCount() == 0) {
    console.err.Printf("d88: %s holds no disk image\n", path);
    return false;
  }
  return true;
}

// list and test: every disk of the container, in text or JSON.
int SurveyAll(DiskImage& disk, const cli::Options& options, Sinks& console) {
  if (!OpenContainer(disk, options.container, console)) return kExitFailure;
  const bool list = options.verb == cli::Verb::kList;
  views::JsonWriter json(console.out);
  if (options.json) {
    json.Begin(nullptr, '{');
    json.Begin("images", '[');
  }
  survey::Tally tally;
  for (int k = 0; k < disk.GetImageCount(); ++k) {
    survey::SurveyDisk(disk, k, &diskSurvey);
    tally.Add(diskSurvey);
    views::PrintMediumWarning(console.err, diskSurvey.image);
    if (options.json) {
      views::WriteImageJson(json, diskSurvey);
    } else if (list) {
      views::PrintImageLine(console.out, diskSurvey.image);
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
  const bool sound = tally.damaged == 0 && tally.unknownMedia == 0 && tally.damagedDirectories == 0;
  return list || sound ? kExitSuccess : kExitDamaged;
}

// Surveys the image that -i names into diskSurvey; false after the
// message when there is none or its medium is unknown.
bool SurveyChosenImage(DiskImage& disk, const cli::Options& options, Sinks& console) {
  if (!OpenContainer(disk, options.container, console)) return false;
  if (!survey::SurveyDisk(disk, options.image, &diskSurvey)) {
    console.err.Printf("d88: %s has no image %d (it holds %d)\n", options.container, options.image,
                       disk.GetImageCount());
    return false;
  }
  const survey::ImageSummary& image = diskSurvey.image;
  views::PrintMediumWarning(console.err, image);
  if (image.medium == nullptr) {
    console.err.Printf("d88: image %d: medium unknown (media byte 0x%02x)\n", image.index,
                       image.mediaByte);
    return false;
  }
  return true;
}

// True when map should colour its text: a terminal, and no NO_COLOR set
// to a non-empty value.  Windows consoles get plain text.
bool WantsColour(const output::Sink& out) {
  const char* noColour = std::getenv("NO_COLOR");
  if (noColour != nullptr && noColour[0] != '\0') return false;
#if defined(_WIN32)
  (void)out;
  return false;
#else
  return isatty(fileno(out.Stream())) != 0;
#endif
}

// map: the sector map of one disk, as text, JSON or an SVG file.
int Map(DiskImage& disk, const cli::Options& options, Sinks& console) {
  if (!SurveyChosenImage(disk, options, console)) return kExitFailure;
  if (options.svg != nullptr) {
    std::FILE* svg = std::fopen(options.svg, "wb");
    if (svg != nullptr) {
      output::Sink picture(svg);
      views::WriteMapSvg(picture, diskSurvey);
    }
    if (svg == nullptr || std::fclose(svg) != 0) {
      console.err.Printf("d88: cannot write %s\n", options.svg);
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

// extract: the files of one disk, written as the extraction tool writes
// them, then the names of the damaged ones (and the directory, if it is).
int Extract(DiskImage& disk, const cli::Options& options, Sinks& console) {
  if (!SurveyChosenImage(disk, options, console)) return kExitFailure;
  const survey::ImageSummary& image = diskSurvey.image;
  if (options.directory != nullptr && !cli::EnterDirectory(options.directory)) {
    console.err.Printf("d88: cannot make or enter the directory %s\n", options.directory);
    return kExitFailure;
  }
  console.out.Puts(image.medium->mediaLine);
  int damaged = 0;
  for (int i = 0; i < diskSurvey.fileCount; ++i) {
    const survey::FileSurvey& file = diskSurvey.files[i];
    views::PrintListingLine(console.out, file.entry);
    if (!WriteOutputFile(file.entry.name, diskSurvey.data + file.range.offset, file.range.length)) {
      // The listing comes first also where both streams share one file.
      console.out.Flush();
      console.err.Printf("d88: cannot write the file \"%s\"\n", file.entry.name);
      return kExitFailure;
    }
    if (!file.Intact()) ++damaged;
  }
  const bool directoryDamaged = diskSurvey.directoryDamage.count > 0;
  if (damaged == 0 && !directoryDamaged) return kExitSuccess;
  // No name has more than 4 bytes, so "directory" is never a file's.
  console.out.Puts(directoryDamaged ? "damaged: directory" : "damaged:");
  for (int i = 0; i < diskSurvey.fileCount; ++i) {
    if (!diskSurvey.files[i].Intact()) console.out.Printf(" %s", diskSurvey.files[i].entry.name);
  }
  console.out.Putc('\n');
  return kExitDamaged;
}

// The run of d88 over its two sinks.
int Run(DiskImage& disk, int argc, const char* const* argv, Sinks& console) {
  cli::Options options;
  if (!cli::ParseOptions(argc, argv, console.err, &options)) return kExitFailure;
  switch (options.verb) {
    case cli::Verb::kHelp:
      console.out.Puts(cli::kHelpText);
      return kExitSuccess;
    case cli::Verb::kVersion:
      console.out.Puts("d88 " D88_VERSION "\n");
      return kExitSuccess;
    case cli::Verb::kExtract:
      return Extract(disk, options, console);
    case cli::Verb::kMap:
      return Map(disk, options, console);
    default:
      return SurveyAll(disk, options, console);
  }
}

}  // namespace

int RunD88(DiskImage& disk, int argc, const char* const* argv, const Console& console) {
  Sinks sinks{output::Sink(console.out), output::Sink(console.err)};
  return Run(disk, argc, argv, sinks);
}
