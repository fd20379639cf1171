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
#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "fat12/Fat12.h"
#include "testing/D88Builder.h"

using d88test::Bytes;
using filesystem::Geometry;
using filesystem::SectorFault;

namespace {

// A raw sector image in memory, with a fault for any sector.
class MemorySource final : public filesystem::SectorSource {
 public:
  MemorySource(Geometry shape, Bytes bytes) : shape_(shape), bytes_(std::move(bytes)) {
    bytes_.resize(std::size_t{shape.SectorCount()} * shape.sectorBytes);
    faults_.assign(shape.SectorCount(), SectorFault::kNone);
  }
  Geometry Shape() const override { return shape_; }
  filesystem::Sector At(std::uint32_t logical) const override {
    return {bytes_.data() + std::size_t{logical} * shape_.sectorBytes, faults_[logical]};
  }
  std::uint8_t* Data(std::uint32_t logical) {
    return bytes_.data() + std::size_t{logical} * shape_.sectorBytes;
  }
  std::vector<SectorFault> faults_;

 private:
  Geometry shape_;
  Bytes bytes_;
};

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
  Geometry shape;
  const char* mkfsOptions;
};

const OracleDisk kOracleDisks[] = {
    {"pc98-2hd", {77, 2, 8, 1024}, "-S 1024 -s 1 -f 2 -r 192 -R 1 -g 2/8 -M 0xfe 1232"},
    {"720k", {80, 2, 9, 512}, "-s 2 -r 112 -g 2/9 -M 0xf9 720"},
    {"640k", {80, 2, 8, 512}, "-s 2 -r 112 -g 2/8 -M 0xfb 640"},
    {"1.44m", {80, 2, 18, 512}, "-s 1 -r 224 -g 2/18 -M 0xf0 1440"},
    {"1.2m", {80, 2, 15, 512}, "-s 1 -r 224 -g 2/15 -M 0xf9 1200"},
};

class Fat12OracleTest : public ::testing::TestWithParam<OracleDisk> {};

// mkfs.fat and mcopy make the disk; the reader's tree, names, sizes and
// bytes equal what mdir and mcopy -s give back.
TEST_P(Fat12OracleTest, ListsAndReadsWhatMtoolsWrote) {
#if defined(_WIN32)
  GTEST_SKIP() << "no mtools on Windows";
#else
  if (!Shell("command -v mkfs.fat >/dev/null && command -v mcopy >/dev/null")) {
    GTEST_SKIP() << "mkfs.fat or mtools missing";
  }
  const OracleDisk& disk = GetParam();
  const auto dir = std::filesystem::temp_directory_path() /
                   ("fat12test-" + std::string(disk.name) + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir / "in" / "Sub" / "Deeper");
  std::filesystem::create_directories(dir / "out");
  const auto put = [&](const std::string& path, const Bytes& bytes) {
    ASSERT_TRUE(d88test::WriteFileBytes(dir / "in" / path, bytes));
  };
  put("lower.txt", d88test::Text("lower case\n"));
  put("UPPER.TXT", d88test::Text("upper case\n"));
  put("A long file name.text", d88test::PatternBytes(3000, 1));
  put("EMPTY.DAT", {});
  put("Sub/MiXed.Txt", d88test::PatternBytes(1025, 2));
  put("Sub/Deeper/big file.bin", d88test::PatternBytes(50 * 1024, 3));
  const std::string image = (dir / "disk.img").string();
  const std::string mtools = "MTOOLS_SKIP_CHECK=1 ";
  ASSERT_TRUE(Shell("mkfs.fat -C -F 12 " + image + " " + disk.mkfsOptions + " >/dev/null"));
  ASSERT_TRUE(Shell("cd " + (dir / "in").string() + " && " + mtools + "mcopy -s -i " + image +
                    " lower.txt UPPER.TXT 'A long file name.text' EMPTY.DAT Sub ::"));
  ASSERT_TRUE(Shell(mtools + "mdir -/ -b -i " + image + " :: > " + (dir / "mdir.txt").string()));
  ASSERT_TRUE(Shell(mtools + "mcopy -s -n -i " + image + " '::*' " + (dir / "out").string()));

  MemorySource source(disk.shape, d88test::ReadFileBytes(image));
  auto fs = std::make_unique<fat12::Fat12Reader>();
  filesystem::Reason reason;
  ASSERT_TRUE(fs->Recognise(source, reason)) << reason.text;
  fs->Read(source);

  std::set<std::string> expected, listed;
  std::ifstream mdir(dir / "mdir.txt");
  for (std::string line; std::getline(mdir, line);) expected.insert(line.substr(3));
  char path[filesystem::kMaxPathBytes + 1];
  for (int i = 0; i < fs->EntryCount(); ++i) {
    const filesystem::Entry& e = fs->EntryAt(i);
    fs->Path(i, path, sizeof path);
    EXPECT_TRUE(e.Intact()) << path;
    if (e.kind == filesystem::EntryKind::kFolder) {
      listed.insert(std::string(path) + "/");
      continue;
    }
    listed.insert(path);
    EXPECT_EQ(ReadWhole(*fs, i), d88test::ReadFileBytes(dir / "out" / path)) << path;
  }
  EXPECT_EQ(listed, expected);
  EXPECT_EQ(Listing(*fs).find("root:"), std::string::npos);
  std::filesystem::remove_all(dir);
#endif
}

