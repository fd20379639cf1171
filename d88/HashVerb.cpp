// d88 hash: each image as the bytes of a standalone file, and its sector
// data as a disk, whatever its header and the order of its records.
#include <cerrno>
#include <cstring>

#include "d88/D88.h"
#include "d88/HeaderVerbs.h"
#include "edit/Edit.h"
#include "survey/ImageHashes.h"
#include "survey/Survey.h"
#include "views/JsonWriter.h"
#include "views/SurveyJson.h"

namespace d88 {

namespace {

// Hashes every image of the container at path; false after the message
// when it cannot be read.
bool HashContainer(diskimage::DiskImage& disk, const char* path, views::JsonWriter* json,
                   output::Sink& out, output::Sink& err) {
  const bool opened = edit::OpenContainerFile(disk, path);
  int error = errno;
  const int images = opened && disk.GetReadError() == 0 ? survey::CountImages(disk) : 0;
  bool read = images > 0;
  if (json != nullptr && read) {
    json->Begin(nullptr, '{');
    json->String("container", path);
    json->Begin("images", '[');
  }
  for (int k = 0; k < images && read; ++k) {
    survey::ImageSummary image;
    survey::ImageHashes hashes;
    read = survey::HashImage(disk, k, &image, &hashes);
    error = disk.GetReadError() != 0 ? disk.GetReadError() : errno != 0 ? errno : EIO;
    if (!read) break;
    if (json != nullptr) {
      json->Begin(nullptr, '{');
      views::WriteHashFields(*json, image, hashes);
      json->End();
      continue;
    }
    out.Escaped(path);
    out.Printf(" #%d  size %lld  crc32 %s  sha1 %s  content %s\n", k,
               static_cast<long long>(hashes.size), hashes.crc32, hashes.sha1, hashes.content);
  }
  if (json != nullptr && images > 0) {
    json->End();
    json->End();
  }
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
