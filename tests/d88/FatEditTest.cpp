// d88 add, rm, mkdir and rmdir on a FAT12 disk, judged by the oracle
// (fsck.fat, mdir, mshowfat, mcopy) and by the container's bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

#include "testing/D88Builder.h"
#include "testing/FatBuilder.h"

using d88test::Bytes;
using d88test::Shell;

namespace {

// A PC-98 2HD disk as d88 new lays it: tracks back to back after the
// header, 1024-byte sectors, data from logical sector 11, a cluster a sector.
constexpr std::size_t kFirstRecord = 0x2B0, kRecordBytes = 16 + 1024;
constexpr std::size_t kDataStart = 11;

struct Work {
  // A folder of each test's own: the tests run at once.
  std::string dir =
      (std::filesystem::current_path() /
       (std::string("fatedit-") + testing::UnitTest::GetInstance()->current_test_info()->name()))
          .string();
  std::string c = dir + "/c.d88", raw = dir + "/c.img";

  Work() {
    std::filesystem::remove_all(dir);
    std::filesystem::create_directory(dir);
    d88test::WriteFileBytes(dir + "/a.txt", d88test::Text("first file\r\n"));
    d88test::WriteFileBytes(dir + "/b.txt", d88test::Text("second\r\n"));
    Bytes big(5000);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7 + 3);
    d88test::WriteFileBytes(dir + "/big.bin", big);
    // mtools then reads Shift_JIS names as the disks hold them.
    d88test::WriteFileBytes(dir + "/mtoolsrc", d88test::Text("DEFAULT_CODEPAGE=932\n"));
  }
  // Runs script in the work folder, $D the program; its status.
  int Run(const std::string& script, std::string* out) const {
    return Shell("cd " + dir + " && D=" + D88_BINARY + " && " + script, out);
  }
  // Writes the disk's sectors to raw; returns them.
  Bytes Raw() const {
    const Bytes d88 = d88test::ReadFileBytes(c);
    Bytes sectors;
    for (std::size_t at = kFirstRecord; at + kRecordBytes <= d88.size(); at += kRecordBytes)
      sectors.insert(sectors.end(), d88.begin() + static_cast<std::ptrdiff_t>(at + 16),
                     d88.begin() + static_cast<std::ptrdiff_t>(at + kRecordBytes));
    d88test::WriteFileBytes(raw, sectors);
    return sectors;
  }
  // Runs an mtools command on raw; its output.
  std::string Mtools(const std::string& command, const std::string& args) const {
    std::string out;
    Shell(
        "MTOOLSRC=" + dir + "/mtoolsrc MTOOLS_SKIP_CHECK=1 " + command + " -i " + raw + " " + args,
        &out);
    return out;
  }
  std::size_t FilesBeside() const {
    const std::filesystem::directory_iterator all(dir);
    return static_cast<std::size_t>(std::distance(begin(all), end(all)));
  }
};

// The logical sectors path's clusters take, as mshowfat tells them.
std::set<std::size_t> SectorsOf(const Work& work, const std::string& path) {
  std::set<std::size_t> sectors;
  const std::string out = work.Mtools("mshowfat", "'::/" + path + "'");
  for (std::size_t at = out.find('<'); at != std::string::npos; at = out.find('<', at + 1)) {
    std::size_t first = 0, last = 0;
    char dash = 0;
    std::istringstream run(out.substr(at + 1));
    run >> first >> dash;
    if (dash != '-' || !(run >> last)) last = first;
    for (std::size_t n = first; n <= last; ++n) sectors.insert(kDataStart + n - 2);
  }
  return sectors;
}

struct EditRow {
  const char* what;
  const char* setup;    // shell, after "&&": the disk before the edit
  const char* edit;     // shell: the edit
  const char* tree;     // mdir -/ -b afterwards, each line
  const char* files;    // disk path=host file, ';' between: mcopy gives each back
  const char* touched;  // disk paths, ';' between, whose clusters may change
};

