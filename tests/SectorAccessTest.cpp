// The reader's sector-level behaviour: the track check, the record scan,
// runs of sectors and track ID lists, on containers laid out by hand.
#include <gtest/gtest.h>

#include <string>

#include "diskimage/DiskImage.h"
#include "tests/support/TestSupport.h"

using namespace d88test;

namespace {

constexpr std::uint8_t kUntouched = 0xEE;

Bytes Fill(std::size_t n, std::uint8_t v) { return Bytes(n, v); }

class SectorAccessTest : public ::testing::Test {
 protected:
  // Writes bytes to a file, opens it and makes image `k` current.
  void Load(const Bytes& bytes, int k = 0) {
    const std::string path = dir.File("image.d88");
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    ASSERT_TRUE(disk.Open(path.c_str()));
    ASSERT_TRUE(disk.Select(k));
  }

  // ReadSector into a buffer of `length` bytes preset to kUntouched;
  // returns the result and leaves the buffer in `got`.
  int Read(int track, int c, int h, int r, int n, int length) {
    got.assign(static_cast<std::size_t>(length), kUntouched);
    return disk.ReadSector(track, c, h, r, n, got.data(), length);
  }

  ScratchDir dir;
  DiskImage disk;
  Bytes got;
};

// One track (index 0) holding the given records.
Bytes OneTrack(std::vector<Record> records) {
  Image image;
  image.tracks[0] = std::move(records);
  return image.Build();
}

TEST_F(SectorAccessTest, FindsSectorsByIdWhateverTheirOrder) {
  Load(OneTrack({MakeRecord(0, 0, 3, 1, 3, Fill(256, 3)), MakeRecord(0, 0, 1, 1, 3, Fill(256, 1)),
                 MakeRecord(0, 0, 2, 1, 3, Fill(256, 2))}));
  for (int r = 1; r <= 3; ++r) {
    SCOPED_TRACE(r);
    EXPECT_EQ(Read(0, 0, 0, r, 1, 256), 256);
    EXPECT_BYTES_EQ(Fill(256, static_cast<std::uint8_t>(r)), got);
  }
}

struct MatchCase {
  const char* what;
  std::vector<Record> records;
  int c, h, r, n, maxLength;
  int result;
  std::uint8_t firstByte;  // of the buffer afterwards
};

TEST_F(SectorAccessTest, MatchesTheFullIdWithinTheRecordedCount) {
  const MatchCase cases[] = {
      {"first of two equal IDs wins",
       {MakeRecord(0, 0, 1, 1, 2, Fill(256, 0xA1)), MakeRecord(0, 0, 1, 1, 2, Fill(256, 0xB2))},
       0, 0, 1, 1, 256, 256, 0xA1},
      {"N is part of the ID",
       {MakeRecord(0, 0, 1, 2, 2, Fill(256, 0xA1)), MakeRecord(0, 0, 1, 1, 2, Fill(256, 0xB2))},
       0, 0, 1, 1, 256, 256, 0xB2},
      {"foreign C and H are read as recorded",
       {MakeRecord(9, 1, 1, 1, 2, Fill(16, 0xA1)), MakeRecord(7, 0, 5, 1, 2, Fill(16, 0xB2))},
       7, 0, 5, 1, 16, 16, 0xB2},
      {"count 0 on the first record ends the scan, even for its own ID",
       {MakeRecord(0, 0, 1, 1, 0, Fill(16, 0xA1))}, 0, 0, 1, 1, 16, 0, kUntouched},
      {"count 0 on a later record ends the scan",
       {MakeRecord(0, 0, 1, 1, 3, Fill(16, 1)), MakeRecord(0, 0, 2, 1, 0, Fill(16, 2)),
        MakeRecord(0, 0, 3, 1, 3, Fill(16, 3))},
       0, 0, 3, 1, 16, 0, kUntouched},
      {"a record past the count is not reached",
       {MakeRecord(0, 0, 1, 1, 2, Fill(16, 1)), MakeRecord(0, 0, 2, 1, 2, Fill(16, 2)),
        MakeRecord(0, 0, 3, 1, 2, Fill(16, 3))},
       0, 0, 3, 1, 16, 0, kUntouched},
      {"the last record within the count still matches",
       {MakeRecord(0, 0, 1, 1, 2, Fill(16, 1)), MakeRecord(0, 0, 2, 1, 2, Fill(16, 2))},
       0, 0, 2, 1, 16, 16, 2},
      {"each record's own count bounds the scan",
       {MakeRecord(0, 0, 1, 1, 9, Fill(16, 1)), MakeRecord(0, 0, 2, 1, 2, Fill(16, 2)),
        MakeRecord(0, 0, 3, 1, 9, Fill(16, 3))},
       0, 0, 3, 1, 16, 0, kUntouched},
      {"more data than asked gives exactly maxLength",
       {MakeRecord(0, 0, 1, 1, 1, Fill(256, 7))}, 0, 0, 1, 1, 100, 100, 7},
      {"less data than asked gives the data length",
       {MakeRecord(0, 0, 1, 2, 1, Fill(256, 7))}, 0, 0, 1, 2, 512, 256, 7},
      {"maxLength 0", {MakeRecord(0, 0, 1, 1, 1, Fill(16, 7))}, 0, 0, 1, 1, 0, 0, 0},
      {"R of 256 matches no record", {MakeRecord(0, 0, 0, 1, 1, Fill(16, 7))}, 0, 0, 256, 1, 16, 0, kUntouched},
      {"negative C matches no record", {MakeRecord(255, 0, 1, 1, 1, Fill(16, 7))}, -1, 0, 1, 1, 16, 0, kUntouched},
      {"N of 257 matches no record", {MakeRecord(0, 0, 1, 1, 1, Fill(16, 7))}, 0, 0, 1, 257, 16, 0, kUntouched},
      {"ID bytes of 255 match", {MakeRecord(255, 255, 255, 255, 1, Fill(16, 7))}, 255, 255, 255, 255, 16, 16, 7},
  };
  for (const MatchCase& c : cases) {
    SCOPED_TRACE(c.what);
    Load(OneTrack(c.records));
    EXPECT_EQ(Read(0, c.c, c.h, c.r, c.n, c.maxLength), c.result);
    if (c.maxLength > 0) {
      EXPECT_EQ(got[0], c.firstByte);
    }
  }
}

TEST_F(SectorAccessTest, UnusableTracksReadAsNothing) {
  Image image;
  image.tracks[0] = {MakeRecord(0, 0, 1, 1, 1, Fill(16, 1))};
  image.tracks[1] = {MakeRecord(0, 1, 1, 1, 1, Fill(16, 2))};
  image.tracks[2] = {MakeRecord(1, 0, 1, 1, 1, Fill(16, 3))};
  image.trackOffsetOverride[1] = 0;           // not recorded
  image.trackOffsetOverride[2] = 0x7FFFFFFF;  // beyond the image size
  image.trackOffsetOverride[3] = 0xFFFFF000;  // before the start of the file
  Load(image.Build());
  std::uint8_t ids[16];
  for (int track : {-1, 1, 2, 3, 4, 164, 1000}) {
    SCOPED_TRACE(track);
    EXPECT_EQ(Read(track, 0, 0, 1, 1, 16), 0);
    EXPECT_EQ(disk.ReadTrackIds(track, ids, 16), 0);
  }
  EXPECT_EQ(Read(0, 0, 0, 1, 1, 16), 16);
  disk.Open(nullptr);
  EXPECT_EQ(Read(0, 0, 0, 1, 1, 16), 0);
  EXPECT_EQ(disk.ReadTrackIds(0, ids, 16), 0);
}

TEST_F(SectorAccessTest, TrackOffsetsCountFromTheirOwnImage) {
  Image first;
  first.mediaType = 0x10;
  first.tracks[0] = {MakeRecord(0, 0, 1, 1, 1, Fill(16, 0x11))};
  Image second;
  second.tracks[0] = {MakeRecord(0, 0, 1, 1, 1, Fill(16, 0x22))};
  // A negative entry reaching back into the first image is read as it lies.
  second.trackOffsetOverride[5] = static_cast<std::uint32_t>(-static_cast<std::int32_t>(first.Build().size()) + 688);
  Load(Concat({first.Build(), second.Build()}), 1);
  EXPECT_EQ(Read(0, 0, 0, 1, 1, 16), 16);
  EXPECT_EQ(got[0], 0x22);
  EXPECT_EQ(Read(5, 0, 0, 1, 1, 16), 16);
  EXPECT_EQ(got[0], 0x11);
}

TEST_F(SectorAccessTest, AFailedSelectLeavesNoUsableTrack) {
  Image image;
  image.tracks[0] = {MakeRecord(0, 0, 1, 1, 1, Fill(16, 1))};
  Load(image.Build());
  EXPECT_FALSE(disk.Select(1));
  EXPECT_EQ(Read(0, 0, 0, 1, 1, 16), 0);
}

TEST_F(SectorAccessTest, DataLengthSkippingPastTheFileEndsTheScan) {
  Record liar = MakeRecord(0, 0, 1, 1, 3, Fill(16, 1));
  liar.dataLength = 0xFFFF;
  Load(OneTrack({liar, MakeRecord(0, 0, 2, 1, 3, Fill(16, 2))}));
  EXPECT_EQ(Read(0, 0, 0, 2, 1, 16), 0);
  std::uint8_t ids[12];
  EXPECT_EQ(disk.ReadTrackIds(0, ids, 12), 4);
}

// Only the counts the records carry end a walk, however long it goes on:
// with record i carrying i + 2 no count ever meets its index, and a sector
// far past index 65535 is still found, by ReadSector and by the batch.
TEST_F(SectorAccessTest, WalksGoOnPastTheLargestCount) {
  std::vector<Record> records;
  for (int i = 0; i < 70000; ++i) records.push_back(MakeRecord(0, 0, 1, 0, i < 65534 ? i + 2 : 1, {}));
  records.push_back(MakeRecord(0, 0, 9, 0, 1, Fill(1, 0x99)));
  Load(OneTrack(std::move(records)));
  EXPECT_EQ(Read(0, 0, 0, 9, 0, 1), 1);
  EXPECT_EQ(got[0], 0x99);
  std::uint8_t byte = 0;
  SectorRequest q{0, 0, 0, 9, 0, &byte, 1, 0};
  disk.ReadSectorBatch(&q, 1);
  EXPECT_EQ(q.result, 1);
  EXPECT_EQ(byte, 0x99);
}

// A two-track disk of 4 records a track, 128 bytes a record.
Image SmallDisk() {
  Image image;
  for (int t = 0; t < 3; ++t) {
    for (int r = 1; r <= 4; ++r) {
      image.tracks[t].push_back(
          MakeRecord(t >> 1, t & 1, r, 0, 4, Fill(128, static_cast<std::uint8_t>(t * 16 + r))));
    }
  }
  return image;
}

Bytes ExpectedRun(int fromTrack, int fromR, std::size_t length) {
  Bytes b;
  for (int t = fromTrack, r = fromR; b.size() < length; ++r) {
    if (r > 4) { r = 1; ++t; }
    Bytes s = Fill(128, static_cast<std::uint8_t>(t * 16 + r));
    b.insert(b.end(), s.begin(), s.end());
  }
  b.resize(length);
  return b;
}

TEST_F(SectorAccessTest, RunsCrossFromHeadZeroToHeadOneToTheNextCylinder) {
  Load(SmallDisk().Build());
  disk.SetSectorRange(1, 4);
  Bytes buffer(128 * 7, kUntouched);
  // From track 0 sector 3: 3, 4, then (0,1) 1-4 on track 1, then (1,0) 1.
  EXPECT_EQ(disk.ReadSectors(0, 0, 0, 3, 0, buffer.data(), 128 * 7), 128 * 7);
  EXPECT_BYTES_EQ(ExpectedRun(0, 3, 128 * 7), buffer);
}

TEST_F(SectorAccessTest, RunsCountTheRemainderOfAnUnevenLength) {
  Load(SmallDisk().Build());
  disk.SetSectorRange(1, 4);
  Bytes buffer(300, kUntouched);
  EXPECT_EQ(disk.ReadSectors(0, 0, 0, 1, 0, buffer.data(), 300), 300);
  EXPECT_BYTES_EQ(ExpectedRun(0, 1, 300), buffer);
}

TEST_F(SectorAccessTest, RunsStopAtTheFirstMissingOrShortSector) {
  Image image = SmallDisk();
  image.tracks[0][2] = MakeRecord(0, 0, 3, 0, 4, Fill(64, 0x77));  // short sector 3
  Load(image.Build());
  disk.SetSectorRange(1, 4);
  Bytes buffer(128 * 4, kUntouched);
  EXPECT_EQ(disk.ReadSectors(0, 0, 0, 1, 0, buffer.data(), 128 * 4), 256);
  // The short sector's bytes are in the buffer, but not counted.
  EXPECT_EQ(buffer[256], 0x77);
  EXPECT_EQ(buffer[256 + 64], kUntouched);
  // Past the last track the run ends where nothing is found.
  EXPECT_EQ(disk.ReadSectors(2, 1, 0, 3, 0, buffer.data(), 128 * 4), 256);
}

TEST_F(SectorAccessTest, RunsAboveTheLastSectorStayOnTheirTrack) {
  Image image;
  for (int r = 5; r <= 7; ++r) image.tracks[0].push_back(MakeRecord(0, 0, r, 0, 3, Fill(128, static_cast<std::uint8_t>(r))));
  Load(image.Build());
  disk.SetSectorRange(1, 4);
  Bytes buffer(128 * 5, kUntouched);
  EXPECT_EQ(disk.ReadSectors(0, 0, 0, 5, 0, buffer.data(), 128 * 5), 128 * 3);
  EXPECT_EQ(buffer[256], 7);
}

TEST_F(SectorAccessTest, TheSectorRangeHoldsFromBeforeOpenAndDefaultsToSixteen) {
  DiskImage fresh;
  fresh.SetSectorRange(1, 2);
  Image image = SmallDisk();
  const std::string path = dir.File("small.d88");
  ASSERT_TRUE(WriteFileBytes(path, image.Build()));
  ASSERT_TRUE(fresh.Open(path.c_str()));
  ASSERT_TRUE(fresh.Select(0));
  Bytes buffer(128 * 3, kUntouched);
  EXPECT_EQ(fresh.ReadSectors(0, 0, 0, 1, 0, buffer.data(), 128 * 3), 128 * 3);
  EXPECT_EQ(buffer[256], 1 * 16 + 1);  // after sector 2: track 1 sector 1
  // With the default range 1..16 a 4-sector track ends the run at sector 5.
  Load(image.Build());
  EXPECT_EQ(disk.ReadSectors(0, 0, 0, 1, 0, buffer.data(), 128 * 3), 128 * 3);
  Bytes five(128 * 5);
  EXPECT_EQ(disk.ReadSectors(0, 0, 0, 1, 0, five.data(), 128 * 5), 128 * 4);
}

TEST_F(SectorAccessTest, RunsWithSizeCodesOutsideTheShiftRange) {
  Load(OneTrack({MakeRecord(0, 0, 1, 30, 1, Fill(64, 9))}));
  Bytes buffer(64, kUntouched);
  // N = 30: the nominal sector exceeds any length; only the length is asked.
  EXPECT_EQ(disk.ReadSectors(0, 0, 0, 1, 30, buffer.data(), 64), 64);
  EXPECT_EQ(disk.ReadSectors(0, 0, 0, 1, -1, buffer.data(), 64), 0);
  EXPECT_EQ(disk.ReadSectors(0, 0, 0, 1, 256, buffer.data(), 64), 0);
  EXPECT_EQ(disk.ReadSectors(0, 0, 0, 1, 30, buffer.data(), 0), 0);
}

TEST_F(SectorAccessTest, TrackIdsListRecordsInRecordedOrder) {
  std::vector<Record> nine;
  for (int r = 9; r >= 1; --r) nine.push_back(MakeRecord(2, 1, r, 2, 9, Fill(8, 0)));
  Load(OneTrack(nine));
  Bytes ids(16, kUntouched);
  EXPECT_EQ(disk.ReadTrackIds(0, ids.data(), 16), 16);
  EXPECT_BYTES_EQ((Bytes{2, 1, 9, 2, 2, 1, 8, 2, 2, 1, 7, 2, 2, 1, 6, 2}), ids);
  Bytes all(64, kUntouched);
  EXPECT_EQ(disk.ReadTrackIds(0, all.data(), 64), 36);
  EXPECT_EQ(all[36], kUntouched);
  // A length that is not a multiple of 4 writes only whole IDs.
  Bytes odd(6, kUntouched);
  EXPECT_EQ(disk.ReadTrackIds(0, odd.data(), 6), 4);
  EXPECT_EQ(odd[4], kUntouched);
}

TEST_F(SectorAccessTest, TrackIdsGoOnPastACountOfZero) {
  Load(OneTrack({MakeRecord(0, 0, 1, 1, 0, Fill(8, 0)), MakeRecord(0, 0, 2, 1, 0, Fill(8, 0)),
                 MakeRecord(0, 0, 3, 1, 3, Fill(8, 0)), MakeRecord(0, 0, 4, 1, 3, Fill(8, 0))}));
  Bytes ids(32, kUntouched);
  // Record 2 (i = 2) carries count 3 and ends the list.
  EXPECT_EQ(disk.ReadTrackIds(0, ids.data(), 32), 12);
  EXPECT_EQ(ids[8 + 2], 3);
}

// Every cut of a small container: a sector whose header lies wholly in
// the file is found, with as much of its data as the file holds; the rest
// of the buffer keeps its contents.
TEST_F(SectorAccessTest, EveryTruncationReadsWhatTheFileStillHolds) {
  const Bytes full = SmallDisk().Build();
  constexpr int kRecord = 16 + 128;
  for (std::size_t cut = 0; cut <= full.size(); ++cut) {
    SCOPED_TRACE(cut);
    const std::string path = dir.File("cut.d88");
    ASSERT_TRUE(WriteFileBytes(path, Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut))));
    ASSERT_TRUE(disk.Open(path.c_str()));
    if (cut < 688) {
      EXPECT_EQ(disk.GetImageCount(), 0);
      EXPECT_FALSE(disk.Select(0));
      continue;
    }
    ASSERT_TRUE(disk.Select(0));
    int headersWhole = 0;
    for (int t = 0; t < 3; ++t) {
      for (int r = 1; r <= 4; ++r) {
        const std::size_t header = 688 + static_cast<std::size_t>((t * 4 + r - 1) * kRecord);
        const bool found = header + 16 <= cut;
        headersWhole += found && t == 0;
        ASSERT_EQ(Read(t, t >> 1, t & 1, r, 0, 128), found ? 128 : 0) << "track " << t << " r " << r;
        if (!found) continue;
        const std::size_t inFile = cut - header - 16 < 128 ? cut - header - 16 : 128;
        Bytes expected = Fill(128, kUntouched);
        std::fill(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(inFile),
                  static_cast<std::uint8_t>(t * 16 + r));
        ASSERT_TRUE(BytesEqual("expected", "got", expected, got));
      }
    }
    Bytes ids(16);
    EXPECT_EQ(disk.ReadTrackIds(0, ids.data(), 16), 4 * headersWhole);
  }
}

}  // namespace
