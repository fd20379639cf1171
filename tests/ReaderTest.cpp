// The reader: which record a sector read finds, how a run of sectors
// steps across tracks, its window on the file, the batch against single
// reads, and what a load costs.  Which images a container holds, past
// where image 0's size field leads, is left to the checks of the fuzz
// corpus (DamageTest.cpp).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <random>

#include "diskimage/DiskImage.h"
#include "testing/CheckedRun.h"

using namespace d88test;

namespace {

class ReaderTest : public ::testing::Test {
 protected:
  // Writes bytes as the container, opens it and selects image k.
  void Load(const Bytes& bytes, int k = 0) {
    ASSERT_TRUE(WriteFileBytes(box.ContainerPath(), bytes) &&
                disk.Open(box.ContainerPath().c_str()));
    EXPECT_EQ(disk.Select(k), k < disk.GetImageCount());
  }

  d88check::Sandbox box;
  diskimage::DiskImage disk;
};

// Track 0 of image 1 (rows: track, R, N, bytes asked, result, first byte);
// image 0 is 0x2D0 bytes long, so track 6 (-0x20) points back to its record;
// track 8 starts where image 1 ends, at a record that no image holds.
TEST_F(ReaderTest, ReadSectorFindsTheFirstRecordWithTheFullId) {
  const auto sector = [](int r, int n, int count, int fill) {
    return MakeRecord(0, 0, r, n, count, Bytes(16, static_cast<std::uint8_t>(fill)));
  };
  Image second{"",
               0x10,
               {{0,
                 {sector(1, 1, 9, 1), sector(1, 1, 9, 2), sector(1, 2, 9, 3), sector(2, 1, 4, 4),
                  sector(3, 1, 9, 5)}},
                {1, {sector(1, 1, 0, 6), sector(2, 1, 3, 7)}}},
               {{4, 0}, {5, 0x7FFFFFFF}, {6, 0xFFFFFFE0}, {7, 0xFFFFF000}}};
  second.tracks[4] = second.tracks[5] = second.tracks[0];
  Bytes last = second.Build(), past = {10, 11, 12, 13, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  PutLE(last, 32 + 4 * 8, static_cast<std::uint32_t>(last.size()));
  Bytes container = Concat({Image{"", 0x10, {{0, {sector(1, 1, 1, 8)}}}, {}}.Build(), last, past});
  // Image 0's size field leads to the next image (rows: field, images): back
  // to image 0 indexes it again up to the most, before the file ends the index.
  const std::pair<std::uint32_t, int> indexes[] = {{0, 64}, {0xFFFFFFFF, 1}, {0x2D0, 2}};
  for (const auto& [field, images] : indexes) {
    PutLE(container, 28, field);
    Load(container, 1);
    EXPECT_EQ(disk.GetImageCount(), images) << field;
  }
  const int cases[][6] = {
      {0, 1, 1, 16, 16, 1},    // the first of two equal IDs
      {0, 1, 2, 32, 16, 3},    // N is part of the ID; less data than asked
      {0, 2, 1, 8, 8, 4},      // the last record within its own count; more data than asked
      {0, 3, 1, 16, 0, 0xEE},  // past the count that the record before carries
      {0, 1, 257, 16, 0, 0xEE}, {0, 1 - 256, 1, 16, 0, 0xEE},  // no record carries these
      {1, 1, 1, 16, 0, 0xEE},  // a count of 0 ends the track, even for its own ID
      {4, 1, 1, 16, 0, 0xEE},   {5, 1, 1, 16, 0, 0xEE},       {6, 1, 1, 16, 16, 8},
      {7, 1, 1, 16, 0, 0xEE},   {-1, 1, 1, 16, 0, 0xEE},      {164, 1, 1, 16, 0, 0xEE}};
  for (const auto& c : cases) {
    Bytes buffer(33, 0xEE);
    EXPECT_EQ(disk.ReadSector(c[0], 0, 0, c[1], c[2], buffer.data(), c[3]), c[4])
        << c[0] << " " << c[1] << " " << c[2];
    EXPECT_EQ(buffer[0] * 1000 + buffer[static_cast<std::size_t>(c[4])], c[5] * 1000 + 0xEE)
        << c[0] << " " << c[1];
  }
  // The IDs listed (rows: track, bytes asked, the bytes written); the
  // bytes past them stay as they were.
  const struct {
    int track, length;
    Bytes ids;
  } lists[] = {
      {1, 7, {0, 0, 1, 1}},                                       // whole IDs only
      {1, 8, {0, 0, 1, 1, 0, 0, 2, 1}},                           // past a count of 0
      {0, 24, {0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 2, 0, 0, 2, 1}},  // to the count it reaches
      {8, 8, {10, 11, 12, 13}},
      {164, 8, {}},
      {-1, 8, {}}};
  for (const auto& l : lists) {
    Bytes ids(25, 0xEE), want = ids;
    std::copy(l.ids.begin(), l.ids.end(), want.begin());
    EXPECT_EQ(disk.ReadTrackIds(l.track, ids.data(), l.length), static_cast<int>(l.ids.size()))
        << l.track << " " << l.length;
    EXPECT_TRUE(ids == want) << l.track << " " << l.length;
  }
}

// Runs go from head 0 to head 1 of the same cylinder, then to the next
// cylinder, and count a last part shorter than a sector.
TEST_F(ReaderTest, ReadSectorsStepsAcrossTracks) {
  Image image;
  for (int t = 0; t < 12; ++t)
    image.tracks[t / 4].push_back(
        MakeRecord(t / 8, t / 4 % 2, t % 4 + 1, 0, 4, Bytes(128, static_cast<std::uint8_t>(t))));
  Load(image.Build());
  disk.SetSectorRange(1, 4);
  Bytes buffer(128 * 7, 0xEE);
  EXPECT_EQ(disk.ReadSectors(0, 0, 0, 3, 0, buffer.data(), 128 * 6 + 100), 128 * 6 + 100);
  for (int k = 0; k < 7; ++k) EXPECT_EQ(buffer[static_cast<std::size_t>(128 * k)], k + 2) << k;
  EXPECT_EQ(buffer[128 * 6 + 100], 0xEE);
  EXPECT_EQ(disk.ReadSectors(2, 1, 0, 3, 0, buffer.data(), 128 * 3),
            256);  // no track after the last
  // A track may begin with another sector number: 3 and 4, then 2 of track 1.
  disk.SetSectorRange(2, 4);
  EXPECT_EQ(disk.ReadSectors(0, 0, 0, 3, 0, buffer.data(), 128 * 3), 128 * 3);
  EXPECT_EQ((std::vector<int>{buffer[0], buffer[128], buffer[256]}), (std::vector<int>{2, 3, 5}));
}

// The window, read at both ends of the file, then at random positions and
// lengths around its edges (the last read) and across them.
TEST_F(ReaderTest, TheWindowReadsTheFileAcrossItsEdges) {
  constexpr std::int64_t kWindow = diskimage::ReadWindow::kSize;
  const Bytes file = PatternBytes(static_cast<std::size_t>(5 * kWindow + 1234), 11);
  const std::int64_t size = static_cast<std::int64_t>(file.size()),
                     fixed[] = {size - 1, 0, size - 1, size, -1};
  ASSERT_TRUE(WriteFileBytes(box.ContainerPath(), file));
  std::FILE* stream = std::fopen(box.ContainerPath().c_str(), "rb");
  auto window = std::make_unique<diskimage::ReadWindow>();
  std::mt19937_64 rng(3);
  for (std::int64_t i = 0, at = 0; i < 3000; ++i) {
    const std::int64_t near = at + static_cast<std::int64_t>(rng() % (2 * kWindow)) - kWindow;
    at = i < 5       ? fixed[i]
         : rng() % 4 ? near
                     : static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(size + 16));
    const std::int64_t length =
        i < 5 ? 2 : static_cast<std::int64_t>(rng() % 3 ? rng() % 64 : rng() % (3 * kWindow));
    const std::int64_t expected =
        at < 0 ? 0 : std::max<std::int64_t>(0, std::min(length, size - at));
    Bytes got(static_cast<std::size_t>(length) + 1, 0xEE), want = got;
    ASSERT_EQ(window->ReadAt(stream, at, got.data(), length), expected) << at << " " << length;
    if (expected > 0) std::copy(file.begin() + at, file.begin() + at + expected, want.begin());
    ASSERT_TRUE(got == want) << "at " << at << ", " << length << " bytes";
  }
  std::fclose(stream);
}

#if defined(__GLIBC__)
// A stream over bytes whose first read that reaches byte failAt fails, or
// whose seeks there fail with seekError.
struct FlakyFile {
  const Bytes& bytes;
  std::int64_t failAt;
  bool readFails;
  int seekError;
  std::int64_t at = 0;