const EditRow kEdits[] = {
    {"add into the root, with the host file's time", "",
     "touch -d '2001-02-03 04:05:06' a.txt && $D add c.d88 a.txt big.bin", "::/a.txt\n::/big.bin\n",
     "a.txt=a.txt;big.bin=big.bin", "a.txt;big.bin"},
    {"add into a folder by a long name", "&& $D mkdir c.d88 SUB",
     "$D add c.d88 big.bin --as 'SUB/Long Name.bin'", "::/SUB/\n::/SUB/Long Name.bin\n",
     "SUB/Long Name.bin=big.bin", "SUB;SUB/Long Name.bin"},
    {"several files into a folder", "&& $D mkdir c.d88 SUB", "$D add c.d88 a.txt b.txt --as SUB/",
     "::/SUB/\n::/SUB/a.txt\n::/SUB/b.txt\n", "SUB/a.txt=a.txt;SUB/b.txt=b.txt",
     "SUB;SUB/a.txt;SUB/b.txt"},
    {"replace a file", "&& $D add c.d88 big.bin --as a.txt && $D add c.d88 b.txt",
     "$D add c.d88 a.txt", "::/a.txt\n::/b.txt\n", "a.txt=a.txt;b.txt=b.txt", "a.txt"},
    {"rm by long name, any case",
     "&& $D mkdir c.d88 SUB && $D add c.d88 big.bin --as 'SUB/Long Name.bin' && $D add c.d88 a.txt",
     "$D rm c.d88 'sub/LONG NAME.BIN'", "::/SUB/\n::/a.txt\n", "a.txt=a.txt", "SUB"},
    {"rm by alias", "&& $D add c.d88 big.bin --as 'Long Name.bin' && $D add c.d88 a.txt",
     "$D rm c.d88 longna~1.bin", "::/a.txt\n", "a.txt=a.txt", ""},
    {"mkdir in a folder", "&& $D mkdir c.d88 SUB && $D add c.d88 a.txt --as SUB/a.txt",
     "$D mkdir c.d88 'SUB/Deeper One'", "::/SUB/\n::/SUB/Deeper One/\n::/SUB/a.txt\n",
     "SUB/a.txt=a.txt", "SUB;SUB/Deeper One"},
    {"a Shift_JIS name", "", "LC_ALL=C.UTF-8 $D add c.d88 a.txt --as 'データ.TXT'",
     "::/データ.TXT\n", "データ.TXT=a.txt", "データ.TXT"},
    {"a Shift_JIS name given as its bytes", "",
     "$D add c.d88 a.txt --as \"$(printf '\\203\\146\\201\\133\\203\\136.TXT')\"",
     "::/データ.TXT\n", "データ.TXT=a.txt", "データ.TXT"},
    {"the same name twice: the later file stays",
     "&& mkdir -p x y && cp a.txt x/f.txt && cp b.txt y/f.txt", "$D add c.d88 x/f.txt y/f.txt",
     "::/f.txt\n", "f.txt=y/f.txt", "f.txt"},
    {"rmdir", "&& $D mkdir c.d88 SUB && $D mkdir c.d88 KEEP && $D add c.d88 b.txt --as KEEP/b.txt",
     "$D rmdir c.d88 sub", "::/KEEP/\n::/KEEP/b.txt\n", "KEEP/b.txt=b.txt", ""},
    {"rm a file that fills the disk, to its last cluster",
     "&& head -c 1250304 /dev/zero > full && $D add c.d88 full", "$D rm c.d88 full", "", "", ""},
};

TEST(FatEdit, EachEditIsCleanAndChangesOnlyItsSectors) {
  if (!d88test::HaveMtools()) GTEST_SKIP() << "no mtools";
  for (const EditRow& row : kEdits) {
    SCOPED_TRACE(row.what);
    const Work work;
    std::string out;
    ASSERT_EQ(work.Run(std::string("$D new -f fat12 -m 2HD c.d88 && true ") + row.setup, &out), 0)
        << out;
    const Bytes before = d88test::ReadFileBytes(work.c);
    ASSERT_EQ(work.Run(row.edit, &out), 0) << out;
    const Bytes after = d88test::ReadFileBytes(work.c);
    work.Raw();
    EXPECT_EQ(Shell("fsck.fat -n " + work.raw, &out), 0) << out;
    EXPECT_EQ(work.Mtools("mdir -/ -b", ":: | LC_ALL=C sort"), row.tree);
    std::istringstream files(row.files);
    for (std::string pair; std::getline(files, pair, ';');) {
      const std::size_t eq = pair.find('=');
      const std::string copy = work.dir + "/back";
      std::filesystem::remove(copy);
      work.Mtools("mcopy -n", "'::/" + pair.substr(0, eq) + "' " + copy);
      EXPECT_EQ(d88test::ReadFileBytes(copy),
                d88test::ReadFileBytes(work.dir + "/" + pair.substr(eq + 1)))
          << pair;
    }
    if (std::string(row.edit).find("touch") != std::string::npos) {
      EXPECT_NE(work.Mtools("mdir", "::").find("2001-02-03   4:05"), std::string::npos);
    }
    // Only data areas change: of the FATs, the root, and the clusters touched.
    std::set<std::size_t> may;
    for (std::size_t s = 1; s < kDataStart; ++s) may.insert(s);
    std::istringstream touched(row.touched);
    for (std::string path; std::getline(touched, path, ';');) {
      for (const std::size_t s : SectorsOf(work, path)) may.insert(s);
    }
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t at = 0; at < after.size(); ++at) {
      if (after[at] == before[at]) continue;
      const std::size_t s = (at - kFirstRecord) / kRecordBytes;
      ASSERT_TRUE(at >= kFirstRecord && (at - kFirstRecord) % kRecordBytes >= 16 && may.count(s))
          << "byte " << at << " of sector " << s;
    }
  }
}

