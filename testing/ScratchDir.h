// A fresh, empty directory for one test or one checked run, removed with
// everything in it when it goes out of scope.
#ifndef D88EXTRACT_TESTING_SCRATCHDIR_H
#define D88EXTRACT_TESTING_SCRATCHDIR_H

#include <string>
#include <vector>

#include "testing/D88Builder.h"

namespace d88test {

class ScratchDir {
 public:
  // Makes the directory in parent, or in the system's temporary directory.
  explicit ScratchDir(const std::string& parent = "");
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // Returns the last component of path().
  std::string Name() const;
  // Returns path()/name.  Names are bytes, on Windows UTF-8.
  std::string File(const std::string& name) const;
  // Returns the names of the entries in the directory, sorted.
  std::vector<std::string> List() const;
  // Returns the contents of the file name; empty when it cannot be read.
  Bytes Read(const std::string& name) const;

 private:
  std::string path_;  // the directory, as bytes (UTF-8 on Windows)
};

}  // namespace d88test

#endif
