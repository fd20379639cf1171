// Directory decoding and the data range of an entry, on both media.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/TestSupport.h"
#include "tool/Directory.h"
#include "tool/MediaGeometry.h"

using namespace d88test;

namespace {

const MediaGeometry& DD() { return *FindMediaGeometry(0x10); }
const MediaGeometry& HD() { return *FindMediaGeometry(0x20); }

TEST(MediaGeometry, KnowsExactlyTwoMedia) {
  for (int type = -1; type <= 256; ++type) {
    EXPECT_EQ(FindMediaGeometry(type) != nullptr, type == 0x10 || type == 0x20) << type;
  }
  EXPECT_EQ(DD().DiskBytes(), 160 * 9 * 512);
  EXPECT_EQ(HD().DiskBytes(), kLargestDiskBytes);
}

struct DecodeCase {
  const char* what;
  Bytes entry;
  bool isEntry;
  const char* name;
  int ddTrack, ddSector, hdTrack, hdSector;
  std::int32_t size;
};

Bytes Raw(const char (&bytes)[11]) { return Bytes(bytes, bytes + 10); }

TEST(DecodeDirectoryEntry, SplitsNameLocationAndSize) {
  const DecodeCase cases[] = {
      {"first byte 0 ends the directory", Raw("\0BCD\x23\x01\0\0\0\0"), false, "", 0, 0, 0, 0, 0},
      {"location 0x0123", Raw("ABCD\x23\x01\x10\0\0\0"), true, "ABCD", 0x12, 4, 0x24, 4, 16},
      {"padded name", Raw("AB  \0\0\0\0\0\0"), true, "AB", 0, 1, 0, 1, 0},
      {"space inside", Raw("A BC\0\0\0\0\0\0"), true, "A", 0, 1, 0, 1, 0},
      {"zero inside", Raw("A\0BC\0\0\0\0\0\0"), true, "A", 0, 1, 0, 1, 0},
      {"leading space", Raw(" ABC\0\0\0\0\0\0"), true, "", 0, 1, 0, 1, 0},
      {"high bytes kept", Raw("\x95\x5c\xff\x01\x0a\0\0\0\0\0"), true, "\x95\x5c\xff\x01", 0, 11, 1, 3, 0},
      {"negative size", Raw("NEG \xff\xff\xfb\xff\xff\xff"), true, "NEG", 0xfff, 16, 0x1fff, 8, -5},
      {"largest size", Raw("MAX \0\0\xff\xff\xff\x7f"), true, "MAX", 0, 1, 0, 1, 0x7fffffff},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.what);
    for (const MediaGeometry* g : {&DD(), &HD()}) {
      DirectoryEntry e{};
      ASSERT_EQ(DecodeDirectoryEntry(c.entry.data(), *g, &e), c.isEntry);
      if (!c.isEntry) continue;
      EXPECT_STREQ(e.name, c.name);
      EXPECT_EQ(e.track, g == &DD() ? c.ddTrack : c.hdTrack);
      EXPECT_EQ(e.sector, g == &DD() ? c.ddSector : c.hdSector);
      EXPECT_EQ(e.size, c.size);
    }
  }
}

struct RangeCase {
  const char* what;
  const MediaGeometry& geometry;
  int track, sector;
  std::int32_t size;
  std::int32_t offset, length;
};

TEST(EntryDataRange, StaysInsideTheImageBuffer) {
  const std::int32_t end = kLargestDiskBytes;
  const RangeCase cases[] = {
      {"2DD track 1 sector 1", DD(), 1, 1, 100, 9 * 512, 100},
      {"2DD sector 11 wraps into the next track", DD(), 0, 11, 10, 10 * 512, 10},
      {"2HD last sector", HD(), 153, 8, 1024, end - 1024, 1024},
      {"runs past the end: cut there", HD(), 153, 8, 5000, end - 1024, 1024},
      {"largest size", DD(), 0, 1, 0x7fffffff, 0, end},
      {"2DD beyond its disk but inside the buffer", DD(), 160, 1, 100, 160 * 9 * 512, 100},
      {"starts exactly at the end", HD(), 154, 1, 10, 0, 0},
      {"starts far beyond", DD(), 0xfff, 16, 10, 0, 0},
      {"negative size", HD(), 0, 1, -1, 0, 0},
      {"smallest size", HD(), 0, 1, -2147483647 - 1, 0, 0},
      {"size 0", HD(), 5, 5, 0, 0, 0},
  };
  for (const RangeCase& c : cases) {
    SCOPED_TRACE(c.what);
    DirectoryEntry e{"X", c.track, c.sector, c.size};
    const DataRange r = EntryDataRange(e, c.geometry, end);
    EXPECT_EQ(r.length, c.length);
    if (c.length > 0) {
      EXPECT_EQ(r.offset, c.offset);
    }
  }
}

}  // namespace
