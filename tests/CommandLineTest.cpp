// The built tool end to end: arguments, opening, media identification.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "diskimage/DiskImage.h"
#include "tests/support/TestSupport.h"
#include "tool/Messages.h"
#include "tool/Tool.h"

using namespace d88test;

namespace {

struct MediaCase {
  const char* what;
  Bytes container;
  const char* out;
  const char* err;
  int status;
};

Bytes HeaderOnly(std::uint8_t mediaType) {
  Image image;
  image.mediaType = mediaType;
  return image.Build();
}

TEST(CommandLine, WrongArgumentCountPrintsUsageWithTheInvocationName) {
  ScratchDir cwd;
  for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"a.d88", "b.d88"}}) {
    const RunResult r = RunToolProcess(args, cwd.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_BYTES_EQ(Lines("Usage: " + ToolBinaryPath() + " image\n"), r.err);
  }
  EXPECT_TRUE(cwd.List().empty());
}

// A process may be started with no argument vector at all; the usage line
// then names the tool itself.
TEST(CommandLine, UsageWithoutAnInvocationNameNamesTheTool) {
  const char* const none[] = {nullptr};
  for (int argc : {0, 1}) {
    SCOPED_TRACE(argc);
    DiskImage disk;
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ASSERT_TRUE(out != nullptr && err != nullptr);
    EXPECT_EQ(RunTool(disk, argc, none, Console{out, err}), 1);
    EXPECT_EQ(std::ftell(out), 0);
    char text[64] = {};
    std::rewind(err);
    EXPECT_STREQ(std::fgets(text, sizeof text, err), "Usage: d88extract image\n");
    std::fclose(out);
    std::fclose(err);
  }
}

TEST(CommandLine, MissingFileCannotBeOpened) {
  ScratchDir cwd;
  const RunResult r = RunToolProcess({"no-such-file.d88"}, cwd.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_BYTES_EQ(Lines(msg::kCannotOpen), r.err);
}

TEST(CommandLine, APathWithShellCharactersReachesTheToolUnchanged) {
  ScratchDir cwd;
  ScratchDir input;
  const std::string path = input.File("it's (a) & b ^ !x;.d88");
  ASSERT_TRUE(WriteFileBytes(path, HeaderOnly(0x20)));
  const RunResult r = RunToolProcess({path}, cwd.path());
  EXPECT_EQ(r.status, 0);
  EXPECT_BYTES_EQ(Lines("MEDIA TYPE=2HD\n"), r.out);
  EXPECT_EQ(r.err, "");
}

TEST(CommandLine, IdentifiesTheMediumOfTheFirstImage) {
  const MediaCase cases[] = {
      {"empty file", {}, "", msg::kWrongMedium, 1},
      {"687 bytes", Bytes(687, 0), "", msg::kWrongMedium, 1},
      {"media type 0x00", HeaderOnly(0x00), "", msg::kWrongMedium, 1},
      {"media type 0x30", HeaderOnly(0x30), "", msg::kWrongMedium, 1},
      {"media type 0x11", HeaderOnly(0x11), "", msg::kWrongMedium, 1},
      {"2DD", HeaderOnly(0x10), "MEDIA TYPE=2DD\n", "", 0},
      {"2HD", HeaderOnly(0x20), "MEDIA TYPE=2HD\n", "", 0},
      {"2DD first, 2HD second", Concat({HeaderOnly(0x10), HeaderOnly(0x20)}), "MEDIA TYPE=2DD\n", "", 0},
      {"bad first, 2HD second", Concat({HeaderOnly(0x00), HeaderOnly(0x20)}), "", msg::kWrongMedium, 1},
  };
  for (const MediaCase& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir cwd;
    ScratchDir input;
    const std::string path = input.File("disk.d88");
    ASSERT_TRUE(WriteFileBytes(path, c.container));
    const RunResult r = RunToolProcess({path}, cwd.path());
    EXPECT_EQ(r.status, c.status);
    EXPECT_BYTES_EQ(Lines(c.out), r.out);
    EXPECT_BYTES_EQ(Lines(c.err), r.err);
    EXPECT_TRUE(cwd.List().empty());
  }
}

}  // namespace