// Sets a byte of logical sector s's record (an octal escape) with printf and dd.
std::string Poke(std::size_t s, int offset, const char* byte) {
  return std::string("printf '") + byte + "' | dd of=c.d88 bs=1 seek=" +
         std::to_string(kFirstRecord + s * kRecordBytes + static_cast<std::size_t>(offset)) +
         " conv=notrunc status=none";
}

struct RefusalRow {
  std::string what, setup, edit, said;
};

TEST(FatEdit, RefusalsChangeNothing) {
  if (!d88test::HaveMtools()) GTEST_SKIP() << "no mtools";
  const std::string files = "for i in $(seq 1 192); do echo > f$i; done && ";
  const RefusalRow rows[] = {
      {"FAT copies differ", "$D add c.d88 a.txt && " + Poke(3, 16 + 4, "\\007"),
       "$D add c.d88 b.txt", "cannot write FAT12: "},
      {"the FAT's first sector damaged", Poke(1, 8, "\\260"), "$D add c.d88 b.txt",
       "image 0: logical sector 1 (FAT) is bad status; nothing written"},
      {"a damaged folder on the path", "$D mkdir c.d88 SUB && " + Poke(11, 8, "\\260"),
       "$D add c.d88 a.txt --as SUB/a.txt",
       "image 0: a directory on the way to SUB/a.txt is damaged; nothing written"},
      {"no room", "head -c 1300000 /dev/zero > huge", "$D add c.d88 huge",
       "image 0: cannot add huge as huge: no room: 1300480 bytes needed, 1250304 free; nothing "
       "written"},
      {"a name no system holds", "", "$D add c.d88 a.txt --as 'a|b'",
       "image 0: cannot add a.txt as a|b: a name no DOS or Windows system holds"},
      {"a path through a file", "$D add c.d88 a.txt", "$D add c.d88 b.txt --as a.txt/b",
       "image 0: cannot add b.txt as a.txt/b: the path runs through a file; nothing written"},
      {"a full root directory",
       files + "$D add c.d88 $(seq -f f%g 1 64) && $D add c.d88 $(seq -f f%g 65 128) && " +
           "$D add c.d88 $(seq -f f%g 129 192)",
       "$D add c.d88 a.txt", "the root directory is full (192 entries); nothing written"},
      {"rmdir of a folder not empty", "$D mkdir c.d88 SUB && $D add c.d88 a.txt --as SUB/a",
       "$D rmdir c.d88 SUB", "cannot remove the folder SUB: the folder is not empty"},
      {"a sector to write bad", Poke(11, 8, "\\260"), "$D add c.d88 a.txt",
       "image 0: logical sector 11, which the change writes, is bad status; nothing written"},
      {"a sector to write deleted", Poke(11, 7, "\\020"), "$D add c.d88 a.txt",
       "image 0: logical sector 11, which the change writes, is deleted mark; nothing written"},
      {"a sector to write recorded twice", Poke(12, 2, "\\004"), "$D add c.d88 a.txt",
       "image 0: logical sector 11, which the change writes, is duplicate; nothing written"},
      {"a sector to write missing", Poke(11, 2, "\\011"), "$D add c.d88 a.txt",
       "image 0: logical sector 11, which the change writes, is missing; nothing written"},
      {"mkdir on a flat disk", "rm c.d88 && $D new -m 2HD c.d88", "$D mkdir c.d88 SUB",
       "d88: the flat directory has no folders; nothing written\n"},
  };
  for (const RefusalRow& row : rows) {
    SCOPED_TRACE(row.what);
    const Work work;
    std::string out;
    ASSERT_EQ(
        work.Run("$D new -f fat12 -m 2HD c.d88" + (row.setup.empty() ? "" : " && " + row.setup),
                 &out),
        0)
        << out;
    const Bytes before = d88test::ReadFileBytes(work.c);
    const std::size_t beside = work.FilesBeside();
    EXPECT_EQ(work.Run(row.edit, &out), 1);
    EXPECT_NE(out.find(row.said), std::string::npos) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_EQ(d88test::ReadFileBytes(work.c), before);
    EXPECT_EQ(work.FilesBeside(), beside);
  }
}

}  // namespace
