// Benchmark of d88 test over a collection, run by hand or by bench/run.sh:
//   d88collectionbench D88 [CONTAINERS [ROUNDS [--report-only]]]
// Builds CONTAINERS containers (default 1000: 2HD and 2DD, one in ten
// damaged, about 1.2 GB) in folders of 100 in a scratch directory, reads
// them once so the page cache is warm, then times, in turns, ROUNDS times
// (default 5): cat of every file to /dev/null, `d88 test -j 2 FOLDER`, and
// the shell loop of one `d88 test FILE` per container.  Prints the median
// times, the ratios the goals are stated in, and the peak memory for 1, 2
// and 4 workers and for one folder against the whole collection.  Exits 1
// when a goal is missed, unless --report-only.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/Processes.h"
#include "testing/D88Builder.h"

namespace fs = std::filesystem;
using namespace bench;
using namespace d88test;

namespace {

// Containers a folder of the collection holds.
constexpr int kPerFolder = 100;

// A disk of medium filled by files of 60,000 bytes; damaged, one of its
// sectors lost and another recorded with a data CRC error.
Bytes Container(const Medium& medium, bool damaged, unsigned seed) {
  DiskBuilder disk(medium);
  const int files = medium.DiskBytes() / 64000;
  for (int i = 0; i < files; ++i)
    disk.AddFile("F" + std::to_string(i), PatternBytes(60000, seed + i));
  Image image = disk.Build();
  if (damaged) {
    image.tracks[5].erase(image.tracks[5].begin() + 2);
    image.tracks[9][1].status = 0xB0;
  }
  return image.Build();
}

// Writes the collection into root; returns the containers' paths.
std::vector<std::string> MakeCollection(const fs::path& root, int count) {
  // Four kinds: 2HD and 2DD, each sound and damaged.  Three of four are 2HD.
  const Bytes kinds[4] = {Container(k2HD, false, 1), Container(k2HD, true, 2),
                          Container(k2DD, false, 3), Container(k2DD, true, 4)};
  std::vector<std::string> paths;
  for (int i = 0; i < count; ++i) {
    const fs::path folder = root / ("set" + std::to_string(i / kPerFolder));
    fs::create_directories(folder);
    const bool twoDD = i % 4 == 3, damaged = i % 10 == 7;
    const std::string path = (folder / ("disk" + std::to_string(i) + ".d88")).string();
    WriteFileBytes(path, kinds[(twoDD ? 2 : 0) + (damaged ? 1 : 0)]);
    paths.push_back(path);
  }
  return paths;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s D88 [CONTAINERS [ROUNDS [--report-only]]]\n", argv[0]);
    return 2;
  }
  const std::string d88 = fs::absolute(argv[1]).string();
  const int count = argc > 2 ? std::atoi(argv[2]) : 1000;
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 5;
  const bool reportOnly = argc > 4 && std::strcmp(argv[4], "--report-only") == 0;
  if (count < 1 || rounds < 1) return 2;

  const fs::path scratch =
      fs::temp_directory_path() / ("d88collection-" + std::to_string(getpid()));
  const fs::path collection = scratch / "collection";
  const std::vector<std::string> paths = MakeCollection(collection, count);
  std::uintmax_t bytes = 0;
  for (const std::string& p : paths) bytes += fs::file_size(p);

  // Test finds damage: status 2.
  Command cat{"cat FILES > /dev/null", {"/bin/cat"}, {}};
  cat.argv.insert(cat.argv.end(), paths.begin(), paths.end());
  Command audit{"d88 test -j 2 FOLDER", {d88, "test", "-j", "2", collection.string()}, {}, 0, 2};
  Command loop{
      "one d88 test a container",
      {"/bin/sh", "-c", "d=$1; shift; for f; do \"$d\" test \"$f\"; done; true", "sh", d88},
      {}};
  loop.argv.insert(loop.argv.end(), paths.begin(), paths.end());
  std::vector<Command*> timed = {&cat, &audit, &loop};

  const fs::path work = scratch / "out";
  TimeOnce(cat, work);  // the page cache warm
  cat.seconds.clear();
  for (int round = 0; round < rounds; ++round) {
    for (Command* c : timed) c->seconds.push_back(TimeOnce(*c, work));
  }

  Command jobs[3] = {{"peak, -j 1", {d88, "test", "-j", "1", collection.string()}, {}, 0, 2},
                     {"peak, -j 2", audit.argv, {}, 0, 2},
                     {"peak, -j 4", {d88, "test", "-j", "4", collection.string()}, {}, 0, 2}};
  Command folder{
      "peak, -j 2, one folder", {d88, "test", "-j", "2", (collection / "set0").string()}, {}, 0, 2};
  for (Command& c : jobs) MeasurePeak(c, work);
  MeasurePeak(folder, work);
  fs::remove_all(scratch);

  std::printf("%d containers, %.0f MB\n\n", count, static_cast<double>(bytes) / 1e6);
  std::printf("%-32s %12s\n", "command", "median ms");
  for (const Command* c : timed) std::printf("%-32s %12.1f\n", c->label, Median(c->seconds) * 1e3);
  std::printf("\n%-32s %12s\n", "command", "peak KiB");
  for (const Command& c : jobs) std::printf("%-32s %12ld\n", c.label, c.peakKiB);
  std::printf("%-32s %12ld\n", folder.label, folder.peakKiB);

  const double catT = Median(cat.seconds), auditT = Median(audit.seconds);
  // What one more worker costs, and what is left for the run itself.
  const double perWorkerMiB = static_cast<double>(jobs[2].peakKiB - jobs[1].peakKiB) / 2 / 1024;
  const double baseMiB = static_cast<double>(jobs[0].peakKiB) / 1024 - perWorkerMiB;
  const std::vector<Goal> goals = {
      {"d88 test -j 2 / cat:", auditT / catT, "x", 1.5},
      {"d88 test -j 2 / a process each:", auditT / Median(loop.seconds), "x", 0.25},
      {"memory per worker:", perWorkerMiB, " MiB", 0},
      {"memory besides the workers:", baseMiB, " MiB", 8},
      {"collection / one folder, peak:",
       static_cast<double>(jobs[1].peakKiB) / static_cast<double>(folder.peakKiB), "x", 1.1},
  };
  const bool met = PrintGoals(goals);
  return met || reportOnly ? 0 : 1;
}
