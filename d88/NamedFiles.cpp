#include "d88/NamedFiles.h"

#include <cstdlib>
#include <cstring>

#include "output/NameText.h"

namespace d88 {

namespace {

// A stretch of the typed name: one folder or file name of a path.
struct Component {
  const char* text;
  std::size_t length;
};

char Folded(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// True when name (NUL-terminated) is the component, ASCII letters in
// either case; the bytes of other characters as they stand.
bool SameAsDos(const char* name, const Component& component) {
  if (name == nullptr || std::strlen(name) != component.length) return false;
  for (std::size_t i = 0; i < component.length; ++i) {
    if (Folded(name[i]) != Folded(component.text[i])) return false;
  }
  return true;
}

// Splits path at '/' and '\' into components, empty ones dropped; returns
// how many, or -1 when there are more than any path of a disk has.
int Split(const char* path, Component* components) {
  int count = 0;
  for (const char* at = path; *at != '\0';) {
    const std::size_t length = std::strcspn(at, "/\\");
    if (length > 0) {
      if (count > filesystem::kMaxDepth) return -1;
      components[count++] = {at, length};
    }
    at += length;
    if (*at != '\0') ++at;
  }
  return count;
}

// True when "#N" names flat file index, as rm takes it.
bool IsPosition(const char* name, int index) {
  if (name[0] != '#' || name[1] < '0' || name[1] > '9') return false;
  char* end = nullptr;
  const long position = std::strtol(name + 1, &end, 10);
  return *end == '\0' && position == index;
}

bool NamesFlatFile(const survey::FileSurvey& file, int index, const char* name) {
  if (name[0] == '#') return IsPosition(name, index);
  if (std::strcmp(file.entry.name, name) == 0) return true;
  char text[output::kNameTextBytes];
  output::DecodeName(file.entry.name, std::strlen(file.entry.name), text, sizeof text);
  return std::strcmp(text, name) == 0;
}

bool NamesEntry(const filesystem::FileSystem& fs, int index, const Component* components,
                int count) {
  if (count != fs.EntryAt(index).depth + 1) return false;
  for (int at = index; count > 0; at = fs.EntryAt(at).parent) {
    if (at < 0 || at >= fs.EntryCount()) return false;
    const filesystem::Entry& e = fs.EntryAt(at);
    const Component& component = components[--count];
    if (!SameAsDos(e.nameText, component) && !SameAsDos(e.aliasText, component)) return false;
  }
  return true;
}

// Marks in named the files name names; returns how many.
int Mark(const survey::DiskSurvey& disk, const survey::FileSystems& fs, const char* name,
         bool* named) {
  int found = 0;
  const int files = FileCount(disk, fs);
  if (fs.IsFlat()) {
    for (int i = 0; i < files; ++i) {
      named[i] = NamesFlatFile(disk.files[i], i, name);
      found += named[i] ? 1 : 0;
    }
    return found;
  }
  Component components[filesystem::kMaxDepth + 1];
  const int count = Split(name, components);
  for (int i = 0; i < files; ++i) {
    named[i] = count > 0 && NamesEntry(*fs.chosen, i, components, count);
    found += named[i] ? 1 : 0;
  }
  return found;
}

// True when entry index of fs lies below a folder chosen.
bool BelowChosen(const filesystem::FileSystem& fs, int index, const bool* chosen) {
  int depth = 0;
  for (int at = fs.EntryAt(index).parent;
       at >= 0 && at < fs.EntryCount() && depth <= filesystem::kMaxDepth;
       at = fs.EntryAt(at).parent, ++depth) {
    if (chosen[at]) return true;
  }
  return false;
}

}  // namespace

int FileCount(const survey::DiskSurvey& disk, const survey::FileSystems& fs) {
  if (fs.IsFlat()) return disk.fileCount;
  const int count = fs.chosen != nullptr ? fs.chosen->EntryCount() : 0;
  return count < kMostFiles ? count : kMostFiles;
}

void PrintNoSuchFile(output::Sink& err, int image, const char* name) {
  err.Printf("d88: image %d holds no file \"", image);
  err.Escaped(name);
  err.Puts("\"; nothing written\n");
}

int FindFile(const survey::DiskSurvey& disk, const survey::FileSystems& fs, const char* name) {
  bool named[kMostFiles];
  if (Mark(disk, fs, name, named) == 0) return -1;
  int last = FileCount(disk, fs) - 1;
  while (!named[last]) --last;
  return last;
}

bool ChooseFiles(const survey::DiskSurvey& disk, const survey::FileSystems& fs,
                 const char* const* names, int count, bool* chosen, output::Sink& err) {
  bool named[kMostFiles];
  const int files = FileCount(disk, fs);
  for (int i = 0; i < files; ++i) chosen[i] = false;
  for (int n = 0; n < count; ++n) {
    if (Mark(disk, fs, names[n], named) == 0) {
      PrintNoSuchFile(err, disk.image.index, names[n]);
      return false;
    }
    for (int i = 0; i < files; ++i) chosen[i] = chosen[i] || named[i];
  }
  for (int i = 0; !fs.IsFlat() && i < files; ++i) {
    chosen[i] = chosen[i] || BelowChosen(*fs.chosen, i, chosen);
  }
  return true;
}

int WriteChosenFlatFiles(const survey::DiskSurvey& disk, const bool* chosen,
                         const tool::EntryListing& listing) {
  for (int i = 0; i < disk.fileCount; ++i) {
    if (!chosen[i]) continue;
    const survey::FileSurvey& file = disk.files[i];
    listing.list(listing.context, file.entry);
    if (!tool::WriteOutputFile(file.entry.name, disk.data + file.range.offset, file.range.length))
      return i;
  }
  return -1;
}

}  // namespace d88
