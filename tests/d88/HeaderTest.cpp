// Header edits and repairs, and containers whose track table is short: d88
// set, fix and hash judged by the bytes they write and print, and by what
// d88extract then makes of the result.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "d88/D88.h"
#include "diskimage/DiskImage.h"
#include "testing/CheckedRun.h"

using namespace d88test;
namespace fs = std::filesystem;

namespace {

struct Ran {
  int status;
  std::string out, err;
};

std::string ReadStream(std::FILE* stream) {
  std::string text;
  std::rewind(stream);
  for (int c; (c = std::fgetc(stream)) != EOF;) text += static_cast<char>(c);
  return text;
}

// Runs d88 with args in-process.
Ran D88(const std::vector<std::string>& args) {
  std::vector<const char*> argv = {"d88"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  diskimage::DiskImage disk;
  std::FILE* streams[2] = {std::tmpfile(), std::tmpfile()};
  const int status = d88::RunD88(disk, static_cast<int>(argv.size()), argv.data(),
                                 d88::Console{streams[0], streams[1]});
  Ran ran{status, ReadStream(streams[0]), ReadStream(streams[1])};
  for (std::FILE* stream : streams) std::fclose(stream);
  return ran;
}

// d88extract's run on a container: its listing and the files it wrote.
d88check::RunReport Extract(const Bytes& container) {
  d88check::Sandbox box;
  return box.Run(container.data(), container.size(), true);
}

// Returns text with every "from" replaced by "to".
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

// A disk of two files on medium, its header of headerBytes.
Image TwoFiles(const Medium& medium, std::size_t headerBytes = 0x2B0) {
  DiskBuilder disk(medium);
  disk.AddFile("READ", Text("read me\r\n"));
  disk.AddFile("DATA", PatternBytes(3000, 4));
  Image image = disk.Build();
  image.headerBytes = headerBytes;
  return image;
}

// A container written into a sandbox's folder.
struct Disk {
  d88check::Sandbox box;
  std::string path;
  explicit Disk(const Bytes& bytes) : path(box.WorkDir() + "/disk.d88") {
    WriteFileBytes(path, bytes);
  }
  Bytes Now() const { return ReadFileBytes(path); }
  // The names in the folder besides the container.
  std::vector<std::string> Others() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(box.WorkDir()))
      if (e.path().filename() != "disk.d88") names.push_back(e.path().filename().string());
    return names;
  }
};

// A table of 160 entries reads as one of 164 does: the same lines but for
// the size and the header's warning, the same map and files, and add and
// rm work; d88extract reads it as it always did.
TEST(ShortHeader, ReadsAsAFullOne) {
  for (const Medium* medium : {&k2DD, &k2HD}) {
    SCOPED_TRACE(medium->mediaLine);
    const Bytes full = TwoFiles(*medium).Build(), shortened = TwoFiles(*medium, 0x2A0).Build();
    const std::string size = std::to_string(full.size()),
                      shortSize = std::to_string(shortened.size());
    const Disk a(full), b(shortened);
    const std::string warning =
        "d88: image 0: header of 672 bytes: its track table holds 160 entries, the first track "
        "follows it\n";
    for (const char* verb : {"list", "test", "map"}) {
      const Ran ranFull = D88({verb, a.path}), ranShort = D88({verb, b.path});
      EXPECT_EQ(ranShort.status, ranFull.status) << verb;
      EXPECT_EQ(Replaced(ranShort.out, shortSize, size), ranFull.out) << verb;
      EXPECT_EQ(ranShort.err, warning) << verb;
    }
    EXPECT_NE(D88({"list", "--json", b.path}).out.find("\"headerBytes\": 672,"), std::string::npos);
    const d88check::RunReport tool = Extract(shortened), toolFull = Extract(full);
    EXPECT_EQ(tool.out, toolFull.out);
    EXPECT_EQ(tool.files, toolFull.files);
    const std::string host = b.box.WorkDir() + "/NEW";
    WriteFileBytes(host, PatternBytes(700, 9));
    ASSERT_EQ(D88({"add", b.path, host}).status, 0);
    ASSERT_EQ(D88({"rm", b.path, "READ"}).status, 0);
    const d88check::RunReport edited = Extract(b.Now());
    EXPECT_EQ(edited.files.count("READ"), 0u);
    EXPECT_EQ(edited.files.at("NEW"), PatternBytes(700, 9));
    EXPECT_EQ(edited.files.at("DATA"), PatternBytes(3000, 4));
  }
}

// One track recorded is said in the singular.
TEST(ShortHeader, OneTrackIsOne) {
  Image image{"ONE", 0x20, {}, {}};
  image.tracks[0].push_back(MakeRecord(0, 0, 1, 3, 1, Bytes(1024, 0)));
  const Disk disk(image.Build());
  EXPECT_NE(D88({"list", disk.path}).out.find(", 1 track recorded"), std::string::npos);
}

}  // namespace