INSTANTIATE_TEST_SUITE_P(Geometries, Fat12OracleTest, ::testing::ValuesIn(kOracleDisks),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           std::replace_if(
                               name.begin(), name.end(), [](char c) { return !std::isalnum(c); },
                               '_');
                           return name;
                         });

// A 720 KB disk laid out by hand: 2 sectors a cluster, FATs at sectors 1-3
// and 4-6, the root at 7-13, cluster c at sector 14 + 2(c-2).
struct HandDisk {
  MemorySource source{{80, 2, 9, 512}, Bytes()};

  HandDisk() {
    std::uint8_t* boot = source.Data(0);
    const Bytes bpb = {0x00, 0x02, 2, 1, 0, 2, 112, 0, 0xA0, 0x05, 0xF9, 3, 0};
    std::copy(bpb.begin(), bpb.end(), boot + 11);
    SetFat(0, 0xFF9);
    SetFat(1, 0xFFF);
  }
  void SetFat(std::uint32_t n, std::uint32_t value) {
    for (std::uint32_t copy = 0; copy < 2; ++copy) {
      std::uint8_t* fat = source.Data(1 + 3 * copy) + n * 3 / 2;
      if (n & 1) {
        fat[0] = static_cast<std::uint8_t>((fat[0] & 0x0F) | (value << 4 & 0xF0));
        fat[1] = static_cast<std::uint8_t>(value >> 4);
      } else {
        fat[0] = static_cast<std::uint8_t>(value);
        fat[1] = static_cast<std::uint8_t>((fat[1] & 0xF0) | (value >> 8 & 0x0F));
      }
    }
  }
  void Chain(std::initializer_list<std::uint32_t> clusters, std::uint32_t end = 0xFFF) {
    for (auto c = clusters.begin(); c != clusters.end(); ++c)
      SetFat(*c, c + 1 == clusters.end() ? end : *(c + 1));
  }
  // Puts a 32-byte entry (name of 11 bytes) in slot `slot` of sector `sector`.
  std::uint8_t* Entry(std::uint32_t sector, int slot, const std::string& name,
                      std::uint8_t attributes, std::uint16_t cluster, std::uint32_t size) {
    std::uint8_t* e = source.Data(sector) + 32 * slot;
    std::copy(name.begin(), name.end(), e);
    e[11] = attributes;
    e[26] = static_cast<std::uint8_t>(cluster);
    e[27] = static_cast<std::uint8_t>(cluster >> 8);
    for (int i = 0; i < 4; ++i) e[28 + i] = static_cast<std::uint8_t>(size >> (8 * i));
    return e;
  }
  // A long-name part: ordinal, 13 units of text (ASCII), checksum.
  void LongPart(std::uint32_t sector, int slot, std::uint8_t ordinal, const std::string& text,
                std::uint8_t checksum) {
    std::uint8_t* e = Entry(sector, slot, std::string(11, '\xFF'), 0x0F, 0, 0);
    e[0] = ordinal;
    e[13] = checksum;
    static const int kAt[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (std::size_t i = 0; i < 13; ++i) {
      const int unit = i < text.size()    ? static_cast<std::uint8_t>(text[i])
                       : i == text.size() ? 0
                                          : 0xFFFF;
      e[kAt[i]] = static_cast<std::uint8_t>(unit);
      e[kAt[i] + 1] = static_cast<std::uint8_t>(unit >> 8);
    }
    e[26] = e[27] = 0;
  }
};

std::uint8_t Checksum(const std::string& name) {
  std::uint8_t sum = 0;
  for (char c : name)
    sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + static_cast<std::uint8_t>(c));
  return sum;
}

