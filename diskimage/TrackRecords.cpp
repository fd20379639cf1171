// Listing a track's records: their IDs and the counts they carry.
#include <cstdint>

#include "diskimage/DiskImage.h"
#include "diskimage/RecordHeader.h"

namespace diskimage {

int DiskImage::ReadTrackRecords(int track, TrackRecord* records, int maxRecords) {
  std::int64_t position = TrackStart(track);
  if (position < 0) return 0;
  const int limit = maxRecords < kMaxTrackRecords ? maxRecords : kMaxTrackRecords;
  int listed = 0;
  // The walk ends where ReadTrackIds' ends, or at the bound.
  while (listed < limit) {
    RecordHeader header;
    if (!ReadRecordHeader(window, file, position, &header)) break;
    TrackRecord& record = records[listed];
    for (int b = 0; b < 4; ++b) record.id[b] = header.id[b];
    record.sectorCount = header.sectorCount;
    record.position = position;
    record.dataLength = header.dataLength;
    position = header.NextPosition();
    if (listed++ == header.sectorCount - 1) break;
  }
  return listed;
}

}  // namespace diskimage
