// The command line of d88: d88 VERB [options] CONTAINER, or for list and
// test any number of containers and folders; options and paths in any
// order, "--" ending the options.
#ifndef D88EXTRACT_D88_OPTIONS_H
#define D88EXTRACT_D88_OPTIONS_H

#include "output/Sink.h"
#include "survey/FileSystems.h"

namespace d88 {

enum class Verb {
  kNone,
  kHelp,
  kVersion,
  kList,
  kTest,
  kExtract,
  kMap,
  kNew,
  kAdd,
  kRemove,
  kMakeFolder,
  kRemoveFolder,
  kSplit,
  kJoin,
  kExport,
  kImport,
  kCat,
  kSet,
  kFix,
  kHash,
};

// The most files (add) or names (rm, extract, cat) one command takes:
// more than a directory holds.
constexpr int kMaxItems = 256;

struct Options {
  Verb verb = Verb::kNone;            // what to do
  int image = 0;                      // -i K: the image extract and map work on
  bool imageChosen = false;           // -i given: list shows that image alone
  const char* directory = nullptr;    // -C DIR: where extract writes; null = here
  bool json = false;                  // --json: JSON instead of text
  const char* svg = nullptr;          // --svg FILE: where map draws its picture
  const char* container = nullptr;    // the container's path, the first of them
  int pathCount = 0;                  // containers and folders named
  int jobs = 0;                       // -j N: containers surveyed at once; 0 = one a processor
  const char* const* argv = nullptr;  // the command line, where the paths are
  int argc = 0;                       // its entries
  int optionsEnd = 0;                 // the index of "--", or argc
  const char* medium = nullptr;       // -m 2HD|2DD: the medium new formats
  const char* diskName = nullptr;     // -n NAME: the name new gives the disk
  const char* format = nullptr;       // -f fat12: the file system new formats; null: flat
  const char* label = nullptr;        // --label LABEL: the volume label new -f fat12 gives
  const char* output = nullptr;       // -o OUT: where add and rm write; null = over the container
  const char* as = nullptr;           // --as NAME: add's one file's name on the disk
  const char* items[kMaxItems] = {};  // add's files, rm's, extract's and cat's names
  int itemCount = 0;                  // how many
  const char* newName = nullptr;      // --name NAME: the name set gives the disk
  const char* protect = nullptr;      // --protect on|off: set's write-protect byte
  const char* media = nullptr;        // --media M: set's media byte
  survey::FileSystemChoice fileSystem = survey::FileSystemChoice::kAny;  // --fs
  const char* sectorFile = nullptr;  // -f raw|fdi: export's and import's file; null = by extension
  const char* shape = nullptr;       // -g GEOMETRY: the disk import makes; null = by size
  bool force = false;                // --force: export what a clean copy cannot hold
};

// The most containers surveyed at once.
constexpr int kMostJobs = 64;

// Returns the first path of options' command line at or after *index, and
// sets *index past it; null when there is none left.  Start with *index 2.
const char* NextPath(const Options& options, int* index);

// Parses argv (argc entries, argv[0] the invocation name) into options.
// Returns false after writing one "d88: ..." line and a pointer to --help
// on err when the command line is not valid; arguments in it are shown with
// their controls escaped.
bool ParseOptions(int argc, const char* const* argv, output::Sink& err, Options* options);

// The text of --help.
extern const char kHelpText[];

}  // namespace d88

#endif
