// The reader's image-level behaviour: indexing, selecting, names.
#include <gtest/gtest.h>

#include <string>

#include "diskimage/DiskImage.h"
#include "tests/support/TestSupport.h"

using namespace d88test;

namespace {

class DiskImageTest : public ::testing::Test {
 protected:
  // Writes bytes to a file and opens it with disk.
  void OpenBytes(const Bytes& bytes) {
    const std::string path = dir.File("image.d88");
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    ASSERT_TRUE(disk.Open(path.c_str()));
  }

  ScratchDir dir;
  DiskImage disk;
};

Image NamedImage(const std::string& name, std::uint8_t mediaType) {
  Image image;
  image.name = name;
  image.mediaType = mediaType;
  return image;
}

Bytes WithSizeField(Image image, std::uint32_t size) {
  image.sizeField = size;
  return image.Build();
}

struct IndexCase {
  const char* what;
  Bytes container;
  int images;
};

TEST_F(DiskImageTest, IndexesTheImagesOfTheContainer) {
  const Bytes one = NamedImage("A", 0x10).Build();
  const IndexCase cases[] = {
      {"empty file", {}, 0},
      {"one byte short of a header", Bytes(687, 0), 0},
      {"exactly one header, size field 688", one, 1},
      {"two images back to back", Concat({one, NamedImage("B", 0x20).Build()}), 2},
      {"trailing bytes shorter than a header", Concat({one, Bytes(687, 0)}), 1},
      {"size field 0 repeats the first header up to the limit", WithSizeField(NamedImage("Z", 0x10), 0), 64},
      {"more than 64 images", Concat(std::vector<Bytes>(70, one)), 64},
      {"size field reaching INT32_MAX", WithSizeField(NamedImage("A", 0x10), 0x7FFFFFFF), 1},
      {"negative size field", WithSizeField(NamedImage("A", 0x10), 0xFFFFFFFF), 1},
      {"size field of -2^31", WithSizeField(NamedImage("A", 0x10), 0x80000000), 1},
  };
  for (const IndexCase& c : cases) {
    SCOPED_TRACE(c.what);
    OpenBytes(c.container);
    EXPECT_EQ(disk.GetImageCount(), c.images);
    EXPECT_EQ(disk.Select(0), c.images > 0);
    EXPECT_EQ(disk.GetMediaType(), c.images > 0 ? 0x10 : -1);
  }
}

TEST_F(DiskImageTest, OverflowingSizeKeepsTheImagesBeforeIt) {
  // Image 1 claims a size that would carry the next start past INT32_MAX.
  const Bytes first = NamedImage("FIRST", 0x10).Build();
  const Bytes container = Concat({first, WithSizeField(NamedImage("SECOND", 0x20), 0x7FFFFF00), first});
  OpenBytes(container);
  EXPECT_EQ(disk.GetImageCount(), 2);
  ASSERT_TRUE(disk.Select(0));
  EXPECT_STREQ(disk.GetName(), "FIRST");
  ASSERT_TRUE(disk.Select(1));
  EXPECT_STREQ(disk.GetName(), "SECOND");
  EXPECT_EQ(disk.GetMediaType(), 0x20);
}

TEST_F(DiskImageTest, SelectMakesEachImageCurrent) {
  OpenBytes(Concat({NamedImage("ZERO", 0x10).Build(), NamedImage("ONE", 0x30).Build()}));
  ASSERT_TRUE(disk.Select(1));
  EXPECT_STREQ(disk.GetName(), "ONE");
  EXPECT_EQ(disk.GetMediaType(), 0x30);  // carried even though no medium has it
  ASSERT_TRUE(disk.Select(0));
  EXPECT_STREQ(disk.GetName(), "ZERO");
  EXPECT_EQ(disk.GetMediaType(), 0x10);
}

TEST_F(DiskImageTest, SelectOutOfRangeLeavesNoImageCurrent) {
  OpenBytes(Concat({NamedImage("ZERO", 0x10).Build(), NamedImage("ONE", 0x20).Build()}));
  for (int k : {-1, 2, 64, -2147483647 - 1, 2147483647}) {
    SCOPED_TRACE(k);
    ASSERT_TRUE(disk.Select(0));
    EXPECT_FALSE(disk.Select(k));
    EXPECT_EQ(disk.GetMediaType(), -1);
    EXPECT_STREQ(disk.GetName(), "");
  }
}

TEST_F(DiskImageTest, NamesEndAtTheirFirstNulOrFillSixteenBytes) {
  Bytes full = NamedImage("ABCDEFGHIJKLMNOP", 0x20).Build();
  Bytes shortName = NamedImage("AB", 0x20).Build();
  shortName[3] = 'X';  // after the NUL: not part of the name
  Bytes highBytes = NamedImage("\x82\xa0\xff", 0x20).Build();
  OpenBytes(Concat({full, shortName, highBytes}));
  ASSERT_TRUE(disk.Select(0));
  EXPECT_STREQ(disk.GetName(), "ABCDEFGHIJKLMNOP");
  ASSERT_TRUE(disk.Select(1));
  EXPECT_STREQ(disk.GetName(), "AB");
  ASSERT_TRUE(disk.Select(2));
  EXPECT_STREQ(disk.GetName(), "\x82\xa0\xff");
}

TEST_F(DiskImageTest, OpenFailsOnlyForAFileThatCannotBeOpened) {
  EXPECT_FALSE(disk.Open(dir.File("missing.d88").c_str()));
  EXPECT_EQ(disk.GetImageCount(), 0);
  EXPECT_FALSE(disk.Select(0));
  EXPECT_FALSE(disk.Open(dir.path().c_str()) && disk.GetImageCount() > 0);
}

TEST_F(DiskImageTest, OpenWithNullPathClosesButKeepsTheName) {
  OpenBytes(NamedImage("KEPT", 0x20).Build());
  ASSERT_TRUE(disk.Select(0));
  EXPECT_TRUE(disk.Open(nullptr));
  EXPECT_EQ(disk.GetImageCount(), 0);
  EXPECT_EQ(disk.GetMediaType(), -1);
  EXPECT_STREQ(disk.GetName(), "KEPT");
  EXPECT_FALSE(disk.Select(0));
  EXPECT_STREQ(disk.GetName(), "KEPT");  // nothing open: Select changes nothing
  EXPECT_TRUE(disk.Open(nullptr));       // closing twice is harmless
}

TEST_F(DiskImageTest, ReopeningReplacesTheIndex) {
  OpenBytes(Concat({NamedImage("A", 0x10).Build(), NamedImage("B", 0x10).Build()}));
  EXPECT_EQ(disk.GetImageCount(), 2);
  OpenBytes(NamedImage("C", 0x20).Build());
  EXPECT_EQ(disk.GetImageCount(), 1);
  ASSERT_TRUE(disk.Select(0));
  EXPECT_STREQ(disk.GetName(), "C");
}

TEST(DiskImageFresh, HasNoImageBeforeOpen) {
  DiskImage disk;
  EXPECT_EQ(disk.GetImageCount(), 0);
  EXPECT_EQ(disk.GetMediaType(), -1);
  EXPECT_STREQ(disk.GetName(), "");
  EXPECT_FALSE(disk.Select(0));
}

}  // namespace
