// Containers cut short, damaged at random or taken from the fuzz corpus,
// run through the whole tool in-process under the rules that hold for
// any input (testing/CheckedRun.h).
#include <gtest/gtest.h>

#include <random>

#include "testing/CheckedRun.h"
#include "tool/Messages.h"

using namespace d88test;

namespace {

constexpr std::size_t kHeader = 688, kRecord = 16 + 1024;

// A 2HD disk with files on tracks 0 and 1, the only tracks recorded: 16
// records of 1040 bytes after the image header.
Bytes SmallDisk() {
  DiskBuilder disk(k2HD);
  disk.AddFile("TEXT", Text("a small text\r\n"));
  disk.AddFile("XTRK", PatternBytes(9000, 2));  // from sector 5 of track 0 into track 1
  return disk.Build(2).Build();
}

// Every cut through the image header, each record header, the first 48
// data bytes of a record (the first entries of a directory sector) and
// its last 8; every 17th byte of the rest.  A sector whose header the cut
// removes reads as nothing, and one whose data it shortens reads as far as
// the file goes: the tool's buffers keep zeros there either way, so the
// run must be that of the whole container with its data zeroed from the
// cut on.
TEST(Damage, EveryCutReadsAsTheDataItStillHolds) {
  const Bytes full = SmallDisk();
  d88check::Sandbox sandbox;
  for (std::size_t cut = 0, in = 0; cut < full.size();
       cut += cut < kHeader || in < 64 || in >= kRecord - 8 ? 1 : 17) {
    in = cut < kHeader ? 0 : (cut - kHeader) % kRecord;
    Bytes zeroed = full;
    for (std::size_t at = std::max(cut, kHeader); at < zeroed.size(); ++at)
      zeroed[at] = (at - kHeader) % kRecord < 16 ? zeroed[at] : 0;
    const d88check::RunReport r = sandbox.Run(full.data(), cut, true);
    const d88check::RunReport z =
        cut < kHeader ? r : sandbox.Run(zeroed.data(), zeroed.size(), true);
    ASSERT_TRUE(r.fault.empty() && r.err == (cut < kHeader ? tool::msg::kWrongMedium : "") &&
                r.out == z.out && r.files == z.files)
        << "cut at " << cut << ": " << r.fault << r.err << r.out;
  }
}

// A few bytes replaced at random, 2000 times; three in four fall on the
// image header and the records of sectors 1-3 (the directory's), where
// anything is decided.  The damage must reach both ways a run can end.
TEST(Damage, RandomDamageKeepsTheRules) {
  const Bytes full = SmallDisk();
  d88check::Sandbox sandbox;
  std::mt19937 random(5);
  int outcomes[2] = {};
  for (int i = 0; i < 2000; ++i) {
    Bytes damaged = full;
    for (int n = 1 + static_cast<int>(random() % 4); n > 0; --n) {
      damaged[random() % (random() % 4 ? kHeader + 3 * kRecord : full.size())] =
          static_cast<std::uint8_t>(random());
    }
    const d88check::RunReport r = sandbox.Run(damaged.data(), damaged.size(), false);
    ASSERT_EQ(r.fault, "") << "iteration " << i;
    ++outcomes[r.status];
  }
  EXPECT_TRUE(outcomes[0] > 0 && outcomes[1] > 0);
}

// The fuzz corpus, through the whole tool and through the reader alone.
TEST(Damage, TheFuzzCorpusKeepsTheRules) {
  d88check::Sandbox sandbox;
  for (const auto& entry : std::filesystem::directory_iterator(D88_FUZZ_CORPUS)) {
    const Bytes input = ReadFileBytes(entry.path());
    EXPECT_EQ(sandbox.Run(input.data(), input.size(), false).fault +
                  d88check::CheckReader(entry.path().string()),
              "")
        << entry.path();
  }
}

}  // namespace
