// Sector-level operations of DiskImage.
//
// A sector is found by walking its track's records from the first and
// comparing each record's full ID (C, H, R, N); its position in the track
// means nothing, so tracks with IDs out of order, repeated or foreign read
// as recorded.  A walk ends at a match, at a header that cannot be read in
// full, or when the record index reaches the count that the record itself
// carries; it is not bounded by the image size or the next track.
#include <cstdint>

#include "diskimage/DiskImage.h"
#include "diskimage/RecordHeader.h"

namespace diskimage {

std::int64_t DiskImage::TrackStart(int track) const {
  if (file == nullptr || track < 0 || track >= kTrackCount) return -1;
  const std::int32_t offset = trackOffsets[track];
  if (offset == 0 || offset > trackLimit) return -1;
  if (headerLength > 0 &&
      (offset < headerLength || kTrackTableOffset + (track + 1) * kTrackEntrySize > headerLength))
    return -1;
  const std::int64_t position = static_cast<std::int64_t>(imageOffset) + offset;
  return position >= 0 ? position : -1;
}

int DiskImage::ReadSector(int track, int c, int h, int r, int n, std::uint8_t* buffer,
                          int maxLength) {
  std::int64_t position = TrackStart(track);
  if (position < 0) return 0;
  for (std::int64_t i = 0;; ++i) {
    RecordHeader record;
    if (!ReadRecordHeader(window, file, position, &record)) return 0;
    // A count of 0 ends the track before its own ID is looked at.
    if (record.sectorCount == 0) return 0;
    if (record.id[0] == c && record.id[1] == h && record.id[2] == r && record.id[3] == n) {
      const int length = record.dataLength < maxLength ? record.dataLength : maxLength;
      if (length <= 0) return 0;
      // A file that ends inside the data is not reported: the caller gets
      // the recorded length, and the unreached bytes stay as they were.
      window.ReadAt(file, record.dataPosition, buffer, length);
      return length;
    }
    position = record.NextPosition();
    if (i == record.sectorCount - 1) return 0;
  }
}

int DiskImage::ReadSectors(int track, int c, int h, int r, int n, std::uint8_t* buffer,
                           int length) {
  // A size code outside 0..255 matches no record; above 23 the nominal
  // sector is larger than any length, so only the remainder is asked for.
  if (n < 0 || n > 255) return 0;
  const int nominal = n <= 23 ? (128 << n) : INT32_MAX;
  int sum = 0;
  while (sum < length) {
    const int chunk = length - sum < nominal ? length - sum : nominal;
    if (ReadSector(track, c, h, r, n, buffer + sum, chunk) < chunk) return sum;
    sum += chunk;
    // The read matched, so track < 164 and c, r are byte values: none of
    // the increments below can overflow.
    if (r == lastSector) {
      ++track;
      if (h == 0) {
        h = 1;
      } else {
        h = 0;
        ++c;
      }
      r = firstSector;
    } else {
      ++r;
    }
  }
  return sum;
}

int DiskImage::ReadTrackIds(int track, std::uint8_t* buffer, int length) {
  std::int64_t position = TrackStart(track);
  if (position < 0) return 0;
  int written = 0;
  // Whole IDs only: a length that is not a multiple of 4 never overruns.
  for (std::int64_t i = 0; written + 4 <= length; ++i) {
    RecordHeader record;
    if (!ReadRecordHeader(window, file, position, &record)) break;
    for (int b = 0; b < 4; ++b) buffer[written + b] = record.id[b];
    written += 4;
    position = record.NextPosition();
    if (i == record.sectorCount - 1) break;
  }
  return written;
}

void DiskImage::ReadSectorBatch(SectorRequest* requests, int count, RecordFacts* facts) {
  std::int64_t trackStarts[kTrackCount];
  for (int t = 0; t < kTrackCount; ++t) trackStarts[t] = TrackStart(t);
  batch.Answer(file, window, trackStarts, requests, count, facts);
}

}  // namespace diskimage