struct DamageRow {
  const char* what;
  std::function<void(HandDisk&)> make;
  const char* listing;
};

const DamageRow kDamageRows[] = {
    {"Shift_JIS name, lower-case bits skip the trail byte",
     [](HandDisk& d) {
       d.Entry(7, 0,
               "\x83\x41"
               "B     TXT",
               0x20, 0, 0)[12] = 0x18;
     },
     "\xE3\x82\xA2"
     "b.txt ok; "},
    {"0x05 stands for 0xE5", [](HandDisk& d) { d.Entry(7, 0, "\x05\x82      TXT", 0x20, 0, 0); },
     "\xE8\x9B\xAF.TXT ok; "},
    {"cross-linked files",
     [](HandDisk& d) {
       d.Entry(7, 0, "A       TXT", 0x20, 2, 2000);
       d.Chain({2, 3});
       d.Entry(7, 1, "B       TXT", 0x20, 4, 2000);
       d.Chain({4, 3});
     },
     "A.TXT cross-linked; B.TXT cross-linked; "},
    {"looping chain",
     [](HandDisk& d) {
       d.Entry(7, 0, "A       TXT", 0x20, 2, 5000);
       d.Chain({2, 3}, 2);
     },
     "A.TXT chain loops; "},
    {"bad cluster",
     [](HandDisk& d) {
       d.Entry(7, 0, "A       TXT", 0x20, 2, 2000);
       d.Chain({2}, 0xFF7);
     },
     "A.TXT chain runs into a bad cluster; "},
    {"free cluster",
     [](HandDisk& d) {
       d.Entry(7, 0, "A       TXT", 0x20, 2, 2000);
       d.Chain({2}, 0);
     },
     "A.TXT chain runs into a free cluster; "},
    {"chain short",
     [](HandDisk& d) {
       d.Entry(7, 0, "A       TXT", 0x20, 2, 3000);
       d.Chain({2});
     },
     "A.TXT chain ends before the size; "},
    {"leaves the data area",
     [](HandDisk& d) {
       d.Entry(7, 0, "A       TXT", 0x20, 2, 2000);
       d.Chain({2}, 0xEF0);
     },
     "A.TXT chain leaves the data area; "},
    {"data sector damaged",
     [](HandDisk& d) {
       d.Entry(7, 0, "A       TXT", 0x20, 2, 600);
       d.Entry(7, 1, "B       TXT", 0x20, 3, 100);
       d.Chain({2});
       d.Chain({3});
       d.source.faults_[15] = SectorFault::kBadStatus;
       d.source.faults_[17] = SectorFault::kMissing;
     },
     "A.TXT damaged sector; B.TXT ok; "},
    {"both FAT copies unreadable",
     [](HandDisk& d) {
       d.Entry(7, 0, "A       TXT", 0x20, 2, 600);
       d.Chain({2});
       d.source.faults_[1] = d.source.faults_[4] = SectorFault::kMissing;
     },
     "A.TXT allocation table unreadable; "},
    {"copies differ", [](HandDisk& d) { d.source.Data(4)[100] = 1; },
     "disk: allocation table copies differ"},
    {"damaged root sector",
     [](HandDisk& d) {
       d.Entry(8, 0, "A          ", 0x20, 0, 0);
       d.Entry(7, 0, "B          ", 0x20, 0, 0);
       d.source.faults_[7] = SectorFault::kCut;
     },
     "A ok; root: damaged sector; "},
    {"long name",
     [](HandDisk& d) {
       d.LongPart(7, 0, 0x41, "Long.txt", Checksum("LONG    TXT"));
       d.Entry(7, 1, "LONG    TXT", 0x20, 0, 0);
     },
     "Long.txt ok; "},
    {"long name with a bad checksum",
     [](HandDisk& d) {
       d.LongPart(7, 0, 0x41, "Long.txt", Checksum("LONG    TXT") ^ 1);
       d.Entry(7, 1, "LONG    TXT", 0x20, 0, 0);
     },
     "LONG.TXT ok; "},
    {"long name parts out of order",
     [](HandDisk& d) {
       d.LongPart(7, 0, 0x42, "ghijklmnopqrs", Checksum("LONG    TXT"));
       d.LongPart(7, 1, 0x02, "abcdefghijklm", Checksum("LONG    TXT"));
       d.Entry(7, 2, "LONG    TXT", 0x20, 0, 0);
     },
     "LONG.TXT ok; "},
    {"folders, dots, label, deleted, hidden",
     [](HandDisk& d) {
       d.Entry(7, 0, "LABEL      ", 0x08, 0, 0);
       d.Entry(7, 1, "\xE5OLD       ", 0x20, 0, 0);
       d.Entry(7, 2, "SUB        ", 0x10, 2, 0);
       d.Chain({2});
       d.Entry(14, 0, ".          ", 0x10, 2, 0);
       d.Entry(14, 1, "..         ", 0x10, 0, 0);
       d.Entry(14, 2, "HIDDEN  SYS", 0x06, 0, 0);
       d.Entry(14, 3, "INNER      ", 0x10, 3, 0);
       d.Chain({3});
     },
     "SUB/ ok; SUB/HIDDEN.SYS ok; SUB/INNER/ ok; "},
    {"directory loop and impossible names",
     [](HandDisk& d) {
       d.Entry(7, 0, "SUB        ", 0x10, 2, 0);
       d.Chain({2});
       d.Entry(14, 0, "LOOP       ", 0x10, 2, 0);
       d.Entry(14, 1, "A/B        ", 0x20, 0, 0);
       d.Entry(14, 2, ".          ", 0x20, 0, 0);
     },
     "SUB/ impossible name; SUB/LOOP/ directory loops; "},
};

