#include "d88/Options.h"

#include <cstdlib>
#include <cstring>

#include "diskimage/DiskImage.h"

namespace d88 {

const char kHelpText[] =
    "Usage: d88 VERB [options] CONTAINER [FILE... | NAME...]\n"
    "       d88 list|test [options] PATH...\n"
    "Lists, tests, maps and extracts the disks of a D88 disk-image container, makes\n"
    "blank disks and puts files on them or takes them off; lists and tests many\n"
    "containers, and the folders that hold them.\n"
    "\n"
    "Verbs:\n"
    "  list      every disk image with its medium and its files, each file's state\n"
    "  test      check every file; print only what is wrong and a summary\n"
    "  extract   write the files of one disk image into a directory, or those named\n"
    "            (a FAT path; #N: entry N): d88 extract CONTAINER DOCS/A.TXT\n"
    "  cat       write one file's bytes to standard output: d88 cat CONTAINER NAME\n"
    "  map       the sector map of one disk image: its files and its damage\n"
    "  new       make a blank formatted disk: d88 new -m 2HD|2DD [-n NAME] OUT.d88\n"
    "  add       put host files on a disk: d88 add CONTAINER FILE... [--as NAME]\n"
    "            (FAT12: --as DIR/NAME, or DIR/ for several files)\n"
    "  rm        remove files from a disk: d88 rm CONTAINER NAME... (#N: entry N)\n"
    "  mkdir     make a folder on a FAT12 disk: d88 mkdir CONTAINER DOCS/OLD\n"
    "  rmdir     remove an empty folder from a FAT12 disk: d88 rmdir CONTAINER DOCS/OLD\n"
    "  split     one container per image: d88 split [-C DIR] CONTAINER\n"
    "  join      the images of containers back to back: d88 join OUT CONTAINER...\n"
    "  export    write one disk's sectors as a raw or FDI file:\n"
    "            d88 export [-i K] [-f raw|fdi] [--force] CONTAINER OUT\n"
    "  import    make a disk of a raw or FDI file:\n"
    "            d88 import [-g SHAPE] [-n NAME] [-f raw|fdi] IN OUT.d88\n"
    "  set       change a disk's header: d88 set [--name NAME] [--protect on|off]\n"
    "            [--media 2D|2DD|2HD|0xNN] CONTAINER\n"
    "  fix       repair headers the records contradict: d88 fix [-o OUT] CONTAINER\n"
    "  hash      each image's size, CRC32 and SHA-1, and a hash of its sector data\n"
    "\n"
    "Options:\n"
    "  -i K        extract, cat, map, add, rm, mkdir, rmdir, set: the image, from 0\n"
    "              (default 0);\n"
    "              list: that image only, of one container: d88 list -i 1 CONTAINER\n"
    "  -C DIR      extract: the directory to write into, made with its parents if\n"
    "              missing (default: the current one)\n"
    "  --json      list, test, map, hash: write JSON instead of text (JSON Lines, one\n"
    "              line a container, for several paths or a folder)\n"
    "  -j N        list, test: survey up to N containers at once (default: one\n"
    "              per processor)\n"
    "  --svg FILE  map: draw the map into FILE as an SVG picture instead\n"
    "  -m MEDIUM   new: 2HD or 2DD\n"
    "  -n NAME     new: the disk's name\n"
    "  -f fat12    new: format a FAT12 disk; -m then also 2DD8, 1.44M, 1.2M or\n"
    "              C/H/S/BYTES\n"
    "  --label L   new -f fat12: the volume label\n"
    "  -o OUT      add, rm, mkdir, rmdir, set, fix: write the result to OUT (a new\n"
    "              file) instead of replacing the container\n"
    "  --as NAME   add: the name on the disk of the one FILE (default: its own);\n"
    "              FAT12: a path, DIR/ for several files\n"
    "  --name NAME, --protect on|off, --media MEDIUM\n"
    "              set: the disk's name, write protection and media byte\n"
    "  --fs FS     list, test, map, extract, cat: read the disk as FS (flat or fat12)\n"
    "              whatever it looks like\n"
    "  -f FORMAT   export, import: raw or fdi (default: fdi for a name ending .fdi)\n"
    "  -g SHAPE    import: 2HD, 2DD, 2DD8, 1.44M, 1.2M, 2D or C/H/S/BYTES (default:\n"
    "              from the raw file's size)\n"
    "  --force     export: write missing sectors as zeros, damaged ones as recorded\n"
    "  -h, --help  show this help and exit\n"
    "  --version   show the version and exit\n"
    "\n"
    "Exit status: 0 all intact (or the listing or map written); 2 a file or directory\n"
    "damaged, or a disk of unknown medium; 1 a wrong command line, a container that\n"
    "cannot be read, no such image, or a file that cannot be written; new, add, rm,\n"
    "set and fix then leave every file as it was.  Over many containers: 1 when any\n"
    "cannot be read, else 2 when any is damaged (test).\n";

namespace {

struct VerbName {
  const char* name;  // as typed
  Verb verb;         // what it selects
};

constexpr VerbName kVerbs[] = {
    {"list", Verb::kList},     {"test", Verb::kTest},        {"extract", Verb::kExtract},
    {"map", Verb::kMap},       {"new", Verb::kNew},          {"add", Verb::kAdd},
    {"rm", Verb::kRemove},     {"mkdir", Verb::kMakeFolder}, {"rmdir", Verb::kRemoveFolder},
    {"cat", Verb::kCat},       {"split", Verb::kSplit},      {"join", Verb::kJoin},
    {"export", Verb::kExport}, {"import", Verb::kImport},    {"set", Verb::kSet},
    {"fix", Verb::kFix},       {"hash", Verb::kHash},        {"-h", Verb::kHelp},
    {"--help", Verb::kHelp},   {"--version", Verb::kVersion}};

// True for an option followed by its value.
bool TakesValue(const char* arg) {
  return std::strcmp(arg, "-i") == 0 || std::strcmp(arg, "-C") == 0 ||
         std::strcmp(arg, "--svg") == 0 || std::strcmp(arg, "-j") == 0 ||
         std::strcmp(arg, "-m") == 0 || std::strcmp(arg, "-n") == 0 ||
         std::strcmp(arg, "-o") == 0 || std::strcmp(arg, "--as") == 0 ||
         std::strcmp(arg, "--fs") == 0 || std::strcmp(arg, "-f") == 0 ||
         std::strcmp(arg, "-g") == 0 || std::strcmp(arg, "--label") == 0 ||
         std::strcmp(arg, "--name") == 0 || std::strcmp(arg, "--protect") == 0 ||
         std::strcmp(arg, "--media") == 0;
}

// True when argument i is a path rather than an option.
bool IsPath(const char* arg, int i, int optionsEnd) {
  return i > optionsEnd || arg[0] != '-' || arg[1] == '\0';
}

// Takes set's option arg with its value; false when arg is none of them.
bool ParseSetOption(const char* arg, const char* value, Options* options) {
  const char** field = std::strcmp(arg, "--name") == 0      ? &options->newName
                       : std::strcmp(arg, "--protect") == 0 ? &options->protect
                       : std::strcmp(arg, "--media") == 0   ? &options->media
                                                            : nullptr;
  if (field != nullptr) *field = value;
  return field != nullptr;
}

bool Fail(output::Sink& err, const char* what, const char* detail) {
  err.Puts("d88: ");
  err.Escaped(what);
  err.Escaped(detail);
  err.Puts("\nTry 'd88 --help' for more information.\n");
  return false;
}

// Parses an image index 0-63; false for anything else.
bool ParseImage(const char* text, int* image) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 0 || value >= diskimage::kMaxImages) return false;
  *image = static_cast<int>(value);
  return true;
}

