// The containers the benchmark runs the tool on.
#ifndef D88EXTRACT_BENCH_BENCHINPUTS_H
#define D88EXTRACT_BENCH_BENCHINPUTS_H

#include <cstddef>

#include "testing/D88Builder.h"

namespace bench {

// Files on the six-file disk, and the size of each.
constexpr int kSixFiles = 6;
constexpr int kSixFileBytes = 200000;

// A well-formed 2HD disk holding six files of 200,000 bytes.
d88test::Bytes SixFileDisk();

// A full PC-98 FAT12 disk (77 x 2 x 8 x 1024) holding six files of
// 200,000 bytes, the same data as the six-file disk's; or the first files
// of them, leaving room.
d88test::Bytes SixFileFatDisk(int files = kSixFiles);

// A 2HD container of about totalBytes whose every track leads into one
// long run of empty records that match no sector and whose counts never
// end the scan: each sector read walks the whole run.  With distinctStarts
// each track enters the run one record further on, so that no two tracks
// share a walk.
d88test::Bytes CraftedLongRun(std::size_t totalBytes, bool distinctStarts = false);

}  // namespace bench

#endif
