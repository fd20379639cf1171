// The batch read against one ReadSector per request: on random and crafted
// tracks both must give the same results and leave the same bytes.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "diskimage/DiskImage.h"
#include "tests/support/TestSupport.h"

using namespace d88test;

namespace {

// A small ID alphabet, so that tracks repeat IDs and requests hit them.
int SmallIdPart(std::minstd_rand& rng, int most) { return static_cast<int>(rng() % static_cast<unsigned>(most + 1)); }

Record RandomRecord(std::minstd_rand& rng) {
  Record rec = MakeRecord(SmallIdPart(rng, 1), SmallIdPart(rng, 1), 1 + SmallIdPart(rng, 4), SmallIdPart(rng, 1),
                          0, PatternBytes(rng() % 300, rng()));
  const unsigned countKind = rng() % 8;
  rec.sectorCount = static_cast<std::uint16_t>(countKind == 0 ? 0 : countKind < 4 ? 1 + rng() % 3 : rng() % 16);
  if (rng() % 10 == 0) rec.dataLength = static_cast<std::uint16_t>(rng() % 400);  // a length that lies
  return rec;
}

// Returns the offsets (from the image start) at which image's records lie.
std::vector<std::uint32_t> RecordOffsets(const Image& image) {
  std::vector<std::uint32_t> offsets;
  std::uint32_t at = 0x2B0;
  for (const auto& [track, records] : image.tracks) {
    for (const Record& rec : records) {
      offsets.push_back(at);
      at += static_cast<std::uint32_t>(16 + rec.data.size());
    }
  }
  return offsets;
}

// A random image: a few tracks, table entries that share a start, point
// into the middle of another track (so that walks join), lie or point
// anywhere, and now and then a cut file.
Bytes RandomContainer(std::minstd_rand& rng) {
  Image image;
  const int tracks = static_cast<int>(rng() % 6);
  for (int i = 0; i < tracks; ++i) {
    std::vector<Record>& records = image.tracks[static_cast<int>(rng() % 8)];
    const int n = static_cast<int>(rng() % 12);
    for (int k = 0; k < n; ++k) records.push_back(RandomRecord(rng));
  }
  const std::vector<std::uint32_t> inside = RecordOffsets(image);
  for (int i = 0; i < 4; ++i) {
    const std::uint32_t anywhere[] = {0, 0x2B0, 0x7FFFFFFF, 0xFFFFFFF0, static_cast<std::uint32_t>(rng() % 4000)};
    const bool join = !inside.empty() && rng() % 3 != 0;
    image.trackOffsetOverride[static_cast<int>(rng() % 10)] = join ? inside[rng() % inside.size()] : anywhere[rng() % 5];
  }
  Bytes bytes = image.Build();
  if (rng() % 4 == 0) bytes.resize(rng() % (bytes.size() + 1));
  return bytes;
}

SectorRequest RandomRequest(std::minstd_rand& rng) {
  SectorRequest q{};
  q.track = rng() % 10 == 0 ? static_cast<int>(rng() % 400) - 200 : static_cast<int>(rng() % 10);
  q.c = SmallIdPart(rng, 1);
  q.h = SmallIdPart(rng, 1);
  q.r = 1 + SmallIdPart(rng, 4);
  q.n = rng() % 20 == 0 ? 256 : SmallIdPart(rng, 1);
  if (rng() % 20 == 0) q.c = -1;
  q.maxLength = static_cast<int>(rng() % 10 == 0 ? 0 : rng() % 400);
  return q;
}

// The requests of a whole 2HD load: every sector of tracks 0-153.
std::vector<SectorRequest> WholeDiskLoad() {
  std::vector<SectorRequest> requests;
  for (int t = 0; t < 154; ++t) {
    for (int r = 1; r <= 8; ++r) requests.push_back(SectorRequest{t, t >> 1, t & 1, r, 3, nullptr, 1024, 0});
  }
  return requests;
}

class SectorBatchTest : public ::testing::Test {
 protected:
  // Answers requests both ways on container and expects the same.
  void ExpectSameAsReadSector(const Bytes& container, std::vector<SectorRequest> requests, unsigned seed) {
    const std::string path = dir.File("batch.d88");
    ASSERT_TRUE(WriteFileBytes(path, container));
    DiskImage& one = *single;
    DiskImage& many = *batch;
    ASSERT_TRUE(one.Open(path.c_str()));
    ASSERT_TRUE(many.Open(path.c_str()));
    one.Select(0);
    many.Select(0);
    std::vector<Bytes> expected(requests.size()), got(requests.size());
    std::vector<int> results(requests.size());
    for (std::size_t i = 0; i < requests.size(); ++i) {
      const std::size_t size = static_cast<std::size_t>(requests[i].maxLength);
      expected[i] = PatternBytes(size, seed + static_cast<unsigned>(i));
      got[i] = expected[i];
      const SectorRequest& q = requests[i];
      results[i] = one.ReadSector(q.track, q.c, q.h, q.r, q.n, expected[i].data(), q.maxLength);
      requests[i].buffer = got[i].data();
    }
    many.ReadSectorBatch(requests.data(), static_cast<int>(requests.size()));
    for (std::size_t i = 0; i < requests.size(); ++i) {
      const SectorRequest& q = requests[i];
      ASSERT_EQ(q.result, results[i]) << "request " << i << " track " << q.track << " id " << q.c << "," << q.h
                                      << "," << q.r << "," << q.n;
      ASSERT_TRUE(BytesEqual("ReadSector", "ReadSectorBatch", expected[i], got[i])) << "request " << i;
    }
  }

