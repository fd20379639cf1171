// The hashes of one image: its bytes as a standalone container, and its
// sector data as a disk, whatever its header and the order of its records.
// d88 hash prints them and the page shows them, from this one reading.
#ifndef D88EXTRACT_SURVEY_IMAGEHASHES_H
#define D88EXTRACT_SURVEY_IMAGEHASHES_H

#include <cstdint>

#include "digest/Digest.h"
#include "diskimage/DiskImage.h"
#include "survey/Survey.h"

namespace survey {

struct ImageHashes {
  std::int64_t offset;                  // where the image starts in the container
  std::int64_t size;                    // its bytes the container holds from there
  char crc32[9];                        // CRC-32 of those bytes: 8 lowercase hex digits
  char sha1[digest::kSha1HexBytes];     // SHA-1 of those bytes
  char content[digest::kSha1HexBytes];  // SHA-1 of the sector data in order of C, H, R, N
};

// Makes image k of disk current, fills summary as SummarizeImage does and
// hashes the image.  False when there is no image k or a read failed
// (disk.GetReadError() says why).
bool HashImage(diskimage::DiskImage& disk, int k, ImageSummary* summary, ImageHashes* hashes);

}  // namespace survey

#endif
