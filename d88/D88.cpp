// The verbs: each opens the container, surveys its disks one at a time into
// one static survey, and hands them to a view.
#include "d88/D88.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "d88/Audit.h"
#include "d88/CatVerb.h"
#include "d88/Collection.h"
#include "d88/EditVerbs.h"
#include "d88/HeaderVerbs.h"
#include "d88/NamedFiles.h"
#include "d88/Options.h"
#include "d88/TreeWriter.h"
#include "d88/WholeDiskVerbs.h"
#include "d88/WorkDirectory.h"
#include "diskimage/DiskImage.h"
#include "edit/Edit.h"
#include "output/Sink.h"
#include "platform/Platform.h"
#include "survey/FileSystems.h"
#include "survey/Survey.h"
#include "tool/Extraction.h"
#include "views/JsonWriter.h"
#include "views/SurveyJson.h"
#include "views/SurveyMap.h"
#include "views/SurveyText.h"

#ifndef D88_VERSION
#error "D88_VERSION must give the program's version"
#endif

namespace d88 {

namespace {

// One disk at a time; it holds the loaded disk, so it is not on the stack.
survey::DiskSurvey diskSurvey;
survey::FileSystems fileSystems;  // and its file system

// The run's standard output and standard error.
struct Sinks {
  output::Sink out;
  output::Sink err;
};

// Writes the path of a command line on err as the console shows it.
void PrintPath(output::Sink& err, const char* path) {
  char shown[4 * 4096];
  platform::ShownPath(path, err.Stream(), false, shown, sizeof shown);
  err.Escaped(shown);
}

// Writes "d88: WHAT PATH: REASON" with the system's reason for errno.
void PrintFailure(output::Sink& err, const char* what, const char* path, int error) {
  err.Printf("d88: %s", what);
  PrintPath(err, path);
  err.Printf(": %s\n", std::strerror(error));
}

// The reason a file was not written: the system's, or this program's own
// when the name is not that of a plain file.
const char* RefusalReason(const char* name, int error) {
  if (!tool::IsWritableName(name)) return "not a plain file name";
  return std::strerror(error != 0 ? error : EIO);
}

// Returns status, or kExitFailure after the message when json is broken.
int CheckJson(const views::JsonWriter& json, output::Sink& err, int status) {
  if (!json.Broken()) return status;
  err.Puts("d88: the JSON document nests deeper than its writer allows\n");
  return kExitFailure;
}

// False after the message when a read of the container at path failed:
// what the reader gave since is not the container's.
bool ReadWell(const diskimage::DiskImage& disk, const char* path, Sinks& sinks) {
  if (disk.GetReadError() == 0) return true;
  PrintFailure(sinks.err, "cannot read ", path, disk.GetReadError());
  return false;
}

// Opens the container; false after the message when it cannot be opened
// or read, or holds no image at all.
bool OpenContainer(diskimage::DiskImage& disk, const char* path, Sinks& sinks) {
  if (!edit::OpenContainerFile(disk, path)) {
    PrintFailure(sinks.err, "cannot open ", path, errno);
    return false;
  }
  if (!ReadWell(disk, path, sinks)) return false;
  if (const char* format = survey::ForeignFormat(disk)) {
    sinks.err.Puts("d88: ");
    sinks.err.Escaped(path);
    sinks.err.Printf(" is %s, not a D88 container\n", format);
    return false;
  }
  if (disk.GetImageCount() == 0) {
    sinks.err.Puts("d88: ");
    PrintPath(sinks.err, path);
    sinks.err.Puts(" holds no disk image\n");
    return false;
  }
  return true;
}

// Writes that the container has no image -i names.
void PrintNoImage(const Options& options, int images, Sinks& sinks) {
  sinks.err.Puts("d88: ");
  PrintPath(sinks.err, options.container);
  sinks.err.Printf(" has no image %d (it holds %d)\n", options.image, images);
}

// list and test: every disk of the container (list -i: the one it names),
// in text or JSON.
int SurveyAll(diskimage::DiskImage& disk, const Options& options, Sinks& sinks) {
  if (!OpenContainer(disk, options.container, sinks)) return kExitFailure;
  const bool list = options.verb == Verb::kList;
  const int images = survey::CountImages(disk);
  // A read that failed is told of below, as without -i.
  if (options.imageChosen && options.image >= images && disk.GetReadError() == 0) {
    PrintNoImage(options, images, sinks);
    return kExitFailure;
  }
  views::JsonWriter json(sinks.out);
  if (options.json) {
    json.Begin(nullptr, '{');
    WriteContainerPath(json, sinks.out, options.container);
    json.Begin("images", '[');
  }
  survey::Tally tally;
  const int first = options.imageChosen ? options.image : 0;
  const int end = options.imageChosen ? options.image + 1 : images;
  ReportImages(disk, diskSurvey, fileSystems, options, first, end, options.json ? &json : nullptr,
               sinks.out, &sinks.err, &tally);
  if (!ReadWell(disk, options.container, sinks)) {
    // The document stays whole, its verdict that of a JSON Line.
    if (options.json) {
      json.End();
      json.String("status", "unreadable");
      char reason[128];
      std::snprintf(reason, sizeof reason, "cannot read: %s", std::strerror(disk.GetReadError()));
      json.String("error", reason);
      json.End();
    }
    return kExitFailure;
  }
  // Bytes after the last image are the container's, not the one image's.
  if (!options.imageChosen) survey::NoteBytesAfter(disk, images, &tally);
  if (options.json) {
    json.End();
    views::WriteSummaryJson(json, tally);
    json.String("status", tally.Sound() ? "intact" : "damaged");
    json.End();
  } else {
    views::PrintBytesAfter(sinks.out, tally);
    if (!list) views::PrintSummary(sinks.out, tally);
  }
  // Only test reports damage in its status; list reports it in its lines.
  return CheckJson(json, sinks.err, list || tally.Sound() ? kExitSuccess : kExitDamaged);
}

// Surveys the image that -i names into diskSurvey; false after the
// message when there is none, the container failed to read or the
// image's medium is unknown.
bool SurveyChosenImage(diskimage::DiskImage& disk, const Options& options, Sinks& sinks) {
  if (!OpenContainer(disk, options.container, sinks)) return false;
  const int images = survey::CountImages(disk);
  const bool surveyed =
      options.image < images && survey::SurveyDisk(disk, options.image, &diskSurvey);
  if (!ReadWell(disk, options.container, sinks)) return false;
  if (!surveyed) {
    PrintNoImage(options, images, sinks);
    return false;
  }
  const survey::ImageSummary& image = diskSurvey.image;
  views::PrintImageWarnings(sinks.err, image, true);
  if (diskSurvey.slots == 0) {
    sinks.err.Printf("d88: image %d: medium unknown (media byte 0x%02x)\n", image.index,
                     image.mediaByte);
    return false;
  }
  survey::ReadFileSystem(disk, diskSurvey, fileSystems, options.fileSystem);
  if (fileSystems.chosen != nullptr || options.verb == Verb::kMap) return true;
  sinks.err.Printf("d88: image %d: no file system recognised (", image.index);
  sinks.err.Escaped(fileSystems.reason.text);
  sinks.err.Puts("); nothing done\n");
  return false;
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
  return platform::IsTerminal(out.Stream());
#endif
}

// map: the sector map of one disk, as text, JSON or an SVG file.
int Map(diskimage::DiskImage& disk, const Options& options, Sinks& sinks) {
  if (!SurveyChosenImage(disk, options, sinks)) return kExitFailure;
  survey::MarkOwners(diskSurvey, fileSystems);
  if (options.svg != nullptr) {
    std::FILE* svg = platform::OpenStream(options.svg, "wb");
    int error = errno;
    if (svg != nullptr) {
      output::Sink picture(svg);
      views::WriteMapSvg(picture, diskSurvey, &fileSystems);
      const bool written = picture.Finish();
      error = written ? 0 : picture.Error();
      errno = 0;
      if (std::fclose(svg) != 0 && written) error = errno != 0 ? errno : EIO;
    }
    if (error != 0) {
      PrintFailure(sinks.err, "cannot write ", options.svg, error);
      return kExitFailure;
    }
  } else if (options.json) {
    views::JsonWriter json(sinks.out);
    views::WriteMapJson(json, diskSurvey, &fileSystems);
    return CheckJson(json, sinks.err, kExitSuccess);
  } else {
    views::PrintMap(sinks.out, diskSurvey, WantsColour(sinks.out), &fileSystems);
  }
  return kExitSuccess;
}

// extract's listing lines: the extraction tool's, names safe for a terminal.
void ListEntry(void* out, const tool::DirectoryEntry& entry) {
  views::PrintListingLine(*static_cast<output::Sink*>(out), entry);
}

// extract's report of a file system's tree: each file written by its path,
// what was not written on standard error.
void ReportTreeEvent(void* context, const TreeEvent& event) {
  Sinks& sinks = *static_cast<Sinks*>(context);
  if (event.outcome != TreeOutcome::kWritten) {
    // The listing comes first also where both streams share one file.
    sinks.out.Flush();
    PrintNotWritten(&sinks.err, event);
    return;
  }
  sinks.out.Escaped(event.path);
  sinks.out.Putc('\n');
}

// extract of a disk read through the file-system interface: its tree (or
// the entries chosen marks), then the paths of the damaged files and
// folders written; the root's and the disk's faults only for the whole.
int ExtractTree(Sinks& sinks, const bool* chosen) {
  const filesystem::FileSystem& fs = *fileSystems.chosen;
  const TreeResult result = WriteTree(fs, {ReportTreeEvent, &sinks}, chosen);
  if (result.notWritten > 0) return kExitFailure;
  const bool whole = chosen == nullptr;
  bool damaged = whole && (fs.RootFaults() != 0 || fs.DiskFaults() != 0);
  for (int i = 0; i < fs.EntryCount(); ++i)
    damaged = damaged || ((whole || chosen[i]) && !fs.EntryAt(i).Intact());
  if (!damaged) return whole && diskSurvey.image.cutShort ? kExitDamaged : kExitSuccess;
  sinks.out.Puts("damaged:");
  if (whole && fs.RootFaults() != 0) sinks.out.Puts(" /");
  char path[filesystem::kMaxPathBytes + 1];
  for (int i = 0; i < fs.EntryCount(); ++i) {
    const filesystem::Entry& e = fs.EntryAt(i);
    if (e.Intact() || !(whole || chosen[i])) continue;
    fs.Path(i, path, sizeof path);
    sinks.out.Putc(' ');
    sinks.out.Escaped(path);
    if (e.kind == filesystem::EntryKind::kFolder) sinks.out.Putc('/');
  }
  sinks.out.Putc('\n');
  return kExitDamaged;
}

// extract: the files of one disk (or those named), written as the
// extraction tool writes them, then the names of the damaged ones (and,
// for the whole disk, the directory if it is).
int Extract(diskimage::DiskImage& disk, const Options& options, Sinks& sinks) {
  if (!SurveyChosenImage(disk, options, sinks)) return kExitFailure;
  const survey::ImageSummary& image = diskSurvey.image;
  // Every name is found before anything is made.
  static bool chosenFiles[kMostFiles];
  const bool* chosen = options.itemCount > 0 ? chosenFiles : nullptr;
  if (chosen != nullptr && !ChooseFiles(diskSurvey, fileSystems, options.items, options.itemCount,
                                        chosenFiles, sinks.err))
    return kExitFailure;
  if (options.directory != nullptr && !MakeDirectories(options.directory)) {
    PrintFailure(sinks.err, "cannot make the directory ", options.directory, errno);
    return kExitFailure;
  }
  if (options.directory != nullptr && !EnterDirectory(options.directory)) {
    PrintFailure(sinks.err, "cannot enter the directory ", options.directory, errno);
    return kExitFailure;
  }
  if (!fileSystems.IsFlat()) return ExtractTree(sinks, chosen);
  sinks.out.Puts(image.medium->mediaLine);
  errno = 0;
  const int failedEntry = chosen != nullptr
                              ? WriteChosenFlatFiles(diskSurvey, chosen, {ListEntry, &sinks.out})
                              : tool::ListAndWriteFiles(diskSurvey.directory, diskSurvey.data,
                                                        *image.medium, {ListEntry, &sinks.out});
  if (failedEntry >= 0) {
    const char* name = diskSurvey.files[failedEntry].entry.name;
    // The listing comes first also where both streams share one file.
    sinks.out.Flush();
    sinks.err.Puts("d88: cannot write the file \"");
    sinks.err.Escaped(name);
    sinks.err.Printf("\": %s\n", RefusalReason(name, errno));
    return kExitFailure;
  }
  const bool whole = chosen == nullptr;
  const auto damagedFile = [&](int i) {
    return (whole || chosen[i]) && !diskSurvey.files[i].Intact();
  };
  int damaged = 0;
  for (int i = 0; i < diskSurvey.fileCount; ++i) {
    if (damagedFile(i)) ++damaged;
  }
  const bool directoryDamaged = whole && diskSurvey.directoryDamage.count > 0;
  // An image cut short may have lost files its directory no longer lists.
  if (damaged == 0 && !directoryDamaged)
    return whole && image.cutShort ? kExitDamaged : kExitSuccess;
  // No name has more than 4 bytes, so "directory" is never a file's.
  sinks.out.Puts(directoryDamaged ? "damaged: directory" : "damaged:");
  for (int i = 0; i < diskSurvey.fileCount; ++i) {
    if (damagedFile(i)) {
      sinks.out.Putc(' ');
      sinks.out.DecodedName(diskSurvey.files[i].entry.name);
    }
  }
  sinks.out.Putc('\n');
  return kExitDamaged;
}

// The run of d88 over its two sinks.
int Run(diskimage::DiskImage& disk, int argc, const char* const* argv, Sinks& sinks) {
  Options options;
  if (!ParseOptions(argc, argv, sinks.err, &options)) return kExitFailure;
  switch (options.verb) {
    case Verb::kHelp:
      sinks.out.Puts(kHelpText);
      return kExitSuccess;
    case Verb::kVersion:
      sinks.out.Puts("d88 " D88_VERSION "\n");
      return kExitSuccess;
    case Verb::kExtract:
      return Extract(disk, options, sinks);
    case Verb::kMap:
      return Map(disk, options, sinks);
    case Verb::kCat:
      if (!SurveyChosenImage(disk, options, sinks)) return kExitFailure;
      return CatFile(diskSurvey, fileSystems, options.items[0], sinks.out, sinks.err);
    case Verb::kNew:
    case Verb::kAdd:
    case Verb::kRemove:
    case Verb::kMakeFolder:
    case Verb::kRemoveFolder:
      return RunEditVerb(disk, options, sinks.err);
    case Verb::kSplit:
    case Verb::kJoin:
    case Verb::kExport:
    case Verb::kImport:
      return RunWholeDiskVerb(disk, options, sinks.err);
    case Verb::kSet:
    case Verb::kFix:
      return RunHeaderVerb(disk, options, sinks.out, sinks.err);
    case Verb::kHash:
      return RunHash(disk, options, sinks.out, sinks.err);
    default:
      if (!NamesOneContainer(options) && options.imageChosen) {
        sinks.err.Puts("d88: -i applies to one container, not to several or a folder\n");
        return kExitFailure;
      }
      if (!NamesOneContainer(options)) return AuditCollection(options, sinks.out, sinks.err);
      return SurveyAll(disk, options, sinks);
  }
}

}  // namespace

int RunD88(diskimage::DiskImage& disk, int argc, const char* const* argv, const Console& console) {
  Sinks sinks{output::Sink(console.out), output::Sink(console.err)};
  int status = Run(disk, argc, argv, sinks);
  if (!sinks.out.Finish()) {
    sinks.err.Printf("d88: cannot write standard output: %s\n", std::strerror(sinks.out.Error()));
    // After a change the status must still say that something changed.
    if (status != kExitIncomplete) status = kExitFailure;
  }
  // Standard error lost can only show in the status, which after a change
  // must not say that nothing changed.
  return sinks.err.Finish() || status == kExitIncomplete ? status : kExitFailure;
}

}  // namespace d88
