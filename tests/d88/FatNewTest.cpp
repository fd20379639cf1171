// d88 new -f fat12: the container's records and a volume fsck.fat and
// mdir accept.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "testing/D88Builder.h"
#include "testing/FatBuilder.h"

using d88test::Bytes;
using d88test::Shell;

namespace {

std::uint32_t Le(const Bytes& b, std::size_t at, int size) {
  std::uint32_t v = 0;
  for (int i = size - 1; i >= 0; --i) v = v << 8 | b[at + static_cast<std::size_t>(i)];
  return v;
}

// The sectors of the container's first disk in track order; false when a
// track is not recorded whole and in order.
bool RawSectors(const Bytes& d88, int tracks, int heads, int sectors, Bytes* raw) {
  for (int t = 0; t < tracks * heads; ++t) {
    std::size_t at = Le(d88, 32 + 4 * static_cast<std::size_t>(heads == 2 ? t : 2 * t), 4);
    for (int r = 1; r <= sectors; ++r) {
      if (at == 0 || d88[at + 2] != r || Le(d88, at + 4, 2) != static_cast<std::uint32_t>(sectors))
        return false;
      const std::size_t length = Le(d88, at + 14, 2);
      raw->insert(raw->end(), d88.begin() + static_cast<std::ptrdiff_t>(at + 16),
                  d88.begin() + static_cast<std::ptrdiff_t>(at + 16 + length));
      at += 16 + length;
    }
  }
  return true;
}

struct NewRow {
  const char* medium;
  int cylinders, heads, sectors;
  std::uint8_t d88Media;
  const char* freeBytes;          // as mdir says it
  const char* label = "My Disk";  // --label
  const char* shown = "MY DISK";  // as mdir shows it, from Shift_JIS
};

const NewRow kRows[] = {
    {"2HD", 77, 2, 8, 0x20, "1 250 304 bytes free"},
    {"2HD", 77, 2, 8, 0x20, "1 250 304 bytes free", "データ2", "データ2"},
    {"2dd", 80, 2, 9, 0x10, "730 112 bytes free"},
    {"2DD8", 80, 2, 8, 0x10, "649 216 bytes free"},
    {"1.44M", 80, 2, 18, 0x20, "1 457 664 bytes free"},
    {"1.2M", 80, 2, 15, 0x20, "1 213 952 bytes free"},
    {"40/2/9/512", 40, 2, 9, 0x00, "362 496 bytes free"},
    {"80/1/9/512", 80, 1, 9, 0x10, "362 496 bytes free"},
};

TEST(FatNew, EachMediumIsACleanEmptyVolume) {
  if (!d88test::HaveMtools()) GTEST_SKIP() << "no mtools";
  const std::string disk = (std::filesystem::current_path() / "fatnew-test.d88").string();
  const std::string raw = disk + ".img", mtoolsrc = disk + ".mtoolsrc";
  d88test::WriteFileBytes(mtoolsrc, d88test::Text("DEFAULT_CODEPAGE=932\n"));
  for (const NewRow& row : kRows) {
    SCOPED_TRACE(row.medium);
    std::string out;
    std::filesystem::remove(disk);
    ASSERT_EQ(Shell(std::string(D88_BINARY) + " new -f fat12 -m " + row.medium + " --label '" +
                        row.label + "' -n FAT " + disk,
                    &out),
              0)
        << out;
    const Bytes d88 = d88test::ReadFileBytes(disk);
    EXPECT_EQ(d88[27], row.d88Media);
    Bytes sectors;
    ASSERT_TRUE(RawSectors(d88, row.cylinders, row.heads, row.sectors, &sectors));
    d88test::WriteFileBytes(raw, sectors);
    // fsck.fat 4.2 reads a label a byte at a time, and calls any
    // double-byte one invalid; mtools, DOS and Windows read it.
    const bool ascii = std::all_of(row.label, row.label + std::strlen(row.label),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) {
      EXPECT_EQ(Shell("fsck.fat -n " + raw, &out), 0) << out;
    }
    Shell("MTOOLSRC=" + mtoolsrc + " MTOOLS_SKIP_CHECK=1 mdir -i " + raw + " ::", &out);
    EXPECT_NE(out.find(std::string("Volume in drive : is ") + row.shown), std::string::npos) << out;
    EXPECT_NE(out.find("No files"), std::string::npos) << out;
    EXPECT_NE(out.find(row.freeBytes), std::string::npos) << out;
  }
}

TEST(FatNew, RefusesWhatNoFat12VolumeIs) {
  if (!d88test::HaveMtools()) GTEST_SKIP() << "no shell";
  const struct {
    const char* args;
    const char* err;
  } kRefusals[] = {
      {"-f fat12 -m 2D",
       "d88: cannot format FAT12: FAT12 takes sectors of 512 to 4096 bytes, not 256\n"},
      {"-f fat12 -m 3HD", "d88: not a medium (2HD, 2DD, 2DD8, 1.44M, 1.2M or C/H/S/BYTES): 3HD\n"},
      {"-f fat12 -m 2HD --label a.b", "d88: the label \"a.b\" is not a volume label"},
      {"-f fat16 -m 2HD", "d88: not a file system new formats (fat12): fat16\n"},
      {"-m 2HD --label X", "d88: --label needs -f fat12\n"},
  };
  const std::string disk = (std::filesystem::current_path() / "fatnew-refused.d88").string();
  for (const auto& row : kRefusals) {
    std::string out;
    std::filesystem::remove(disk);
    EXPECT_EQ(Shell(std::string(D88_BINARY) + " new " + row.args + " " + disk, &out), 1);
    EXPECT_EQ(out.rfind(row.err, 0), 0u) << out;
    EXPECT_FALSE(std::filesystem::exists(disk)) << row.args;
  }
}

}  // namespace
