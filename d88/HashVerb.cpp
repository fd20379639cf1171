// d88 hash: each image as the bytes of a standalone file, and its sector
// data as a disk, whatever its header and the order of its records.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "d88/D88.h"
#include "d88/HeaderVerbs.h"
#include "digest/Digest.h"
#include "edit/Edit.h"
#include "platform/Platform.h"
#include "survey/Survey.h"
#include "views/JsonWriter.h"
#include "views/SurveyJson.h"

namespace d88 {

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

// What hash tells of one image.
struct ImageHashes {
  std::int64_t size;
  std::uint32_t crc32;
  char sha1[digest::kSha1HexBytes];
  char content[digest::kSha1HexBytes];
};

// Feeds length bytes of file from position to crc (when given) and sha;
// false when a read fails.  The end of the file ends them early.
bool Feed(std::FILE* file, std::int64_t position, std::int64_t length, digest::Crc32* crc,
          digest::Sha1& sha) {
  if (length <= 0) return true;
  if (!platform::SeekStream(file, position)) return false;
  while (length > 0) {
    const std::size_t want = length < static_cast<std::int64_t>(sizeof chunk)
                                 ? static_cast<std::size_t>(length)
                                 : sizeof chunk;
    const std::size_t got = std::fread(chunk, 1, want, file);
    if (crc != nullptr) crc->Update(chunk, got);
    sha.Update(chunk, got);
    if (got < want) return std::ferror(file) == 0;
    length -= static_cast<std::int64_t>(got);
  }
  return true;
}

// Hashes the data of the current image's records in the order of their
// IDs (C, H, R, then N); records with one ID in their recorded order.
bool HashContent(diskimage::DiskImage& disk, std::FILE* file, char (&hex)[digest::kSha1HexBytes]) {
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
    if (!Feed(file, sectors[i].position + diskimage::kSectorHeaderSize, sectors[i].dataLength,
              nullptr, sha))
      return false;
  }
  std::uint8_t digestBytes[digest::kSha1Bytes];
  sha.Finish(digestBytes);
  digest::ToHex(digestBytes, hex);
  return true;
}

// Hashes image k of disk, whose container file also reads; false when a
// read fails.
bool HashImage(diskimage::DiskImage& disk, std::FILE* file, int k, survey::ImageSummary* image,
               ImageHashes* hashes) {
  if (!disk.Select(k)) return false;
  survey::SummarizeImage(disk, k, image);
  hashes->size = image->bytesInFile;
  digest::Crc32 crc;
  digest::Sha1 sha;
  if (!Feed(file, disk.GetImageOffset(), image->bytesInFile, &crc, sha)) return false;
  hashes->crc32 = crc.Value();
  std::uint8_t digestBytes[digest::kSha1Bytes];
  sha.Finish(digestBytes);
  digest::ToHex(digestBytes, hashes->sha1);
  return HashContent(disk, file, hashes->content) && disk.GetReadError() == 0;
}

void WriteHashJson(views::JsonWriter& json, const survey::ImageSummary& image,
                   const ImageHashes& hashes) {
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08lx", static_cast<unsigned long>(hashes.crc32));
  json.Begin(nullptr, '{');
  json.Int("index", image.index);
  views::WriteNameJson(json, "name", image.name);
  json.Int("size", hashes.size);
  json.String("crc32", crc);
  json.String("sha1", hashes.sha1);
  json.String("content", hashes.content);
  json.End();
}

// Hashes every image of the container at path; false after the message
// when it cannot be read.
bool HashContainer(diskimage::DiskImage& disk, const char* path, views::JsonWriter* json,
                   output::Sink& out, output::Sink& err) {
  std::FILE* file =
      edit::OpenContainerFile(disk, path) ? platform::OpenStream(path, "rb") : nullptr;
  int error = errno;
  const int images = file != nullptr && disk.GetReadError() == 0 ? survey::CountImages(disk) : 0;
  bool read = images > 0;
  if (json != nullptr && read) {
    json->Begin(nullptr, '{');
    json->String("container", path);
    json->Begin("images", '[');
  }
  for (int k = 0; k < images && read; ++k) {
    survey::ImageSummary image;
    ImageHashes hashes;
    read = HashImage(disk, file, k, &image, &hashes);
    error = disk.GetReadError() != 0 ? disk.GetReadError() : errno != 0 ? errno : EIO;
    if (!read) break;
    if (json != nullptr) {
      WriteHashJson(*json, image, hashes);
      continue;
    }
    out.Escaped(path);
    out.Printf(" #%d  size %lld  crc32 %08lx  sha1 %s  content %s\n", k,
               static_cast<long long>(hashes.size), static_cast<unsigned long>(hashes.crc32),
               hashes.sha1, hashes.content);
  }
  if (json != nullptr && images > 0) {
    json->End();
    json->End();
  }
  const bool opened = file != nullptr;
  if (opened) std::fclose(file);
  const int readError = disk.GetReadError();
  disk.Open(nullptr);
  if (read) return true;
  err.Puts("d88: ");
  if (opened && readError == 0 && images == 0) {
    err.Escaped(path);
    err.Puts(" holds no disk image\n");
    return false;
  }
  err.Puts(opened ? "cannot read " : "cannot open ");
  err.Escaped(path);
  err.Printf(": %s\n", std::strerror(readError != 0 ? readError : error != 0 ? error : EIO));
  return false;
}

}  // namespace

int RunHash(diskimage::DiskImage& disk, const Options& options, output::Sink& out,
            output::Sink& err) {
  // Several containers: one JSON document a line.
  views::JsonWriter json(out, options.pathCount > 1);
  int status = kExitSuccess;
  int index = 2;
  for (const char* path; (path = NextPath(options, &index)) != nullptr;) {
    errno = 0;
    if (!HashContainer(disk, path, options.json ? &json : nullptr, out, err)) status = kExitFailure;
  }
  return json.Broken() ? kExitFailure : status;
}

}  // namespace d88