  static ssize_t Read(void* self, char* to, std::size_t size) {
    FlakyFile& f = *static_cast<FlakyFile*>(self);
    if (f.readFails && f.at <= f.failAt && f.failAt < f.at + static_cast<std::int64_t>(size)) {
      f.readFails = false;
      errno = EIO;
      return -1;
    }
    const std::size_t n =
        std::min(size, f.bytes.size() - std::min(f.bytes.size(), static_cast<std::size_t>(f.at)));
    std::copy_n(f.bytes.begin() + f.at, n, to);
    f.at += static_cast<std::int64_t>(n);
    return static_cast<ssize_t>(n);
  }
  static int Seek(void* self, off64_t* offset, int whence) {
    FlakyFile& f = *static_cast<FlakyFile*>(self);
    const std::int64_t to = whence == SEEK_SET ? *offset : f.at + *offset;
    if (whence == SEEK_END || (f.seekError != 0 && to >= f.failAt)) {
      errno = f.seekError != 0 ? f.seekError : EINVAL;
      return -1;
    }
    *offset = f.at = to;
    return 0;
  }
};

// A read or seek that fails is told apart from the end of the file, and
// no later read gives bytes until Reset; a seek the file system refuses as
// out of its reach (EINVAL) reads as past the end.  Rows: how the stretch
// from the second window on fails, the bytes each read gives, the error.
TEST_F(ReaderTest, TheWindowKeepsAReadErrorApartFromTheEnd) {
  constexpr std::int64_t kWindow = diskimage::ReadWindow::kSize;
  const Bytes file = PatternBytes(static_cast<std::size_t>(3 * kWindow + 100), 5);
  const std::int64_t reads[][2] = {
      {0, 16}, {kWindow - 8, 16}, {0, 16}, {static_cast<std::int64_t>(file.size()) - 4, 8}};
  const struct {
    bool readFails;
    int seekError;
    std::int64_t got[4];
    int error;
  } rows[] = {{false, 0, {16, 16, 16, 4}, 0},
              {true, 0, {16, 8, 0, 0}, EIO},
              {false, EIO, {16, 8, 0, 0}, EIO},
              {false, EINVAL, {16, 8, 16, 0}, 0}};
  for (const auto& row : rows) {
    FlakyFile flaky{file, kWindow, row.readFails, row.seekError};
    std::FILE* stream =
        fopencookie(&flaky, "rb", {FlakyFile::Read, nullptr, FlakyFile::Seek, nullptr});
    std::setvbuf(stream, nullptr, _IONBF, 0);
    auto window = std::make_unique<diskimage::ReadWindow>();
    for (int i = 0; i < 4; ++i) {
      Bytes got(static_cast<std::size_t>(reads[i][1]), 0xEE);
      ASSERT_EQ(window->ReadAt(stream, reads[i][0], got.data(), reads[i][1]), row.got[i]) << i;
      EXPECT_TRUE(std::equal(got.begin(), got.begin() + row.got[i], file.begin() + reads[i][0]));
    }
    EXPECT_EQ(window->Error(), row.error);
    window->Reset();
    Bytes first(16);
    EXPECT_EQ(window->ReadAt(stream, 0, first.data(), 16) + window->Error(), 16);
    std::fclose(stream);
  }
}
#endif

// Random images over a small ID alphabet, so that IDs repeat: counts of 0,
// small or anything, lengths that lie, table entries that share a start,
// point into another track (so that walks join) or anywhere, and now and
// then a cut file.  Read every way, they must agree.
TEST_F(ReaderTest, TheBatchReadsRandomTracksAsSingleReadsDo) {
  std::minstd_rand rng(20261206);
  const auto upto = [&rng](unsigned most) { return static_cast<int>(rng() % (most + 1)); };
  for (int round = 0; round < 1000; ++round) {
    Image image;
    std::vector<std::uint32_t> starts;
    for (int k = upto(40), at = 0x2B0; k > 0;
         --k, at += 16 + static_cast<int>(image.tracks[0].back().data.size())) {
      const int count = upto(7) == 0 ? 0 : 1 + upto(rng() % 2 ? 2 : 15);
      image.tracks[0].push_back(MakeRecord(upto(1), upto(1), 1 + upto(4), upto(3), count,
                                           PatternBytes(rng() % 300, rng())));
      if (rng() % 10 == 0)
        image.tracks[0].back().dataLength = static_cast<std::uint16_t>(rng() % 400);
      starts.push_back(static_cast<std::uint32_t>(at));
    }
    for (int t = 0; t < 10; ++t) {
      const std::uint32_t anywhere[] = {0, 0x2B0, 0x7FFFFFFF, 0xFFFFFFF0,
                                        static_cast<std::uint32_t>(rng() % 4000)};
      image.trackOffsetOverride[t] =
          !starts.empty() && rng() % 3 ? starts[rng() % starts.size()] : anywhere[rng() % 5];
    }
    Bytes bytes = image.Build();
    bytes.resize(rng() % 4 ? bytes.size() : rng() % (bytes.size() + 1));
    ASSERT_TRUE(WriteFileBytes(box.ContainerPath(), bytes));
    ASSERT_EQ(d88check::CheckReader(box.ContainerPath()), "") << "round " << round;
  }
}

// Returns the bytes this process has read from files so far, or -1 where
// the system does not count them.
long long BytesReadSoFar() {
  std::ifstream io("/proc/self/io");
  std::string field;
  long long value = -1;
  while (io >> field >> value && field != "rchar:") value = -1;
  return field == "rchar:" ? value : -1;
}

// One run of 3 MiB that every track enters (at its start, or each track
// one record further on, at a record whose count ends no walk), whose
// counts never end a walk and whose IDs match nothing but its last
// record's, past record 65535.  Loaded one walk per sector it would be
// read 1,232 times over; the whole tool reads it a few times at most
// (each directory sector on its own).  Where the system does not count
// the bytes read, only the last sector is looked for, by ReadSector and
// by the batch.
TEST_F(ReaderTest, ALongSharedRunIsReadAFewTimesAtMost) {
  for (const std::uint32_t step : {0, 16}) {
    Image image{"",
                0x20,
                {{0, std::vector<Record>(200000, MakeRecord(0xFF, 0xFF, 0xFF, 0xFF, 1, {}))}},
                {}};
    for (int t = 0; t < 164; ++t) image.tracks[0][static_cast<std::size_t>(t)].sectorCount = 0xFFFF;
    image.tracks[0].back() = MakeRecord(0, 0, 9, 1, 1, {0x99});
    for (int t = 1; t < 164; ++t)
      image.trackOffsetOverride[t] = 0x2B0 + step * static_cast<std::uint32_t>(t);
    const Bytes container = image.Build();
    const long long before = BytesReadSoFar();
    EXPECT_EQ(box.Run(container.data(), container.size(), false).out, "MEDIA TYPE=2HD\n");
    EXPECT_LE(before < 0 ? 0 : BytesReadSoFar() - before,
              4 * static_cast<long long>(container.size()))
        << step;
    Load(container);
    std::uint8_t single = 0, batched = 0;
    diskimage::SectorRequest request{0, 0, 0, 9, 1, &batched, 1, 0};
    disk.ReadSectorBatch(&request, 1);
    EXPECT_EQ(disk.ReadSector(0, 0, 0, 9, 1, &single, 1) * single + request.result * batched,
              2 * 0x99);
  }
}

}  // namespace
