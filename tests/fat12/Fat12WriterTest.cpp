// The FAT12 writer and the blank volumes of d88 new -f fat12, held to
// Debian's fsck.fat and mtools.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "fat12/Fat12.h"
#include "fat12/Fat12Writer.h"
#include "testing/D88Builder.h"
#include "testing/FatBuilder.h"
#include "testing/MemorySource.h"

using d88test::Bytes;
using d88test::Shell;
using filesystem::Geometry;

namespace {

// The raw volume handed to the oracle: one a test, as tests run at once.
std::string ImagePath() {
  const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  return (std::filesystem::current_path() / ("fat12writer-" + name + ".img")).string();
}

// fsck.fat's verdict (0 clean) and mdir's tree of the raw volume.
struct Oracle {
  int fsck;
  std::string fsckOutput, tree, listing;
};
Oracle Ask(const Bytes& raw) {
  d88test::WriteFileBytes(ImagePath(), raw);
  Oracle o;
  o.fsck = Shell("fsck.fat -n " + ImagePath(), &o.fsckOutput);
  Shell("MTOOLS_SKIP_CHECK=1 mdir -/ -b -i " + ImagePath() + " ::", &o.tree);
  Shell("MTOOLS_SKIP_CHECK=1 mdir -/ -i " + ImagePath() + " ::", &o.listing);
  return o;
}

Geometry ShapeOf(const d88test::FatFormat& f) {
  const auto u = [](int v) { return static_cast<std::uint32_t>(v); };
  return {u(f.cylinders), u(f.heads), u(f.sectorsPerTrack), u(f.sectorBytes)};
}

// A volume and its writer.
struct Volume {
  Geometry shape;
  Bytes raw;
  fat12::Layout layout;
  std::unique_ptr<fat12::Fat12Writer> writer = std::make_unique<fat12::Fat12Writer>();

