// The FAT12 reader against hand-made damage mtools cannot make (d88's
// end-to-end tests hold it to mtools on every common geometry).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "fat12/Fat12.h"
#include "testing/D88Builder.h"
#include "testing/FatBuilder.h"
#include "testing/MemorySource.h"

using d88test::Bytes;
using d88test::MemorySource;
using filesystem::Geometry;
using filesystem::SectorFault;

namespace {

// The listing as a user reads it: each path (folders with a '/'), then its
// state; the root's and the disk's faults last.
std::string Listing(const fat12::Fat12Reader& fs) {
  std::ostringstream out;
  char text[filesystem::kMaxPathBytes + 1];
  char faults[256];
  for (int i = 0; i < fs.EntryCount(); ++i) {
    const filesystem::Entry& e = fs.EntryAt(i);
    fs.Path(i, text, sizeof text);
    out << text << (e.kind == filesystem::EntryKind::kFolder ? "/" : "") << " "
        << (e.faults == 0 ? "ok" : filesystem::DescribeFaults(e.faults, faults, sizeof faults))
        << "; ";
  }
  if (fs.RootFaults() != 0)
    out << "root: " << filesystem::DescribeFaults(fs.RootFaults(), faults, sizeof faults) << "; ";
  if (fs.DiskFaults() != 0)
    out << "disk: " << filesystem::DescribeFaults(fs.DiskFaults(), faults, sizeof faults);
  return out.str();
}

Bytes ReadWhole(const fat12::Fat12Reader& fs, int i) {
  Bytes bytes(fs.EntryAt(i).size);
  bytes.resize(fs.ReadFile(i, 0, bytes.data(), bytes.size()));
  return bytes;
}

Geometry ShapeOf(const d88test::FatFormat& f) {
  const auto u = [](int v) { return static_cast<std::uint32_t>(v); };
  return {u(f.cylinders), u(f.heads), u(f.sectorsPerTrack), u(f.sectorBytes)};
}

// A 720 KB disk of the project's builder, for damage made by hand: FATs at
// sectors 1-3 and 4-6, the root at 7-13, cluster c at sector 14 + 2(c-2).
struct HandDisk {
  static constexpr int kRoot = d88test::FatBuilder::kRoot;
  d88test::FatBuilder fat{d88test::kFat720K};
  std::vector<std::pair<std::uint32_t, SectorFault>> faults;

