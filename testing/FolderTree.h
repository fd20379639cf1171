// A folder's tree as a user sees it, to compare what two writers wrote.
#ifndef D88EXTRACT_TESTING_FOLDERTREE_H
#define D88EXTRACT_TESTING_FOLDERTREE_H

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "testing/D88Builder.h"

namespace d88test {

// The tree below dir: each path, then "/" for a folder, "->" for a link
// (never followed), or the file's bytes (a long file's size and digest);
// with times, each modification time in seconds.
inline std::map<std::string, std::string> FolderTree(const std::filesystem::path& dir,
                                                     bool times = false) {
  std::map<std::string, std::string> tree;
  for (const auto& item : std::filesystem::recursive_directory_iterator(dir)) {
    std::string& what = tree[item.path().lexically_relative(dir).generic_u8string()];
    if (item.is_symlink() || item.is_directory()) {
      what = item.is_symlink() ? "->" : "/";
    } else {
      const Bytes bytes = ReadFileBytes(item.path());
      what.assign(bytes.begin(), bytes.end());
      // A long file shows as its size and digest, for a short failure message.
      if (what.size() > 64) {
        what = std::to_string(what.size()) + " bytes #" +
               std::to_string(std::hash<std::string>()(what));
      }
    }
#if !defined(_WIN32)
    struct stat status;
    if (times && lstat(item.path().c_str(), &status) == 0) {
      what += " @" + std::to_string(status.st_mtime);
    }
#else
    (void)times;
#endif
  }
  return tree;
}

}  // namespace d88test

#endif
