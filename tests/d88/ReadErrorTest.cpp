// d88 as a process under read errors that strace injects into its reads
// of one file: the run ends with status 1 and the reason, and leaves no
// verdict, listing, extracted file or changed container behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "testing/CheckedRun.h"

using namespace d88test;
namespace fs = std::filesystem;

namespace {

#if !defined(_WIN32)
TEST(ReadErrors, EndTheRunWithTheReason) {
  if (std::system("strace -o /dev/null true 2>/dev/null") != 0) GTEST_SKIP() << "no strace";
  DiskBuilder builder(k2HD);
  builder.AddFile("READ", Text("read me\r\n"));
  builder.AddFile("TBL", PatternBytes(4096, 1));
  builder.AddFile("LONG", PatternBytes(12192, 2));
  const Bytes sound = builder.Build().Build();
  const std::string eio = ": Input/output error";
  const struct {
    const char *file, *fault, *args;  // the file whose reads fail, how, and d88's arguments
    std::string out, err;
  } rows[] = {
      {"c.d88", "read:error=EIO:when=1", "test c.d88", "", "d88: cannot read c.d88" + eio},
      {"c.d88", "read:error=EIO:when=5", "list c.d88", "", "d88: cannot read c.d88" + eio},
      {"c.d88", "lseek:error=EIO:when=4", "test c.d88", "", "d88: cannot read c.d88" + eio},
      {"c.d88", "read:error=EIO:when=5", "extract -C x c.d88", "", "d88: cannot read c.d88" + eio},
      {"c.d88", "read:error=EIO:when=9", "map c.d88", "", "d88: cannot read c.d88" + eio},
      {"c.d88", "read:error=EIO:when=20", "add c.d88 F", "",
       "d88: cannot read c.d88" + eio + "; nothing written"},
      {"c.d88", "read:error=EIO:when=50", "rm c.d88 READ", "",
       "d88: cannot read c.d88" + eio + "; nothing written"},
      {"F", "read:error=EIO:when=1", "add c.d88 F", "",
       "d88: cannot read F" + eio + "; nothing written"},
      {"c.d88", "read:error=EIO:when=1", "test -j1 c.d88 d.d88",
       "c.d88: cannot read" + eio +
           "\n2 containers: 1 intact, 0 damaged, 1 unreadable; 6 files: 6 intact, 0 damaged\n",
       ""},
      {"d.d88", "read:error=EIO:when=4", "test -j1 c.d88 d.d88",  // on disk 1 of 2
       "d.d88: cannot read" + eio +
           "\n2 containers: 1 intact, 0 damaged, 1 unreadable; 3 files: 3 intact, 0 damaged\n",
       ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.args) + " " + row.fault);
    d88check::Sandbox box;
    const std::string at = box.WorkDir() + "/";
    WriteFileBytes(at + "c.d88", sound);
    WriteFileBytes(at + "d.d88", Concat({sound, sound}));
    WriteFileBytes(at + "F", PatternBytes(40000, 3));
    // LeakSanitizer cannot work under strace.
    const std::string command = "cd '" + at + "' && ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=0 " +
                                "strace -f -o /dev/null -P '" + at + row.file +
                                "' -e trace=read,lseek -e inject=" + row.fault +
                                " '" D88_BINARY "' " + row.args + " >out 2>err";
    EXPECT_EQ(std::system(command.c_str()), 256);
    const auto text = [&at](const char* name) {
      const Bytes bytes = ReadFileBytes(at + name);
      return std::string(bytes.begin(), bytes.end());
    };
    EXPECT_EQ(text("out"), row.out);
    EXPECT_EQ(text("err"), row.err.empty() ? "" : row.err + "\n");
    EXPECT_TRUE(ReadFileBytes(at + "c.d88") == sound);
    EXPECT_EQ(std::distance(fs::directory_iterator(at), {}), 5);  // c.d88, d.d88, F, out, err
  }
}
#endif

}  // namespace
