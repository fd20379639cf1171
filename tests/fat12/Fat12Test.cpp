// The FAT12 reader against Debian's mkfs.fat and mtools on every common
// geometry, and against hand-made damage mtools cannot make.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#if !defined(_WIN32)
#include <unistd.h>
#endif

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

[[maybe_unused]] bool Shell(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

struct OracleDisk {
  const char* name;
  const d88test::FatFormat& format;
};

const OracleDisk kOracleDisks[] = {
    {"pc98-2hd", d88test::kFatPc98}, {"720k", d88test::kFat720K},  {"640k", d88test::kFat640K},
    {"1.44m", d88test::kFat1440K},   {"1.2m", d88test::kFat1200K},
};

void PrintTo(const OracleDisk& disk, std::ostream* out) { *out << disk.name; }

Geometry ShapeOf(const d88test::FatFormat& f) {
  const auto u = [](int v) { return static_cast<std::uint32_t>(v); };
  return {u(f.cylinders), u(f.heads), u(f.sectorsPerTrack), u(f.sectorBytes)};
}

// The tree of every oracle disk, as mcopy copies it in.
const std::pair<std::string, Bytes> kTree[] = {
    {"lower.txt", d88test::Text("lower case\n")},
    {"UPPER.TXT", d88test::Text("upper case\n")},
    {"A long file name.text", d88test::PatternBytes(3000, 1)},
    {"EMPTY.DAT", {}},
    {"Sub/MiXed.Txt", d88test::PatternBytes(1025, 2)},
    {"Sub/Deeper/big file.bin", d88test::PatternBytes(50 * 1024, 3)},
};
const Bytes kKanaBytes = d88test::Text("\x93\xfa\x96\x7b\x8c\xea\r\n");

// The same tree laid by the project's builder, with a kana short name
// mcopy cannot make.
Bytes BuildTree(const d88test::FatFormat& format) {
  d88test::FatBuilder fat(format);
  const int root = d88test::FatBuilder::kRoot;
  fat.AddFile(root, "LOWER.TXT", kTree[0].second, u"lower.txt");
  fat.AddFile(root, "UPPER.TXT", kTree[1].second);
  fat.AddFile(root, "ALONGF~1.TEX", kTree[2].second, u"A long file name.text");
  fat.AddFile(root, "EMPTY.DAT", {});
  const int sub = fat.AddFolder(root, "SUB", u"Sub").cluster;
  fat.AddFile(sub, "MIXED.TXT", kTree[4].second, u"MiXed.Txt");
  fat.AddFile(sub, "\xB6\xC5.TXT", kKanaBytes);
  const int deeper = fat.AddFolder(sub, "DEEPER", u"Deeper").cluster;
  fat.AddFile(deeper, "BIGFIL~1.BIN", kTree[5].second, u"big file.bin");
  return fat.raw;
}

class Fat12OracleTest : public ::testing::TestWithParam<std::tuple<OracleDisk, bool>> {};

// mkfs.fat and mcopy, or the project's builder, make the disk; fsck.fat
// finds nothing wrong; the reader's tree, names, sizes and bytes equal what
// mdir and mcopy -s give back, and those the tree put in.
TEST_P(Fat12OracleTest, ListsAndReadsWhatMtoolsReads) {
#if defined(_WIN32)
  GTEST_SKIP() << "no mtools on Windows";
#else
  if (!d88test::HaveMtools()) GTEST_SKIP() << "dosfstools or mtools missing";
  const auto& [disk, ownBuilder] = GetParam();
  const auto dir = std::filesystem::temp_directory_path() /
                   ("fat12test-" + std::string(disk.name) + std::to_string(ownBuilder) +
                    std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir / "in" / "Sub" / "Deeper");
  std::filesystem::create_directories(dir / "out");
  const std::string image = (dir / "disk.img").string();
  const std::string mtools = "MTOOLS_SKIP_CHECK=1 ";
  if (ownBuilder) {
    ASSERT_TRUE(d88test::WriteFileBytes(image, BuildTree(disk.format)));
  } else {
    for (const auto& [path, bytes] : kTree)
      ASSERT_TRUE(d88test::WriteFileBytes(dir / "in" / path, bytes));
    ASSERT_TRUE(d88test::MakeMtoolsDisk(disk.format, (dir / "in").string(),
                                        "lower.txt UPPER.TXT 'A long file name.text' EMPTY.DAT Sub",
                                        image));
  }
  // Clean: exit status 0 and nothing but the version and the summary.
  ASSERT_TRUE(Shell("fsck.fat -n " + image + " > " + (dir / "fsck.txt").string()));
  std::ifstream fsck(dir / "fsck.txt");
  EXPECT_EQ(std::count(std::istreambuf_iterator<char>(fsck), {}, '\n'), 2);
  ASSERT_TRUE(Shell(mtools + "mdir -/ -b -i " + image + " :: > " + (dir / "mdir.txt").string()));
  ASSERT_TRUE(Shell(mtools + "mcopy -s -n -i " + image + " '::*' " + (dir / "out").string()));
  for (const auto& [path, bytes] : kTree)
    EXPECT_EQ(d88test::ReadFileBytes(dir / "out" / path), bytes) << path;

  MemorySource source(ShapeOf(disk.format), d88test::ReadFileBytes(image));
  auto fs = std::make_unique<fat12::Fat12Reader>();
  filesystem::Reason reason;
  ASSERT_TRUE(fs->Recognise(source, reason)) << reason.text;
  fs->Read(source);

  // mtools reads short names in a code page of its own: the kana name is
  // left to the reader.
  const auto ascii = [](const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c > 0; });
  };
  std::set<std::string> expected, listed;
  std::ifstream mdir(dir / "mdir.txt");
  for (std::string line; std::getline(mdir, line);) {
    if (ascii(line)) expected.insert(line.substr(3));
  }
  char path[filesystem::kMaxPathBytes + 1];
  for (int i = 0; i < fs->EntryCount(); ++i) {
    const filesystem::Entry& e = fs->EntryAt(i);
    fs->Path(i, path, sizeof path);
    EXPECT_TRUE(e.Intact()) << path;
    if (!ascii(path)) {
      EXPECT_STREQ(path, "Sub/\xEF\xBD\xB6\xEF\xBE\x85.TXT");  // ｶﾅ
      EXPECT_EQ(ReadWhole(*fs, i), kKanaBytes);
    } else if (e.kind == filesystem::EntryKind::kFolder) {
      listed.insert(std::string(path) + "/");
    } else {
      listed.insert(path);
      EXPECT_EQ(ReadWhole(*fs, i), d88test::ReadFileBytes(dir / "out" / path)) << path;
    }
  }
  EXPECT_EQ(listed, expected);
  EXPECT_EQ(Listing(*fs).find("root:"), std::string::npos);
  std::filesystem::remove_all(dir);
#endif
}

INSTANTIATE_TEST_SUITE_P(Geometries, Fat12OracleTest,
                         ::testing::Combine(::testing::ValuesIn(kOracleDisks), ::testing::Bool()),
                         [](const auto& info) {
                           std::string name = std::get<0>(info.param).name;
                           std::replace_if(
                               name.begin(), name.end(), [](char c) { return !std::isalnum(c); },
                               '_');
                           return name + (std::get<1>(info.param) ? "_builder" : "_mkfs");
                         });

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
