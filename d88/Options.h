// The command line of d88: d88 VERB [options] CONTAINER; options and the
// container in any order, "--" ending the options.
#ifndef D88EXTRACT_D88_OPTIONS_H
#define D88EXTRACT_D88_OPTIONS_H

#include "output/Sink.h"

namespace d88 {

enum class Verb { kNone, kHelp, kVersion, kList, kTest, kExtract, kMap, kNew, kAdd, kRemove };

// The most files (add) or names (rm) one command takes: more than a
// directory holds.
constexpr int kMaxItems = 256;

struct Options {
  Verb verb = Verb::kNone;            // what to do
  int image = 0;                      // -i K: the image extract and map work on
  const char* directory = nullptr;    // -C DIR: where extract writes; null = here
  bool json = false;                  // --json: JSON instead of text
  const char* svg = nullptr;          // --svg FILE: where map draws its picture
  const char* container = nullptr;    // the container's path
  const char* medium = nullptr;       // -m 2HD|2DD: the medium new formats
  const char* diskName = nullptr;     // -n NAME: the name new gives the disk
  const char* output = nullptr;       // -o OUT: where add and rm write; null = over the container
  const char* as = nullptr;           // --as NAME: add's one file's name on the disk
  const char* items[kMaxItems] = {};  // add's files, rm's names
  int itemCount = 0;                  // how many
};

// Parses argv (argc entries, argv[0] the invocation name) into options.
// Returns false after writing one "d88: ..." line and a pointer to --help
// on err when the command line is not valid; arguments in it are shown with
// their controls escaped.
bool ParseOptions(int argc, const char* const* argv, output::Sink& err, Options* options);

// The text of --help.
extern const char kHelpText[];

}  // namespace d88

#endif
