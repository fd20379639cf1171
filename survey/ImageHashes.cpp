#include "survey/ImageHashes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace survey {

namespace {

// One record whose data the content hash takes.
struct SectorKey {
  std::uint8_t id[4];     // C, H, R, N
  std::int32_t order;     // its place in the walk of the image's tracks
  std::int64_t position;  // file position of its header
  std::int32_t dataLength;
};

SectorKey sectors[diskimage::kTrackCount * diskimage::kMaxTrackRecords];
std::uint8_t chunk[1 << 16];

// Feeds length bytes of the container from position to crc (when given)
// and sha; false when a read fails.  The end of the file ends them early.
bool Feed(diskimage::DiskImage& disk, std::int64_t position, std::int64_t length,
          digest::Crc32* crc, digest::Sha1& sha) {
  while (length > 0) {
    const std::int64_t want = std::min<std::int64_t>(length, sizeof chunk);
    const std::int64_t got = disk.ReadBytes(position, chunk, want);
    if (crc != nullptr) crc->Update(chunk, static_cast<std::size_t>(got));
    sha.Update(chunk, static_cast<std::size_t>(got));
    if (got < want) break;
    position += got;
    length -= got;
  }
  return disk.GetReadError() == 0;
}

void FinishHex(digest::Sha1& sha, char (&hex)[digest::kSha1HexBytes]) {
  std::uint8_t digestBytes[digest::kSha1Bytes];
  sha.Finish(digestBytes);
  digest::ToHex(digestBytes, hex);
}

// Hashes the data of the current image's records in the order of their
// IDs (C, H, R, then N); records with one ID in their recorded order.
bool HashContent(diskimage::DiskImage& disk, char (&hex)[digest::kSha1HexBytes]) {
  int count = 0;
  diskimage::TrackRecord records[diskimage::kMaxTrackRecords];
  for (int t = 0; t < diskimage::kTrackCount; ++t) {
    const int listed = disk.ReadTrackRecords(t, records, diskimage::kMaxTrackRecords);
    for (int i = 0; i < listed; ++i, ++count) {
      sectors[count] =
          SectorKey{{records[i].id[0], records[i].id[1], records[i].id[2], records[i].id[3]},
                    count,
                    records[i].position,
                    records[i].dataLength};
    }
  }
  std::sort(sectors, sectors + count, [](const SectorKey& a, const SectorKey& b) {
    const int order = std::memcmp(a.id, b.id, sizeof a.id);
    return order != 0 ? order < 0 : a.order < b.order;
  });
  digest::Sha1 sha;
  for (int i = 0; i < count; ++i) {
    if (!Feed(disk, sectors[i].position + diskimage::kSectorHeaderSize, sectors[i].dataLength,
              nullptr, sha))
      return false;
  }
  FinishHex(sha, hex);
  return true;
}

}  // namespace

bool HashImage(diskimage::DiskImage& disk, int k, ImageSummary* summary, ImageHashes* hashes) {
  if (!disk.Select(k)) return false;
  SummarizeImage(disk, k, summary);
  hashes->offset = disk.GetImageOffset();
  hashes->size = summary->bytesInFile;
  digest::Crc32 crc;
  digest::Sha1 sha;
  if (!Feed(disk, hashes->offset, hashes->size, &crc, sha)) return false;
  std::snprintf(hashes->crc32, sizeof hashes->crc32, "%08lx",
                static_cast<unsigned long>(crc.Value()));
  FinishHex(sha, hashes->sha1);
  return HashContent(disk, hashes->content) && disk.GetReadError() == 0;
}

}  // namespace survey
