// Checked runs of the tool and of the reader on a container of any
// content, against the promises that hold whatever its bytes are.  The
// tests and both fuzzers share them.
//
// The tool runs in-process in a sandbox: a fresh directory holding in/
// (the container) and out/ (the run's working directory).  A file written
// anywhere but out/ would show up in the sandbox or in in/, so both are
// listed after every run.  The rules:
//   - the status is 0 or 1;
//   - status 0 leaves the error stream empty; status 1 leaves exactly one
//     of the tool's failure messages there;
//   - standard output is empty when the run failed before it knew the
//     medium, and otherwise starts with a media line; a read that failed
//     leaves no more than the media line;
//   - every file in out/ is a plain file, no larger than the largest disk,
//     whose name begins a listing line.
#ifndef D88EXTRACT_TESTING_CHECKEDRUN_H
#define D88EXTRACT_TESTING_CHECKEDRUN_H

#include <cstdio>
#include <functional>
#include <map>
#include <string>

#include "testing/D88Builder.h"

namespace d88check {

using d88test::Bytes;

// What a run left behind.
struct RunReport {
  int status = -1;                     // the exit status
  std::string out;                     // standard output
  std::string err;                     // standard error
  std::map<std::string, Bytes> files;  // out/ afterwards, by the names the entries spell
  std::string fault;                   // the first rule broken; empty when none was
};

class Sandbox {
 public:
  // Makes a fresh sandbox in the system's temporary directory; it goes,
  // with everything in it, when the object does.
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  // Called with the path of out/ before a run, to put entries there.
  using Prepare = std::function<void(const std::string& outDir)>;

  // Writes size bytes of data as the container, lets prepare fill out/,
  // runs the tool with out/ as the working directory (restored afterwards),
  // checks the rules and empties out/ again.  With readFiles the report
  // holds the contents of the files the run made, not only their names;
  // entries that prepare made are reported empty and not held to the rules.
  RunReport Run(const std::uint8_t* data, std::size_t size, bool readFiles,
                const Prepare& prepare = {});

  // Where Run puts the container, and the run's working directory.
  const std::string& ContainerPath() const { return container_; }
  const std::string& WorkDir() const { return out_; }

 private:
  std::string root_;       // holds in/ and out/
  std::string in_;         // the container's directory
  std::string out_;        // the run's working directory
  std::string container_;  // the container's path
  std::FILE* outStream_;   // the tool's standard output
  std::FILE* errStream_;   // the tool's standard error
};

// Opens the container at path with a reader, selects every image and, on
// the first and the last, lists the IDs of every track, reads sectors
// listed there, on the next track and nowhere one by one, then all of them as one batch, which must
// give the same results and bytes; no read of the file may fail.  Returns
// the first promise broken, or empty.
std::string CheckReader(const std::string& path);

}  // namespace d88check

#endif
