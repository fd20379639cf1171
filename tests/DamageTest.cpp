// Containers cut short or damaged at random, each run through the whole
// tool in-process under the rules that hold for any input
// (testing/CheckedRun.h): status, messages, output, and no file but a listed
// one, in the working directory only.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "testing/CheckedRun.h"
#include "tests/support/TestSupport.h"
#include "tool/Messages.h"

using namespace d88test;
using d88check::RunReport;
using d88check::Sandbox;

namespace {

constexpr std::size_t kImageHeader = 688;
constexpr std::size_t kRecordHeader = 16;
constexpr std::size_t kRecord = kRecordHeader + 1024;
constexpr std::size_t kRecords = 16;

// A 2HD disk with three files on tracks 0 and 1, the only tracks recorded:
// 16 records of 1040 bytes after the image header, 17,328 bytes in all.
Bytes SmallDisk() {
  DiskBuilder disk(k2HD);
  disk.AddFile("TEXT", ToBytes("a small text\r\n"));
  disk.AddFile("BIN", PatternBytes(3000, 1));
  disk.AddFile("XTRK", PatternBytes(9000, 2));  // from sector 7 of track 0 into track 1
  return FirstTracks(disk.Build(), 2).Build();
}

// The whole container with every data byte from `cut` on set to zero.  A
// sector whose header the cut removes reads as nothing, and one whose data
// it shortens reads as far as the file goes: either way the tool's buffers
// keep zeros there, so the cut container must give the same run as this.
Bytes DataZeroedFrom(const Bytes& full, std::size_t cut) {
  Bytes b = full;
  for (std::size_t at = std::max(cut, kImageHeader); at < b.size(); ++at) {
    if ((at - kImageHeader) % kRecord >= kRecordHeader) b[at] = 0;
  }
  return b;
}

::testing::AssertionResult SameRun(const RunReport& expected, const RunReport& actual) {
  if (expected.status == actual.status && expected.out == actual.out && expected.err == actual.err &&
      expected.files == actual.files) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "status " << actual.status << " instead of " << expected.status
                                       << "\noutput:\n" << actual.out << "instead of:\n" << expected.out;
}

// The next cut to try after `cut`: every one through the image header,
// each record header and the first 48 data bytes of a record (which hold
// the first entries of a directory sector) and its last 8; every 17th
// byte of the rest of the data, where a cut only shortens a sector.
std::size_t NextCut(std::size_t cut) {
  if (cut < kImageHeader) return cut + 1;
  const std::size_t inRecord = (cut - kImageHeader) % kRecord;
  return inRecord < kRecordHeader + 48 || inRecord >= kRecord - 8 ? cut + 1 : cut + 17;
}

TEST(Damage, EveryCutReadsAsTheDataItStillHolds) {
  const Bytes full = SmallDisk();
  Sandbox sandbox;
  const RunReport whole = sandbox.Run(full.data(), full.size(), true);
  ASSERT_EQ(whole.fault, "");
  ASSERT_EQ(whole.files.size(), 3u);
  for (std::size_t cut = 0; cut < full.size(); cut = NextCut(cut)) {
    const RunReport r = sandbox.Run(full.data(), cut, true);
    ASSERT_EQ(r.fault, "") << "cut at " << cut;
    if (cut < kImageHeader) {
      ASSERT_EQ(r.err, msg::kWrongMedium) << "cut at " << cut;
      continue;
    }
    const Bytes zeroed = DataZeroedFrom(full, cut);
    ASSERT_TRUE(SameRun(sandbox.Run(zeroed.data(), zeroed.size(), true), r)) << "cut at " << cut;
  }
}

// A few bytes replaced at random, 2000 times with a fixed seed.  The
// changes fall on the image header, the record headers, the directory
// sectors and anywhere, a quarter each: the first three are where the
// reader and the tool decide anything.
TEST(Damage, RandomDamageKeepsTheRules) {
  const Bytes full = SmallDisk();
  Sandbox sandbox;
  std::mt19937 random(5);
  int outcomes[2] = {};
  for (int i = 0; i < 2000; ++i) {
    Bytes damaged = full;
    for (int n = 1 + static_cast<int>(random() % 4); n > 0; --n) {
      std::size_t at = 0;
      switch (random() % 4) {
        case 0: at = random() % kImageHeader; break;
        case 1: at = kImageHeader + random() % kRecords * kRecord + random() % kRecordHeader; break;
        case 2: at = kImageHeader + (1 + random() % 2) * kRecord + kRecordHeader + random() % 1024; break;
        default: at = random() % damaged.size(); break;
      }
      damaged[at] = static_cast<std::uint8_t>(random());
    }
    const RunReport r = sandbox.Run(damaged.data(), damaged.size(), false);
    ASSERT_EQ(r.fault, "") << "iteration " << i;
    ++outcomes[r.status];
  }
  // The damage reached both ways a run can end.
  EXPECT_GT(outcomes[0], 0);
  EXPECT_GT(outcomes[1], 0);
}

}  // namespace