// Parses a number of jobs 1-kMostJobs; false for anything else.
bool ParseJobs(const char* text, int* jobs) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 1 || value > kMostJobs) return false;
  *jobs = static_cast<int>(value);
  return true;
}

// True for the verbs of whole disks.
bool IsWholeDiskVerb(Verb verb) {
  return verb == Verb::kSplit || verb == Verb::kJoin || verb == Verb::kExport ||
         verb == Verb::kImport;
}

// Takes an option of a whole-disk verb (its value argv[*i + 1]); false
// after the message for one the verb does not take.
bool ParseWholeDiskOption(const char* const* argv, int* i, output::Sink& err, Options* options) {
  const char* arg = argv[*i];
  const Verb verb = options->verb;
  const bool exports = verb == Verb::kExport, imports = verb == Verb::kImport;
  if (std::strcmp(arg, "-C") == 0 && verb == Verb::kSplit) {
    options->directory = argv[++*i];
  } else if (std::strcmp(arg, "-i") == 0 && exports) {
    if (!ParseImage(argv[++*i], &options->image))
      return Fail(err, "not an image index (0-63): ", argv[*i]);
  } else if (std::strcmp(arg, "-f") == 0 && (exports || imports)) {
    options->sectorFile = argv[++*i];
    if (std::strcmp(options->sectorFile, "raw") != 0 &&
        std::strcmp(options->sectorFile, "fdi") != 0)
      return Fail(err, "not a sector file format (raw or fdi): ", options->sectorFile);
  } else if (std::strcmp(arg, "--force") == 0 && exports) {
    options->force = true;
  } else if (std::strcmp(arg, "-g") == 0 && imports) {
    options->shape = argv[++*i];
  } else if (std::strcmp(arg, "-n") == 0 && imports) {
    options->diskName = argv[++*i];
  } else {
    return Fail(err, "an option split, join, export and import do not take here: ", arg);
  }
  return true;
}