  ScratchDir dir;
  std::unique_ptr<DiskImage> single = std::make_unique<DiskImage>();
  std::unique_ptr<DiskImage> batch = std::make_unique<DiskImage>();
};

TEST_F(SectorBatchTest, RandomTracksReadAsOneSectorAtATime) {
  std::minstd_rand rng(20261206);
  for (int round = 0; round < 1000; ++round) {
    SCOPED_TRACE(round);
    const Bytes container = RandomContainer(rng);
    std::vector<SectorRequest> requests(rng() % 200);
    for (SectorRequest& q : requests) q = RandomRequest(rng);
    ExpectSameAsReadSector(container, requests, rng());
    if (HasFatalFailure()) return;
  }
}

// The whole-disk load on a disk whose tracks all lead into one long run of
// records that match nothing, with a real sector hidden at its end.
TEST_F(SectorBatchTest, SharedLongRunReadsAsOneSectorAtATime) {
  Image image;
  std::vector<Record>& run = image.tracks[0];
  for (int i = 0; i < 3000; ++i) run.push_back(MakeRecord(0xFF, 0xFF, 0xFF, 0xFF, i == 0 ? 2 : 1, {}));
  run.push_back(MakeRecord(0, 1, 3, 3, 1, PatternBytes(1024, 9)));
  for (int t = 1; t < 164; ++t) image.trackOffsetOverride[t] = 0x2B0 + 16 * static_cast<std::uint32_t>(t % 3);
  ExpectSameAsReadSector(image.Build(), WholeDiskLoad(), 1);
}

// Every track enters one run at a start of its own; the starts carry
// counts that end the walks from some earlier starts and not others.
TEST_F(SectorBatchTest, JoiningWalksKeepTheirOwnRecordIndex) {
  Image image;
  std::vector<Record>& run = image.tracks[0];
  for (int i = 0; i < 2000; ++i) {
    const int count = i < 164 ? (i % 5 == 0 ? 0xFFFF : 3 + i % 7) : 1;
    run.push_back(MakeRecord(i % 3, i % 2, i % 9, 3, count, i % 50 == 0 ? PatternBytes(40, static_cast<unsigned>(i)) : Bytes{}));
  }
  std::uint32_t at = 0x2B0;
  for (int t = 0; t < 164; ++t) {
    image.trackOffsetOverride[t] = at;
    at += static_cast<std::uint32_t>(16 + run[static_cast<std::size_t>(t)].data.size());
  }
  std::vector<SectorRequest> requests = WholeDiskLoad();
  for (SectorRequest& q : requests) q.c = q.c % 3;  // IDs that the run holds
  ExpectSameAsReadSector(image.Build(), requests, 3);
}

// Two runs laid in the same bytes: the data of one run's records holds the
// headers of the other's, so walks from alternate tracks never meet.
TEST_F(SectorBatchTest, InterleavedRunsReadAsOneSectorAtATime) {
  Image image;
  std::vector<Record>& run = image.tracks[0];
  for (int i = 0; i < 400; ++i) {
    Record inner = MakeRecord(1, i % 2, 1 + i % 8, 3, 1, PatternBytes(0, 0));
    inner.dataLength = 16;  // skips the next header of the outer run
    run.push_back(MakeRecord(0, i % 2, 1 + i % 8, 3, i == 0 ? 2 : 1, {}));
    run.back().dataLength = 16;
    run.push_back(inner);
  }
  for (int t = 0; t < 164; ++t) image.trackOffsetOverride[t] = 0x2B0 + 16 * static_cast<std::uint32_t>(t % 2);
  std::vector<SectorRequest> requests = WholeDiskLoad();
  for (SectorRequest& q : requests) q.c = q.track % 2;
  ExpectSameAsReadSector(image.Build(), requests, 4);
}

// More requests than one group holds are taken in parts, with the same
// answers, repeated IDs included.
TEST_F(SectorBatchTest, BatchesLargerThanOneGroup) {
  Image image;
  for (int t = 0; t < 4; ++t) {
    for (int r = 1; r <= 16; ++r) image.tracks[t].push_back(MakeRecord(t >> 1, t & 1, r, 1, 16, PatternBytes(256, static_cast<unsigned>(t * 16 + r))));
  }
  std::minstd_rand rng(7);
  std::vector<SectorRequest> requests;
  for (int i = 0; i < 5000; ++i) {
    const int t = static_cast<int>(rng() % 5);
    requests.push_back(SectorRequest{t, t >> 1, t & 1, 1 + static_cast<int>(rng() % 17), 1, nullptr, 256, 0});
  }
  ExpectSameAsReadSector(image.Build(), requests, 2);
}

}  // namespace
