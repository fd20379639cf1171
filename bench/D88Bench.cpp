// Whole-process benchmark of d88extract, run by hand:
//   d88bench TOOL IO_FLOOR [ROUNDS [D88 [BASELINE]]]
// With D88 (the d88 program) its test verb is timed on the same inputs
// and on a full FAT12 disk of the same six files, and its add of a
// 40,000-byte file to the six-file container and to a FAT12 disk of five;
// with BASELINE (an older d88extract) that one is timed beside TOOL on the
// six-file and the crafted containers, each pair run back to back.
// Builds the inputs in a scratch directory, runs every command ROUNDS times
// interleaved (so drift hits all alike), and prints median wall times,
// the ratios the performance goals are stated in, and the peak memory,
// each goal marked met or MISSED.  Exits 1 when a goal is missed.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchInputs.h"
#include "bench/Processes.h"

namespace fs = std::filesystem;
using namespace bench;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s TOOL IO_FLOOR [ROUNDS [D88 [BASELINE]]]\n", argv[0]);
    return 2;
  }
  const std::string tool = fs::absolute(argv[1]).string();
  const std::string floor = fs::absolute(argv[2]).string();
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 21;

  const fs::path scratch = fs::temp_directory_path() / ("d88bench-" + std::to_string(getpid()));
  fs::create_directories(scratch);
  const std::string sixFile = (scratch / "six-file.d88").string();
  const std::string crafted1 = (scratch / "crafted-1m.d88").string();
  const std::string crafted4 = (scratch / "crafted-4m.d88").string();
  d88test::WriteFileBytes(sixFile, bench::SixFileDisk());
  const std::string sixFat = (scratch / "six-file-fat12.d88").string();
  d88test::WriteFileBytes(sixFat, bench::SixFileFatDisk());
  // Five of the files: room for the one add writes.
  const std::string roomFat = (scratch / "five-file-fat12.d88").string();
  d88test::WriteFileBytes(roomFat, bench::SixFileFatDisk(bench::kSixFiles - 1));
  d88test::WriteFileBytes(crafted1, bench::CraftedLongRun(1u << 20));
  d88test::WriteFileBytes(crafted4, bench::CraftedLongRun(4u << 20));
  const std::string distinct4 = (scratch / "crafted-4m-distinct.d88").string();
  const std::string addedFile = (scratch / "NEW").string();
  d88test::WriteFileBytes(addedFile, d88test::PatternBytes(40000, 7));
  d88test::WriteFileBytes(distinct4, bench::CraftedLongRun(4u << 20, true));

  std::vector<Command> commands = {
      {"io floor (read + six files)",
       {floor, sixFile, std::to_string(bench::kSixFiles), std::to_string(bench::kSixFileBytes)},
       {}},
      {"d88extract six-file 2HD", {tool, sixFile}, {}},
      {"d88extract crafted 1 MiB", {tool, crafted1}, {}},
      {"d88extract crafted 4 MiB", {tool, crafted4}, {}},
      {"  ... every track its own start", {tool, distinct4}, {}},
  };
  // d88 test reports the crafted containers' files as damaged: status 2.
  const std::string d88 = argc > 4 ? fs::absolute(argv[4]).string() : std::string();
  if (!d88.empty()) {
    commands.push_back({"d88 test six-file 2HD", {d88, "test", sixFile}, {}, 0, 2});
    commands.push_back({"d88 test crafted 1 MiB", {d88, "test", crafted1}, {}, 0, 2});
    commands.push_back({"d88 test crafted 4 MiB", {d88, "test", crafted4}, {}, 0, 2});
    // add writes its result beside, into the emptied working directory.
    commands.push_back({"d88 add 40,000 bytes, six-file",
                        {d88, "add", "-o", "added.d88", sixFile, addedFile},
                        {}});
    commands.push_back({"d88 test six-file FAT12 2HD", {d88, "test", sixFat}, {}});
    commands.push_back(
        {"d88 add 40,000 bytes, FAT12", {d88, "add", "-o", "added.d88", roomFat, addedFile}, {}});
  }
  // The baseline's twin of each d88extract command; a pair runs back to
  // back, in turns first, so that neither gains from the order.
  const std::string baseline = argc > 5 ? fs::absolute(argv[5]).string() : std::string();
  const std::size_t firstBaseline = commands.size();
  const char* const baselineLabels[] = {"baseline six-file 2HD", "baseline crafted 1 MiB",
                                        "baseline crafted 4 MiB", "baseline distinct starts"};
  for (std::size_t i = 1; !baseline.empty() && i <= 4; ++i) {
    Command old{baselineLabels[i - 1], {baseline, commands[i].argv[1]}, {}};
    old.twin = static_cast<int>(i);
    commands[i].twin = static_cast<int>(commands.size());
    commands.push_back(old);
  }
  const fs::path work = scratch / "out";
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t i = 0; i < firstBaseline; ++i) {
      Command& c = commands[i];
      Command* pair[2] = {&c, c.twin < 0 ? nullptr : &commands[static_cast<std::size_t>(c.twin)]};
      if (round % 2 == 1 && pair[1] != nullptr) std::swap(pair[0], pair[1]);
      for (Command* p : pair) {
        if (p != nullptr) p->seconds.push_back(TimeOnce(*p, work));
      }
    }
  }
  for (Command& c : commands) MeasurePeak(c, work);
  fs::remove_all(scratch);

  std::printf("%-32s %12s %10s\n", "command", "median ms", "peak KiB");
  for (const Command& c : commands)
    std::printf("%-32s %12.3f %10ld\n", c.label, Median(c.seconds) * 1e3, c.peakKiB);
  const double floorT = Median(commands[0].seconds), six = Median(commands[1].seconds);
  const double c1 = Median(commands[2].seconds), c4 = Median(commands[3].seconds);
  long toolPeak = 0;
  for (std::size_t i = 1; i < 5; ++i) toolPeak = std::max(toolPeak, commands[i].peakKiB);
  std::vector<Goal> goals = {
      {"six-file extraction / io floor:", six / floorT, "x", 1.25},
      {"crafted 4 MiB / six-file:", c4 / six, "x", 40},
      {"crafted 4 MiB / crafted 1 MiB:", c4 / c1, "x", 5},
      {"distinct starts / six-file:", Median(commands[4].seconds) / six, "x", 40},
      {"peak memory of d88extract:", static_cast<double>(toolPeak) / 1024.0, " MiB", 8},
  };
  if (!d88.empty()) {
    const double test6 = Median(commands[5].seconds), test1 = Median(commands[6].seconds);
    long d88Peak = 0;
    for (std::size_t i = 5; i < 8; ++i) d88Peak = std::max(d88Peak, commands[i].peakKiB);
    goals.push_back({"d88 test / d88extract, six-file:", test6 / six, "x", 1.5});
    goals.push_back(
        {"d88 test crafted 4 MiB / 1 MiB:", Median(commands[7].seconds) / test1, "x", 5});
    goals.push_back({"peak memory of d88 test:", static_cast<double>(d88Peak) / 1024.0, " MiB", 8});
    goals.push_back({"d88 add / d88extract, six-file:", Median(commands[8].seconds) / six, "x", 3});
    goals.push_back(
        {"d88 test FAT12 / d88extract, six-file:", Median(commands[9].seconds) / six, "x", 1.5});
    goals.push_back(
        {"d88 add FAT12 / d88extract, six-file:", Median(commands[10].seconds) / six, "x", 3});
  }
  const char* const pairLabels[] = {"d88extract / baseline, six-file:", "  ..., crafted 1 MiB:",
                                    "  ..., crafted 4 MiB:", "  ..., distinct starts:"};
  for (std::size_t i = firstBaseline; i < commands.size(); ++i) {
    const Command& c = commands[i];
    goals.push_back({pairLabels[i - firstBaseline],
                     Median(commands[static_cast<std::size_t>(c.twin)].seconds) / Median(c.seconds),
                     "x", 1.03});
  }
  const bool allMet = PrintGoals(goals);
  return allMet ? 0 : 1;
}