class Fat12DamageTest : public ::testing::TestWithParam<DamageRow> {};

TEST_P(Fat12DamageTest, NamesEveryFault) {
  HandDisk disk;
  GetParam().make(disk);
  auto fs = std::make_unique<fat12::Fat12Reader>();
  filesystem::Reason reason;
  ASSERT_TRUE(fs->Recognise(disk.source, reason)) << reason.text;
  fs->Read(disk.source);
  EXPECT_EQ(Listing(*fs), GetParam().listing);
}

INSTANTIATE_TEST_SUITE_P(Rows, Fat12DamageTest, ::testing::ValuesIn(kDamageRows));

// An intact file's sectors and bytes come from its chain, in chain order.
TEST(Fat12Test, FileSectorsFollowTheChain) {
  HandDisk disk;
  disk.Entry(7, 0, "A       TXT", 0x20, 5, 1500);
  disk.Chain({5, 3});
  std::fill_n(disk.source.Data(20), 512, 'x');
  std::fill_n(disk.source.Data(16), 512, 'y');
  auto fs = std::make_unique<fat12::Fat12Reader>();
  filesystem::Reason reason;
  ASSERT_TRUE(fs->Recognise(disk.source, reason));
  fs->Read(disk.source);
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
       HandDisk d;
       std::copy_n(d.source.Data(0), 512 * 14, s.Data(0));
       s.Data(0)[12] = 4;
     },
     false,
     "parameter block: 1024 bytes a sector, the disk 512"},
    {"FAT's first byte not the media",
     {80, 2, 9, 512},
     [](MemorySource& s) {
       HandDisk d;
       std::copy_n(d.source.Data(0), 512 * 14, s.Data(0));
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