  bool Open() {
    d88test::MemorySource source(shape, raw);
    fat12::Fat12Reader reader;
    filesystem::Reason reason;
    if (!reader.Recognise(source, reason)) return false;
    layout = reader.layout();
    return writer->Open(raw.data(), shape.SectorCount(), layout, reason);
  }
  // Every file's bytes by path, as the project's reader reads them.
  std::map<std::string, Bytes> Files() const {
    d88test::MemorySource source(shape, raw);
    auto reader = std::make_unique<fat12::Fat12Reader>();
    filesystem::Reason reason;
    std::map<std::string, Bytes> files;
    if (!reader->Recognise(source, reason)) return files;
    reader->Read(source);
    char path[filesystem::kMaxPathBytes + 1];
    for (int i = 0; i < reader->EntryCount(); ++i) {
      const filesystem::Entry& e = reader->EntryAt(i);
      reader->Path(i, path, sizeof path);
      Bytes bytes(e.size);
      bytes.resize(reader->ReadFile(i, 0, bytes.data(), bytes.size()));
      files[std::string(path) + (e.kind == filesystem::EntryKind::kFolder ? "/" : "")] = bytes;
    }
    return files;
  }
};

Volume Blank(const d88test::FatFormat& f, const char* label = nullptr) {
  Volume v;
  v.shape = ShapeOf(f);
  v.raw.assign(std::size_t{v.shape.SectorCount()} * v.shape.sectorBytes, 0);
  fat12::FormatParameters p;
  filesystem::Reason reason;
  EXPECT_TRUE(fat12::ChooseFormat(v.shape, &p, reason)) << reason.text;
  std::uint8_t labelBytes[11];
  if (label != nullptr) {
    EXPECT_TRUE(fat12::MakeLabel(label, labelBytes));
  }
  fat12::FormatSystemArea(p, label != nullptr ? labelBytes : nullptr, 0x12345678,
                          d88test::DosDate(2024, 5, 6), d88test::DosTime(7, 8, 10), v.raw.data());
  EXPECT_TRUE(v.Open());
  return v;
}

// Every sector that differs between before and after is one the writer
// says it changed.
void ExpectOnlyPlannedChanged(const Volume& v, const Bytes& before) {
  const std::size_t bytes = v.shape.sectorBytes;
  for (std::uint32_t s = 0; s < v.shape.SectorCount(); ++s) {
    const bool differs = !std::equal(before.begin() + s * bytes, before.begin() + (s + 1) * bytes,
                                     v.raw.begin() + s * bytes);
    if (differs) {
      EXPECT_TRUE(v.writer->Changed(s)) << "sector " << s << " changed unplanned";
    }
  }
}

struct FormatRow {
  d88test::FatFormat format;
};

TEST(Fat12Format, BlankVolumesAreCleanAndLabelled) {
  if (!d88test::HaveMtools()) GTEST_SKIP() << "no mtools";
  for (const auto& f :
       {d88test::kFatPc98, d88test::kFat720K, d88test::kFat640K, d88test::kFat1440K,
        d88test::kFat1200K, d88test::FatFormat{40, 2, 9, 512, 2, 2, 112, 0xFD, 0}}) {
    SCOPED_TRACE(std::to_string(f.sectorsPerTrack) + "x" + std::to_string(f.sectorBytes));
    const Volume v = Blank(f, "Test Vol");
    const Oracle o = Ask(v.raw);
    EXPECT_EQ(o.fsck, 0) << o.fsckOutput;
    std::string listing;
    Shell("MTOOLS_SKIP_CHECK=1 mdir -i " + ImagePath() + " ::", &listing);
    EXPECT_NE(listing.find("Volume in drive : is TEST VOL"), std::string::npos) << listing;
    EXPECT_NE(listing.find("No files"), std::string::npos) << listing;
    EXPECT_EQ(v.raw[f.fatSectors * f.sectorBytes + f.sectorBytes], f.media);  // the second FAT
  }
}

TEST(Fat12Format, Pc98ParameterBlock) {
  const Volume v = Blank(d88test::kFatPc98);
  const struct {
    int at, size;
    std::uint32_t value;
  } kFields[] = {{0, 1, 0xEB},       {2, 1, 0x90},  {11, 2, 1024},       {13, 1, 1},
                 {14, 2, 1},         {16, 1, 2},    {17, 2, 192},        {19, 2, 1232},
                 {21, 1, 0xFE},      {22, 2, 2},    {24, 2, 8},          {26, 2, 2},
                 {37, 1, 0},         {38, 1, 0x29}, {39, 4, 0x12345678}, {510, 2, 0xAA55},
                 {1024, 3, 0xFFFFFE}};
  for (const auto& field : kFields) {
    std::uint32_t value = 0;
    for (int b = field.size - 1; b >= 0; --b) value = value << 8 | v.raw[field.at + b];
    EXPECT_EQ(value, field.value) << "byte " << field.at;
  }
  EXPECT_EQ(std::string(v.raw.begin() + 43, v.raw.begin() + 62), "NO NAME    FAT12   ");
}

// Shapes of no common floppy get the parameter block mkfs.fat gives them.
TEST(Fat12Format, OtherShapesAsMkfsFat) {
  if (!d88test::HaveMtools()) GTEST_SKIP() << "no mkfs.fat";
  const Geometry kShapes[] = {{80, 2, 10, 512}, {80, 2, 8, 1024}, {80, 2, 21, 512},
                              {77, 2, 8, 512},  {80, 1, 9, 512},  {80, 2, 8, 2048}};
  for (const Geometry& g : kShapes) {
    SCOPED_TRACE(std::to_string(g.sectorsPerTrack) + "x" + std::to_string(g.sectorBytes));
    std::string out;
    ASSERT_EQ(Shell("rm -f " + ImagePath() + " && mkfs.fat -C -F 12 " + ImagePath() + " -S " +
                        std::to_string(g.sectorBytes) + " -g " + std::to_string(g.heads) + "/" +
                        std::to_string(g.sectorsPerTrack) + " " +
                        std::to_string(g.SectorCount() * g.sectorBytes / 1024),
                    &out),
              0)
        << out;
    const Bytes mkfs = d88test::ReadFileBytes(ImagePath());
    Bytes ours(std::size_t{g.SectorCount()} * g.sectorBytes);
    fat12::FormatParameters p;
    filesystem::Reason reason;
    ASSERT_TRUE(fat12::ChooseFormat(g, &p, reason)) << reason.text;
    fat12::FormatSystemArea(p, nullptr, 0, 0, 0, ours.data());
    EXPECT_EQ(Bytes(ours.begin() + 11, ours.begin() + 37),
              Bytes(mkfs.begin() + 11, mkfs.begin() + 37));
  }
}

// A change, the tree mdir -/ -b then lists, and a text the listing of
// short names holds.
struct StepRow {
  std::function<bool(fat12::Fat12Writer&, filesystem::Reason&)> change;
  const char* tree;
  const char* shortNames;
};

bool AddBytes(fat12::Fat12Writer& w, const char* path, const Bytes& data, filesystem::Reason& r) {
  return w.Add(path, data.data(), static_cast<std::uint32_t>(data.size()),
               d88test::DosDate(2024, 1, 2), d88test::DosTime(3, 4, 6), r);
}

const Bytes kLong = d88test::PatternBytes(3000, 1);
const Bytes kBig = d88test::PatternBytes(50 * 1024, 3);

const StepRow kSteps[] = {
    {[](auto& w, auto& r) { return AddBytes(w, "lower.txt", d88test::Text("lower\n"), r); },
     "::/lower.txt\n", "lower    txt"},
    {[](auto& w, auto& r) { return AddBytes(w, "A long file name.text", kLong, r); },
     "::/lower.txt\n::/A long file name.text\n", "ALONGF~1 TEX"},
    {[](auto& w, auto& r) { return AddBytes(w, "A long file twice.text", kLong, r); },
     "::/lower.txt\n::/A long file name.text\n::/A long file twice.text\n", "ALONGF~2 TEX"},
    {[](auto& w, auto& r) { return w.MakeFolder("Sub", 0, 0, r); },
     "::/lower.txt\n::/A long file name.text\n::/A long file twice.text\n::/Sub/\n", "SUB "},
    {[](auto& w, auto& r) { return AddBytes(w, "sub/MiXed.Txt", kLong, r); },
     "::/lower.txt\n::/A long file name.text\n::/A long file twice.text\n::/Sub/\n"
     "::/Sub/MiXed.Txt\n",
     "MIXED    TXT"},
    {[](auto& w, auto& r) { return w.MakeFolder("Sub/Deeper", 0, 0, r); },
     "::/lower.txt\n::/A long file name.text\n::/A long file twice.text\n::/Sub/\n"
     "::/Sub/MiXed.Txt\n::/Sub/Deeper/\n",
     "DEEPER "},
    {[](auto& w, auto& r) { return AddBytes(w, "Sub/Deeper/big file.bin", kBig, r); },
     "::/lower.txt\n::/A long file name.text\n::/A long file twice.text\n::/Sub/\n"
     "::/Sub/MiXed.Txt\n::/Sub/Deeper/\n::/Sub/Deeper/big file.bin\n",
     "BIGFIL~1 BIN"},
    {[](auto& w, auto& r) { return w.Remove("ALONGF~1.TEX", r); },
     "::/lower.txt\n::/A long file twice.text\n::/Sub/\n::/Sub/MiXed.Txt\n::/Sub/Deeper/\n"
     "::/Sub/Deeper/big file.bin\n",
     "ALONGF~2 TEX"},
    {[](auto& w, auto& r) { return AddBytes(w, "LOWER.TXT", kBig, r); },
     "::/LOWER.TXT\n::/A long file twice.text\n::/Sub/\n::/Sub/MiXed.Txt\n::/Sub/Deeper/\n"
     "::/Sub/Deeper/big file.bin\n",
     "LOWER    TXT     51200"},
    {[](auto& w, auto& r) { return w.Remove("Sub/Deeper/big file.bin", r); },
     "::/LOWER.TXT\n::/A long file twice.text\n::/Sub/\n::/Sub/MiXed.Txt\n::/Sub/Deeper/\n",
     "DEEPER "},
    {[](auto& w, auto& r) { return w.RemoveFolder("Sub/Deeper", r); },
     "::/LOWER.TXT\n::/A long file twice.text\n::/Sub/\n::/Sub/MiXed.Txt\n", "MIXED    TXT"},
};

// Each step on a blank 720 KB volume: fsck.fat finds it clean, mdir lists
// the tree, mcopy gives back each file, and only the planned sectors moved.
TEST(Fat12Writer, StepsReadBackThroughMtools) {
  if (!d88test::HaveMtools()) GTEST_SKIP() << "no mtools";
  Volume v = Blank(d88test::kFat720K);
  for (std::size_t i = 0; i < std::size(kSteps); ++i) {
    SCOPED_TRACE("step " + std::to_string(i));
    const Bytes before = v.raw;
    ASSERT_TRUE(v.Open());
    filesystem::Reason reason;
    ASSERT_TRUE(kSteps[i].change(*v.writer, reason)) << reason.text;
    ExpectOnlyPlannedChanged(v, before);
    const Oracle o = Ask(v.raw);
    EXPECT_EQ(o.fsck, 0) << o.fsckOutput;
    EXPECT_EQ(o.tree, kSteps[i].tree);
    EXPECT_NE(o.listing.find(kSteps[i].shortNames), std::string::npos) << o.listing;
    for (const auto& [path, bytes] : v.Files()) {
      if (path.back() == '/') continue;
      std::string out;
      Shell("rm -f fat12writer-out && MTOOLS_SKIP_CHECK=1 mcopy -n -i " + ImagePath() + " '::/" +
                path + "' fat12writer-out",
            &out);
      EXPECT_EQ(d88test::ReadFileBytes("fat12writer-out"), bytes) << path;
    }
  }
}

// A disk mcopy wrote, changed by the writer, read by mtools.
TEST(Fat12Writer, ChangesADiskMcopyWrote) {
  if (!d88test::HaveMtools()) GTEST_SKIP() << "no mtools";
  const std::string in = "fat12writer-tree";
  std::string out;
  Shell("rm -rf " + in + " && mkdir -p " + in + "/Sub/Deeper", &out);
  for (const auto& [name, bytes] : d88test::kOracleTree)
    d88test::WriteFileBytes(in + "/" + name, bytes);
  ASSERT_TRUE(d88test::MakeMtoolsDisk(d88test::kFat1440K, in, "*", ImagePath()));
  Volume v;
  v.shape = ShapeOf(d88test::kFat1440K);
  v.raw = d88test::ReadFileBytes(ImagePath());
  ASSERT_TRUE(v.Open());
  filesystem::Reason reason;
  ASSERT_TRUE(v.writer->Remove("a long file name.TEXT", reason)) << reason.text;
  ASSERT_TRUE(AddBytes(*v.writer, "Sub/Deeper/\x93\xfa\x96\x7b.TXT", d88test::kKanaBytes, reason))
      << reason.text;
  // A first byte 0xE5 is stored as 0x05, not taken for a deleted entry.
  ASSERT_TRUE(AddBytes(*v.writer, "\xE5\x8F.TXT", d88test::Text("x"), reason)) << reason.text;
  const Oracle o = Ask(v.raw);
  EXPECT_EQ(o.fsck, 0) << o.fsckOutput;
  EXPECT_EQ(o.tree.find("A long file name.text"), std::string::npos) << o.tree;
  EXPECT_EQ(v.Files().at("\xE8\x9C\xBF.TXT"), d88test::Text("x"));
  const auto files = v.Files();
  EXPECT_EQ(files.at("Sub/Deeper/\xE6\x97\xA5\xE6\x9C\xAC.TXT"), d88test::kKanaBytes);
  EXPECT_EQ(files.at("Sub/Deeper/big file.bin"), d88test::kOracleTree[5].second);
}

struct RefusalRow {
  const char* what;
  std::function<void(Volume&)> prepare;
  std::function<bool(fat12::Fat12Writer&, filesystem::Reason&)> change;
  const char* reason;
};

const RefusalRow kRefusals[] = {
    {"no room", nullptr, [](auto& w, auto& r) { return AddBytes(w, "BIG", Bytes(800 * 1024), r); },
     "no room: 819200 bytes needed, 730112 free"},
    {"no room for a replacement, after its old clusters are freed",
     [](Volume& v) {
       filesystem::Reason r;
       AddBytes(*v.writer, "A long name", Bytes(300 * 1024), r);
     },
     [](auto& w, auto& r) { return AddBytes(w, "A LONG NAME", Bytes(800 * 1024), r); },
     "no room: 819200 bytes needed, 730112 free"},
    {"a colon", nullptr, [](auto& w, auto& r) { return AddBytes(w, "a:b", {}, r); },
     "no DOS or Windows"},
    {"a device", nullptr, [](auto& w, auto& r) { return AddBytes(w, "con.txt", {}, r); },
     "device name"},
    {"a trailing dot", nullptr, [](auto& w, auto& r) { return AddBytes(w, "x.", {}, r); },
     "trailing dot"},
    {"through a file",
     [](Volume& v) {
       filesystem::Reason r;
       AddBytes(*v.writer, "F", {}, r);
     },
     [](auto& w, auto& r) { return AddBytes(w, "F/x", {}, r); }, "runs through a file"},
    {"root full",
     [](Volume& v) {
       filesystem::Reason r;
       for (int i = 0; i < 112; ++i) AddBytes(*v.writer, std::to_string(i).c_str(), {}, r);
     },
     [](auto& w, auto& r) { return AddBytes(w, "one more", {}, r); },
     "root directory is full (112 entries)"},
    {"folder not empty",
     [](Volume& v) {
       filesystem::Reason r;
       v.writer->MakeFolder("D", 0, 0, r);
       AddBytes(*v.writer, "D/x", {}, r);
     },
     [](auto& w, auto& r) { return w.RemoveFolder("D", r); }, "not empty"},
    {"damaged directory",
     [](Volume& v) {
       filesystem::Reason r;
       v.writer->MakeFolder("D", 0, 0, r);
       for (int copy = 0; copy < 2; ++copy)  // D's cluster 2 now points at free cluster 3
         v.raw[512 * (1 + 3 * copy) + 3] = 0x03, v.raw[512 * (1 + 3 * copy) + 4] = 0x00;
     },
     [](auto& w, auto& r) { return AddBytes(w, "D/x", {}, r); }, "directory is damaged"},
};

TEST(Fat12Writer, RefusesAndChangesNothing) {
  for (const RefusalRow& row : kRefusals) {
    SCOPED_TRACE(row.what);
    Volume v = Blank(d88test::kFat720K);
    if (row.prepare) row.prepare(v);
    ASSERT_TRUE(v.Open());
    const Bytes before = v.raw;
    filesystem::Reason reason;
    EXPECT_FALSE(row.change(*v.writer, reason));
    EXPECT_NE(std::string(reason.text).find(row.reason), std::string::npos) << reason.text;
    EXPECT_TRUE(v.raw == before);
  }
}

TEST(Fat12Writer, RefusesFatCopiesThatDisagree) {
  Volume v = Blank(d88test::kFat720K);
  v.raw[4 * 512 + 5] = 0x12;  // the second copy only
  EXPECT_FALSE(v.Open());
}

}  // namespace
