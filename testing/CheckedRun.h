// One run of the whole tool, in-process, on a container of any content,
// checked against the rules that hold whatever its bytes are.  The fuzzer
// and the damage tests share it.
//
// The run happens in a sandbox: a fresh directory holding in/ (the
// container) and out/ (the run's working directory).  A file written
// anywhere but out/ would show up in the sandbox or in in/, so both are
// listed after every run.  The rules:
//   - the status is 0 or 1;
//   - status 0 leaves the error stream empty; status 1 leaves exactly one
//     of the tool's failure messages there;
//   - standard output is empty when the run failed before it knew the
//     medium, and otherwise starts with a media line;
//   - every file in out/ is a plain file, no larger than the largest disk,
//     whose name begins a listing line.
#ifndef D88EXTRACT_TESTING_CHECKEDRUN_H
#define D88EXTRACT_TESTING_CHECKEDRUN_H

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

#include "testing/D88Builder.h"
#include "testing/ScratchDir.h"

namespace d88check {

using d88test::Bytes;

// What a run left behind.
struct RunReport {
  int status = -1;
  std::string out;                     // standard output
  std::string err;                     // standard error
  std::map<std::string, Bytes> files;  // out/ after the run; contents only when asked for
  std::string fault;                   // the first rule broken; empty when none was
};

class Sandbox {
 public:
  // Makes a fresh sandbox under the system's temporary directory; it is
  // removed with everything in it when the sandbox goes.
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  // Writes size bytes of data as the container, runs the tool on it with
  // out/ as the working directory (restored afterwards), checks the rules
  // and empties out/ again.  With readFiles the report holds the contents
  // of the files as well as their names.
  RunReport Run(const std::uint8_t* data, std::size_t size, bool readFiles);

  // Where Run puts the container.
  const std::string& ContainerPath() const { return container_; }

 private:
  d88test::ScratchDir root_;  // holds in/ and out/
  std::string in_;            // the container's directory
  std::string out_;           // the run's working directory
  std::string container_;     // the container's path
  std::FILE* outStream_;      // the tool's standard output
  std::FILE* errStream_;      // the tool's standard error
};

}  // namespace d88check

#endif