  // Adds a file of `size` zeros; returns the offset of its entry.
  std::size_t File(const std::string& name, std::size_t size = 0, int folder = kRoot) {
    return fat.AddFile(folder, name, Bytes(size)).entry;
  }
  // Makes the entry at `entry` a folder whose directory starts at `cluster`.
  void MakeFolder(std::size_t entry, std::uint32_t cluster) {
    fat.raw[entry + 11] = 0x10;
    d88test::PutLE(fat.raw, entry + 26, cluster, 2);
  }
};

struct DamageRow {
  const char* what;
  std::function<void(HandDisk&)> make;
  const char* listing;
};

const DamageRow kDamageRows[] = {
    {"Shift_JIS name, lower-case bits skip the trail byte",
     [](HandDisk& d) {
       d.fat.raw[d.File("\x83\x41"
                        "B.TXT") +
                 12] = 0x18;
     },
     "\xE3\x82\xA2"
     "b.txt ok; "},
    {"0x05 stands for 0xE5", [](HandDisk& d) { d.File("\xE5\x82.TXT"); }, "\xE8\x9B\xAF.TXT ok; "},
    {"cross-linked files",
     [](HandDisk& d) {
       d.File("A.TXT", 2000);  // clusters 2, 3
       d.File("B.TXT", 2000);  // 4, 5
       d.fat.SetFat(4, 3);
     },
     "A.TXT cross-linked; B.TXT cross-linked; "},
    {"looping chain",
     [](HandDisk& d) {
       d.File("A.TXT", 5000);
       d.fat.SetFat(3, 2);
     },
     "A.TXT chain loops; "},
    {"bad cluster",
     [](HandDisk& d) {
       d.File("A.TXT", 2000);
       d.fat.SetFat(2, 0xFF7);
     },
     "A.TXT chain runs into a bad cluster; "},
    {"free cluster",
     [](HandDisk& d) {
       d.File("A.TXT", 2000);
       d.fat.SetFat(2, 0);
     },
     "A.TXT chain runs into a free cluster; "},
    {"chain short",
     [](HandDisk& d) {
       d.File("A.TXT", 2000);
       d.fat.SetFat(2, 0xFFF);
     },
     "A.TXT chain ends before the size; "},
    {"leaves the data area",
     [](HandDisk& d) {
       d.File("A.TXT", 2000);
       d.fat.SetFat(2, 0xEF0);
     },
     "A.TXT chain leaves the data area; "},
    {"data sector damaged",
     [](HandDisk& d) {
       d.File("A.TXT", 600);  // sectors 14, 15
       d.File("B.TXT", 100);  // 16
       d.faults = {{15, SectorFault::kBadStatus}, {17, SectorFault::kMissing}};
     },
     "A.TXT damaged sector; B.TXT ok; "},
    {"both FAT copies unreadable",
     [](HandDisk& d) {
       d.File("A.TXT", 600);
       d.faults = {{1, SectorFault::kMissing}, {4, SectorFault::kMissing}};
     },
     "A.TXT allocation table unreadable; "},
    {"copies differ", [](HandDisk& d) { d.fat.raw[4 * 512 + 100] = 1; },
     "disk: allocation table copies differ"},
    {"damaged root sector: its long-name parts lost, the short name left",
     [](HandDisk& d) {
       d.fat.AddFile(HandDisk::kRoot, "A", {}, std::u16string(200, u'x'));  // 16 parts
       d.faults = {{7, SectorFault::kCut}};
     },
     "A ok; root: damaged sector; "},
    {"long name", [](HandDisk& d) { d.fat.AddFile(HandDisk::kRoot, "LONG.TXT", {}, u"Long.txt"); },
     "Long.txt ok; "},
    {"long name with a bad checksum",
     [](HandDisk& d) {
       d.fat.raw[d.fat.AddFile(HandDisk::kRoot, "LONG.TXT", {}, u"Long.txt").entry - 32 + 13] ^= 1;
     },
     "LONG.TXT ok; "},
    {"long name parts out of order",
     [](HandDisk& d) {
       d.fat.raw[d.fat.AddFile(HandDisk::kRoot, "LONG.TXT", {}, u"abcdefghijklmghijklmnopqrs")
                     .entry -
                 32] = 0x02;
     },
     "LONG.TXT ok; "},
    {"folders, dots, label, deleted, hidden",
     [](HandDisk& d) {
       d.fat.raw[d.File("LABEL") + 11] = 0x08;
       d.fat.raw[d.File("OLD")] = 0xE5;
       const int sub = d.fat.AddFolder(HandDisk::kRoot, "SUB").cluster;
       d.fat.raw[d.File("HIDDEN.SYS", 0, sub) + 11] = 0x06;
       d.fat.AddFolder(sub, "INNER");
     },
     "SUB/ ok; SUB/HIDDEN.SYS ok; SUB/INNER/ ok; "},
    {"directory loop and impossible names",
     [](HandDisk& d) {
       const int sub = d.fat.AddFolder(HandDisk::kRoot, "SUB").cluster;
       d.MakeFolder(d.File("LOOP", 0, sub), 2);
       d.File("A/B", 0, sub);
       d.fat.raw[d.File("X", 0, sub)] = '.';
     },
     "SUB/ impossible name; SUB/LOOP/ directory loops; "},
};

class Fat12DamageTest : public ::testing::TestWithParam<DamageRow> {};

TEST_P(Fat12DamageTest, NamesEveryFault) {
  HandDisk disk;
  GetParam().make(disk);
  MemorySource source(ShapeOf(d88test::kFat720K), disk.fat.raw);
  for (const auto& [sector, fault] : disk.faults) source.faults_[sector] = fault;
  auto fs = std::make_unique<fat12::Fat12Reader>();
  filesystem::Reason reason;
  ASSERT_TRUE(fs->Recognise(source, reason)) << reason.text;
  fs->Read(source);
  EXPECT_EQ(Listing(*fs), GetParam().listing);
}

INSTANTIATE_TEST_SUITE_P(Rows, Fat12DamageTest, ::testing::ValuesIn(kDamageRows));

// An intact file's sectors and bytes come from its chain, in chain order.
TEST(Fat12Test, FileSectorsFollowTheChain) {
  d88test::FatBuilder fat(d88test::kFat720K);
  const std::size_t entry = fat.AddFile(HandDisk::kRoot, "A.TXT", Bytes(1500)).entry;
  fat.raw[entry + 26] = 5;  // the chain 5, 3 instead of 2, 3
  fat.SetFat(2, 0);
  fat.SetFat(5, 3);
  std::fill_n(fat.raw.begin() + fat.ClusterOffset(5), 1024, 'x');  // sectors 20, 21
  std::fill_n(fat.raw.begin() + fat.ClusterOffset(3), 1024, 'y');  // 16, 17
  MemorySource source(ShapeOf(d88test::kFat720K), fat.raw);
  auto fs = std::make_unique<fat12::Fat12Reader>();
  filesystem::Reason reason;
  ASSERT_TRUE(fs->Recognise(source, reason));
  fs->Read(source);
  std::uint32_t sectors[8], last = 0;
  ASSERT_EQ(fs->FileSectors(0, sectors, 8, &last), 3u);
  EXPECT_EQ(std::vector<std::uint32_t>(sectors, sectors + 3),
            (std::vector<std::uint32_t>{20, 21, 16}));
  EXPECT_EQ(last, 476u);
  const Bytes bytes = ReadWhole(*fs, 0);
  EXPECT_EQ(std::count(bytes.begin(), bytes.begin() + 512, 'x'), 512);
  EXPECT_EQ(std::count(bytes.begin() + 1024, bytes.end(), 'y'), 476);
}

struct RecognitionRow {
  const char* what;
  Geometry shape;
  std::function<void(MemorySource&)> make;
  bool recognised;
  const char* reason;
};

const RecognitionRow kRecognitionRows[] = {
    {"PC-98 2HD without a parameter block",
     {77, 2, 8, 1024},
     [](MemorySource& s) {
       s.Data(1)[0] = 0xFE;
       s.Data(1)[1] = s.Data(1)[2] = 0xFF;
     },
     true,
     "no parameter block; FAT media 0xFE of the PC-98 2HD layout"},
    {"parameter block of 1024-byte sectors on a 512-byte disk",
     {80, 2, 9, 512},
     [](MemorySource& s) {
       std::copy_n(d88test::FatBuilder(d88test::kFat720K).raw.data(), 512 * 14, s.Data(0));
       s.Data(0)[12] = 4;
     },
     false,
     "parameter block: 1024 bytes a sector, the disk 512"},
    {"FAT's first byte not the media",
     {80, 2, 9, 512},
     [](MemorySource& s) {
       std::copy_n(d88test::FatBuilder(d88test::kFat720K).raw.data(), 512 * 14, s.Data(0));
       s.Data(1)[0] = 0xF0;
     },
     false,
     "FAT begins 0xF0, media 0xF9"},
    {"random bytes",
     {77, 2, 8, 1024},
     [](MemorySource& s) {
       const Bytes r = d88test::PatternBytes(8 * 1024, 7);
       std::copy(r.begin(), r.end(), s.Data(0));
     },
     false,
     nullptr},
};

class Fat12RecognitionTest : public ::testing::TestWithParam<RecognitionRow> {};

TEST_P(Fat12RecognitionTest, TellsWhy) {
  MemorySource source(GetParam().shape, Bytes());
  GetParam().make(source);
  auto fs = std::make_unique<fat12::Fat12Reader>();
  filesystem::Reason reason;
  EXPECT_EQ(fs->Recognise(source, reason), GetParam().recognised) << reason.text;
  if (GetParam().reason != nullptr) {
    EXPECT_STREQ(reason.text, GetParam().reason);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, Fat12RecognitionTest, ::testing::ValuesIn(kRecognitionRows));

}  // namespace
