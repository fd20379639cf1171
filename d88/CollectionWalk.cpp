#include "d88/CollectionWalk.h"

#include "edit/Edit.h"
#include "platform/Platform.h"

namespace d88 {

namespace {

#if defined(_WIN32)
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif
using PathString = std::string;

// True when name ends in the extension of a D88 container, in any case.
bool IsContainerName(const PathString& name) {
  if (name.size() < 4) return false;
  const char* end = name.c_str() + name.size() - 4;
  for (const char* extension : kExtensions) {
    bool same = true;
    for (int i = 0; i < 4 && same; ++i) {
      const char c =
          end[i] >= 'A' && end[i] <= 'Z' ? static_cast<char>(end[i] - 'A' + 'a') : end[i];
      same = c == extension[i];
    }
    if (same) return true;
  }
  return false;
}

// Keeps a folder's subfolders and containers, and the temporary files an
// interrupted edit left; links are left alone.
void KeepEntry(void* context, const platform::FolderEntry& found) {
  auto& listing = *static_cast<std::pair<const PathString*, std::vector<Entry>*>*>(context);
  const PathString name = found.name;
  const bool folderEntry = found.kind == platform::Kind::kFolder;
  const bool file = found.kind == platform::Kind::kFile;
  if (folderEntry || (file && IsContainerName(name)))
    listing.second->push_back(Entry{folderEntry ? name + kSeparator : name, folderEntry, false});
  // A running edit holds its temporary file's lock (where a lock outlives
  // the descriptor that took it).
  if (platform::kLocksOutliveDescriptor && file && edit::IsTempName(name.c_str()) &&
      edit::IsAbandoned(Join(*listing.first, name).c_str()))
    listing.second->push_back(Entry{name, false, true});
}

}  // namespace

// Returns folder/name, with one separator between them.
PathString Join(const PathString& folder, const PathString& name) {
  const bool ended = !folder.empty() && (folder.back() == kSeparator || folder.back() == '/');
  return ended ? folder + name : folder + kSeparator + name;
}

std::string Printable(const PathString& path, const Shown& shown) {
  char text[4 * 4096];
  platform::ShownPath(path.c_str(), shown.stream, shown.utf8, text, sizeof text);
  return text;
}

void Describe(const PathString& path, const Shown& shown, Item* item) {
  item->path = path;
  item->text = Printable(path, shown);
  item->hex.clear();
  for (const char* p = item->text.c_str(); *p != '\0'; p += output::Utf8Bytes(p)) {
    if (output::Utf8Bytes(p) > 0) continue;
    item->hex.resize(item->text.size() * 2 + 1);
    output::HexName(item->text.c_str(), item->text.size(), &item->hex[0], item->hex.size());
    item->hex.pop_back();
    break;
  }
}

bool IsFolder(const PathString& path) {
  return platform::KindOf(path.c_str()) == platform::Kind::kFolder;
}

// Lists folder's subfolders and containers into entries; returns 0, or an
// errno when the folder cannot be read.
int ListFolder(const PathString& folder, std::vector<Entry>* entries) {
  std::pair<const PathString*, std::vector<Entry>*> listing{&folder, entries};
  return platform::ListFolder(folder.c_str(), KeepEntry, &listing);
}

}  // namespace d88