// False after the message when a whole-disk verb has not its paths:
// split one, join an output and containers, export and import two.
bool CheckWholeDiskPaths(output::Sink& err, const Options& options) {
  const int paths = options.itemCount + 1;
  if (options.verb == Verb::kSplit && paths != 1)
    return Fail(err, "split takes one container, not more: ", options.items[0]);
  if (options.verb == Verb::kJoin && paths < 2) return Fail(err, "join needs OUT CONTAINER...", "");
  if ((options.verb == Verb::kExport || options.verb == Verb::kImport) && paths != 2)
    return Fail(
        err, options.verb == Verb::kExport ? "export needs CONTAINER OUT" : "import needs IN OUT",
        "");
  return true;
}

}  // namespace

bool ParseOptions(int argc, const char* const* argv, output::Sink& err, Options* options) {
  if (argc < 2) return Fail(err, "no verb given", "");
  for (const VerbName& v : kVerbs) {
    if (std::strcmp(argv[1], v.name) == 0) options->verb = v.verb;
  }
  if (options->verb == Verb::kNone) return Fail(err, "unknown verb: ", argv[1]);
  if (options->verb == Verb::kHelp || options->verb == Verb::kVersion) return true;
  const bool extract = options->verb == Verb::kExtract;
  const bool cat = options->verb == Verb::kCat;
  const bool named = extract || cat;  // takes names of files on the disk
  const bool map = options->verb == Verb::kMap;
  const bool folders = options->verb == Verb::kMakeFolder || options->verb == Verb::kRemoveFolder;
  const bool edits = options->verb == Verb::kAdd || options->verb == Verb::kRemove || folders;
  const bool makes = options->verb == Verb::kNew;
  const bool many = options->verb == Verb::kList || options->verb == Verb::kTest;
  const bool whole = IsWholeDiskVerb(options->verb);
  const bool headers = options->verb == Verb::kSet || options->verb == Verb::kFix;
  options->argv = argv;
  options->argc = argc;
  options->optionsEnd = argc;  // after "--" every argument is a path
  for (int i = 2; i < argc; ++i) {
    const char* arg = argv[i];
    if (IsPath(arg, i, options->optionsEnd)) {
      if (options->container == nullptr) {
        options->container = arg;
      } else if (edits || whole || named) {
        if (options->itemCount == kMaxItems)
          return Fail(err, "too many files or names, from ", arg);
        options->items[options->itemCount++] = arg;
      } else if (!many && options->verb != Verb::kHash) {
        return Fail(err, "more than one container given: ", arg);
      }
      ++options->pathCount;
      continue;
    }
    if (TakesValue(arg) && i + 1 == argc) return Fail(err, "a value is missing after ", arg);
    if (std::strcmp(arg, "--") == 0) {
      options->optionsEnd = i;
    } else if (std::strncmp(arg, "-j", 2) == 0) {
      if (!many) return Fail(err, "-j", " applies to list and test only");
      // -j N or -jN
      const char* jobs = arg[2] != '\0' ? arg + 2 : argv[++i];
      if (!ParseJobs(jobs, &options->jobs)) return Fail(err, "not a number of jobs (1-64): ", jobs);
    } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
      options->verb = Verb::kHelp;
      return true;
    } else if (whole) {
      if (!ParseWholeDiskOption(argv, &i, err, options)) return false;
    } else if (std::strcmp(arg, "--json") == 0) {
      if (named || edits || makes || headers)
        return Fail(err, "--json does not apply to ", argv[1]);
      options->json = true;
    } else if (std::strcmp(arg, "-i") == 0 && !named && !map && !edits &&
               options->verb != Verb::kList && options->verb != Verb::kSet) {
      return Fail(err, arg, " applies to list, extract, cat, map, add, rm and set only");
    } else if (std::strcmp(arg, "-C") == 0 && !extract) {
      return Fail(err, arg, " applies to extract only");
    } else if (std::strcmp(arg, "--svg") == 0) {
      if (!map) return Fail(err, arg, " applies to map only");
      options->svg = argv[++i];
    } else if (std::strcmp(arg, "-i") == 0) {
      if (!ParseImage(argv[++i], &options->image))
        return Fail(err, "not an image index (0-63): ", argv[i]);
      options->imageChosen = true;
    } else if (std::strcmp(arg, "-C") == 0) {
      options->directory = argv[++i];
    } else if ((std::strcmp(arg, "-m") == 0 || std::strcmp(arg, "-n") == 0) && !makes) {
      return Fail(err, arg, " applies to new only");
    } else if (std::strcmp(arg, "-m") == 0) {
      options->medium = argv[++i];
    } else if (std::strcmp(arg, "-n") == 0) {
      options->diskName = argv[++i];
    } else if ((std::strcmp(arg, "-f") == 0 || std::strcmp(arg, "--label") == 0) && !makes) {
      return Fail(err, arg, " applies to new only");
    } else if (std::strcmp(arg, "-f") == 0) {
      if (std::strcmp(argv[++i], "fat12") != 0)
        return Fail(err, "not a file system new formats (fat12): ", argv[i]);
      options->format = argv[i];
    } else if (std::strcmp(arg, "--label") == 0) {
      options->label = argv[++i];
    } else if (std::strcmp(arg, "-o") == 0 && !edits && !headers) {
      return Fail(err, arg, " applies to add, rm, set and fix only");
    } else if (std::strcmp(arg, "-o") == 0) {
      options->output = argv[++i];
    } else if (std::strcmp(arg, "--fs") == 0) {
      if (edits || makes || headers || options->verb == Verb::kHash)
        return Fail(err, arg, " applies to list, test, map, extract and cat only");
      if (!survey::ParseFileSystemChoice(argv[++i], &options->fileSystem))
        return Fail(err, "not a file system (flat or fat12): ", argv[i]);
    } else if (ParseSetOption(arg, i + 1 < argc ? argv[i + 1] : nullptr, options)) {
      if (options->verb != Verb::kSet) return Fail(err, arg, " applies to set only");
      ++i;
    } else if (std::strcmp(arg, "--as") == 0 && options->verb != Verb::kAdd) {
      return Fail(err, arg, " applies to add only");
    } else if (std::strcmp(arg, "--as") == 0) {
      options->as = argv[++i];
    } else {
      return Fail(err, "unknown option: ", arg);
    }
  }
  if (options->json && options->svg != nullptr)
    return Fail(err, "--json and --svg exclude each other", "");
  if (options->container == nullptr) return Fail(err, "no container given", "");
  if (whole && !CheckWholeDiskPaths(err, *options)) return false;
  if (makes && options->medium == nullptr) return Fail(err, "new needs -m 2HD or -m 2DD", "");
  if (options->label != nullptr && options->format == nullptr)
    return Fail(err, "--label needs -f fat12", "");
  if (cat && options->itemCount != 1)
    return Fail(err, options->itemCount == 0 ? "no name given" : "cat takes one name", "");
  if (edits && options->itemCount == 0)
    return Fail(err, options->verb == Verb::kAdd ? "no file given" : "no name given", "");
  if (folders && options->itemCount != 1) return Fail(err, "give one folder", "");
  const std::size_t asBytes = options->as != nullptr ? std::strlen(options->as) : 0;
  if (options->as != nullptr && options->itemCount != 1 &&
      (asBytes == 0 || options->as[asBytes - 1] != '/'))
    return Fail(err, "--as names one file only", "");
  return true;
}

const char* NextPath(const Options& options, int* index) {
  for (int& i = *index; i < options.argc; ++i) {
    const char* arg = options.argv[i];
    if (IsPath(arg, i, options.optionsEnd)) {
      ++i;
      return arg;
    }
    if (TakesValue(arg)) ++i;
  }
  return nullptr;
}

}  // namespace d88
