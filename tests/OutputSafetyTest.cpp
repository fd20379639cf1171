// Runs that would look right while they are not: a directory given as the
// container, an output name that is a symbolic link to a file elsewhere,
// and a listing that standard output cannot take.  Each must end as a
// failure the user sees, leaving the link and its target as they were.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tests/support/TestSupport.h"
#include "tool/Messages.h"

using namespace d88test;
namespace fs = std::filesystem;

namespace {

struct SafetyCase {
  const char* what;
  bool argumentIsADirectory;       // the path given names a directory
  bool readIsALink;                // READ in the working directory links elsewhere
  bool stdoutIsFull;               // standard output is a full device
  std::string out;                 // standard output, when it is captured
  const char* err;                 // standard error
  std::vector<std::string> files;  // the working directory afterwards
};

TEST(OutputSafety, RunsThatLoseOrMisplaceOutputFail) {
  const std::string listed = "MEDIA TYPE=2HD\nREAD TRK=00 SEC=04 SIZE=4\n";
  const SafetyCase cases[] = {
    {"a directory is no container", true, false, false, "", msg::kCannotOpen, {}},
    {"a link is not written through", false, true, false, listed, msg::kWriteFailed, {"READ"}},
#if !defined(_WIN32)
    {"a lost listing fails the run", false, false, true, "", msg::kWriteFailed, {"READ", "TBL"}},
#endif
  };
  for (const SafetyCase& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir input, cwd, elsewhere;
    DiskBuilder disk(k2HD);
    disk.AddFile("READ", ToBytes("read"));
    disk.AddFile("TBL", ToBytes("tbl"));
    ASSERT_TRUE(WriteFileBytes(input.File("disk.d88"), disk.Build().Build()));
    const std::string target = elsewhere.File("target");
    ASSERT_TRUE(WriteFileBytes(target, ToBytes("mine")));
    if (c.readIsALink) {
      std::error_code error;
      fs::create_symlink(target, cwd.File("READ"), error);
      // The row is left out where no link can be made (mingw's library
      // makes none; Windows lets only some accounts make them).
      if (error) continue;
    }
    const RunResult r =
        RunToolProcess({c.argumentIsADirectory ? input.path() : input.File("disk.d88")}, cwd.path(),
                       c.stdoutIsFull ? "/dev/full" : "");
    EXPECT_EQ(r.status, 1);
    EXPECT_BYTES_EQ(Lines(c.out), r.out);
    EXPECT_BYTES_EQ(Lines(c.err), r.err);
    EXPECT_EQ(cwd.List(), c.files);
    EXPECT_BYTES_EQ(ToBytes("mine"), ReadFileBytes(target));
    if (c.readIsALink) {
      EXPECT_EQ(fs::read_symlink(cwd.File("READ")), fs::path(target));
    } else if (!c.files.empty()) {
      // Files written before the listing was found lost stay.
      EXPECT_BYTES_EQ(ToBytes("read"), cwd.Read("READ"));
      EXPECT_BYTES_EQ(ToBytes("tbl"), cwd.Read("TBL"));
    }
  }
}

}  // namespace
