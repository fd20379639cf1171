// The walk of a collection: the containers the command line names, and
// those in the folders it names, one at a time in a fixed order.
#ifndef D88EXTRACT_D88_COLLECTIONWALK_H
#define D88EXTRACT_D88_COLLECTIONWALK_H

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "d88/Options.h"
#include "output/NameText.h"

namespace d88 {

using PathString = std::string;

// A container to survey, or a folder that could not be read.
struct Item {
  PathString path;   // as the file system has it (UTF-8 on Windows), to open
  std::string text;  // as printed: the bytes on POSIX, the report's code page on Windows
  std::string hex;   // text's bytes in hex when they are not all UTF-8; else empty
  int folderError;   // errno when the folder at path could not be read; else 0
  bool leftover;     // a temporary file an interrupted edit left, not a container
};

// One entry of a folder worth keeping.
struct Entry {
  PathString name;  // a folder's with the separator after it, so that names sort as paths
  bool folder;      // a folder (never a link to one); else a container's file
  bool leftover;    // a temporary file an interrupted edit left
};

// Where reports go, which decides how their paths are printed.
struct Shown {
  std::FILE* stream;  // the report's stream
  bool utf8;          // JSON: UTF-8 whatever the stream
};

// The extensions of a D88 container's name.
constexpr const char* kExtensions[] = {".d88", ".d77", ".88d", ".d98", ".d68", ".1dd"};
constexpr int kExtensionCount = sizeof kExtensions / sizeof kExtensions[0];

// Returns folder/name, with one separator between them.
PathString Join(const PathString& folder, const PathString& name);

// The path as the report shows it.
std::string Printable(const PathString& path, const Shown& shown);

bool IsFolder(const PathString& path);

// Fills item's path, and its text and hex as shown says it is printed.
void Describe(const PathString& path, const Shown& shown, Item* item);

// Lists folder's subfolders and containers into entries; returns 0, or an
// errno when the folder cannot be read.
int ListFolder(const PathString& folder, std::vector<Entry>* entries);

// The containers of the command line's paths, one at a time: a path that
// is not a folder as it stands, a folder's containers sorted by path.
// Holds the entries of the folders being walked, one folder a level.
class Walker {
 public:
  // Walks options' paths, printed as shown says.
  Walker(const Options& options, const Shown& shown) : options_(options), shown_(shown) {}

  // Gives the next container (or unreadable folder) in *item; false when
  // every path is walked.
  bool Next(Item* item) {
    for (;;) {
      if (!folders_.empty()) {
        Folder& top = folders_.back();
        if (top.next == top.entries.size()) {
          folders_.pop_back();
          continue;
        }
        const Entry entry = top.entries[top.next++];
        if (Give(Join(top.path, entry.name), entry.folder, item)) {
          item->leftover = entry.leftover;
          return true;
        }
        continue;
      }
      const char* arg = NextPath(options_, &argument_);
      if (arg == nullptr) return false;
      const PathString path = arg;
      if (Give(path, IsFolder(path), item)) return true;
    }
  }

 private:
  struct Folder {
    PathString path;
    std::vector<Entry> entries;  // sorted by the paths they make
    std::size_t next;            // the entry to look at next
  };

  // Fills item with a container, or enters a folder; true when item is
  // filled (a container, or a folder that cannot be read).
  bool Give(const PathString& path, bool folder, Item* item) {
    Describe(path, shown_, item);
    item->folderError = 0;
    item->leftover = false;
    if (!folder) return true;
    std::vector<Entry> entries;
    item->folderError = ListFolder(path, &entries);
    if (item->folderError != 0) return true;
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    folders_.push_back(Folder{path, std::move(entries), 0});
    return false;
  }

  const Options& options_;
  Shown shown_;                  // how paths are printed
  int argument_ = 2;             // where the command line's next path is looked for
  std::vector<Folder> folders_;  // the folders being walked, outermost first
};

}  // namespace d88

#endif
