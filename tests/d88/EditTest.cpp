// d88 new, add and rm, judged by what d88extract then writes, by the bytes
// of the container, and by what a refusal leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "d88/D88.h"
#include "diskimage/DiskImage.h"
#include "testing/CheckedRun.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

using namespace d88test;
namespace fs = std::filesystem;

namespace {

struct Ran {
  int status;
  std::string err;
};

// Runs d88 with args in-process, names and text in UTF-8.
Ran D88(std::vector<std::string> args) {
  setenv("LC_ALL", "C.UTF-8", 1);
  std::vector<const char*> argv = {"d88"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  diskimage::DiskImage disk;
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  const int status =
      d88::RunD88(disk, static_cast<int>(argv.size()), argv.data(), d88::Console{out, err});
  std::string text;
  std::rewind(err);
  for (int c; (c = std::fgetc(err)) != EOF;) text += static_cast<char>(c);
  std::fclose(out);
  std::fclose(err);
  return {status, text};
}

// d88extract's verdict on a container: its listing's names in order, and
// the files it wrote.
struct Extracted {
  std::vector<std::string> names;
  std::map<std::string, Bytes> files;
};

Extracted Extract(const Bytes& container) {
  d88check::Sandbox box;
  const d88check::RunReport report = box.Run(container.data(), container.size(), true);
  EXPECT_EQ(report.status, 0) << report.err;
  EXPECT_EQ(report.fault, "");
  Extracted result{{}, report.files};
  for (std::size_t at = report.out.find('\n'); at + 1 < report.out.size();
       at = report.out.find('\n', at + 1)) {
    const std::string line = report.out.substr(at + 1, report.out.find(" TRK=", at) - at - 1);
    result.names.push_back(line.substr(0, line.find(' ')));
  }
  return result;
}

// Writes a host file named name into dir with bytes; returns its path.
std::string HostFile(const d88check::Sandbox& dir, const std::string& name, const Bytes& bytes) {
  const std::string path = dir.WorkDir() + "/" + name;
  WriteFileBytes(path, bytes);
  return path;
}

// A blank disk takes one file as large as its free sectors and not a
// byte more; a full one not even an empty file.
void ExpectFillsExactly(const d88check::Sandbox& dir, const std::string& disk, const Medium& m) {
  const std::string copy = disk + ".full", big = dir.WorkDir() + "/BIG";
  const int free =
      m.tracks * m.sectorsPerTrack - (m.directorySector - 1) - m.directoryBytes / m.sectorBytes;
  const std::size_t bytes = std::size_t(free) * m.sectorBytes;
  HostFile(dir, "BIG", PatternBytes(bytes + 1, 3));
  EXPECT_EQ(D88({"add", "-o", copy, disk, big}).err, "d88: image 0: no room for " + big + " (" +
                                                         std::to_string(bytes + 1) +
                                                         " bytes); nothing written\n");
  fs::resize_file(big, bytes);
  ASSERT_EQ(D88({"add", "-o", copy, disk, big}).status, 0);
  EXPECT_EQ(Extract(ReadFileBytes(copy)).files.at("BIG"), ReadFileBytes(big));
  EXPECT_EQ(D88({"add", copy, HostFile(dir, "NIL", {})}).err,
            "d88: image 0: no room for " + dir.WorkDir() + "/NIL (0 bytes); nothing written\n");
}

// new, add, rm, add again on random file sets of both media: d88extract
// writes exactly the files expected, in directory order; a file one byte
// too large for what is left is refused.
TEST(Edit, RoundTripsThroughTheExtractionTool) {
  std::mt19937 random(7);
  for (const Medium* medium : {&k2HD, &k2DD}) {
    const int sector = medium->sectorBytes;
    for (int round = 0; round < 4; ++round) {
      SCOPED_TRACE(std::to_string(sector) + " round " + std::to_string(round));
      d88check::Sandbox dir;
      const std::string disk = dir.WorkDir() + "/disk.d88";
      ASSERT_EQ(D88({"new", "-m", medium == &k2HD ? "2HD" : "2dd", disk}).status, 0);
      if (round == 0) ExpectFillsExactly(dir, disk, *medium);
      const int sizes[] = {0, 1, sector - 1, sector, sector + 1, 40000, 150000};
      std::vector<std::pair<std::string, Bytes>> expected;
      std::vector<std::string> args = {"add", disk};
      for (int i = 0; i < 7; ++i) {
        const std::string name = "F" + std::to_string(i);
        const int size = sizes[(i + round) % 7] + static_cast<int>(random() % 3) * (round > 1);
        expected.push_back({name, PatternBytes(static_cast<std::size_t>(size), random())});
        args.push_back(HostFile(dir, name, expected.back().second));
      }
      ASSERT_EQ(D88(args).status, 0);
      const std::string gone = expected[round % 7].first, also = expected[(round + 3) % 7].first;
      ASSERT_EQ(D88({"rm", disk, gone, also}).status, 0);
      expected.erase(
          std::remove_if(expected.begin(), expected.end(),
                         [&](const auto& f) { return f.first == gone || f.first == also; }),
          expected.end());
      // Again: one file back under its name, one replaced in place.
      const Bytes back = PatternBytes(3000, 9), replaced = PatternBytes(sector * 2, 10);
      ASSERT_EQ(D88({"add", disk, HostFile(dir, gone, back)}).status, 0);
      ASSERT_EQ(D88({"add", disk, HostFile(dir, "r", replaced), "--as", expected[1].first}).status,
                0);
      expected[1].second = replaced;
      expected.push_back({gone, back});
      const Extracted result = Extract(ReadFileBytes(disk));
      ASSERT_EQ(result.names.size(), expected.size());
      for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(result.names[i], expected[i].first);
        EXPECT_EQ(result.files.at(expected[i].first), expected[i].second) << expected[i].first;
      }
    }
  }
}

}  // namespace
