#include "bench/BenchInputs.h"

#include <string>

#include "testing/FatBuilder.h"

using namespace d88test;

namespace bench {

namespace {

// File i of the six.
Bytes SixFileData(int i) {
  Bytes data(static_cast<std::size_t>(kSixFileBytes));
  for (std::size_t j = 0; j < data.size(); ++j)
    data[j] = static_cast<std::uint8_t>(j * 7 + static_cast<std::size_t>(i));
  return data;
}

}  // namespace

Bytes SixFileDisk() {
  DiskBuilder disk(k2HD);
  for (int i = 0; i < kSixFiles; ++i) disk.AddFile("FIL" + std::to_string(i), SixFileData(i));
  return disk.Build().Build();
}

Bytes SixFileFatDisk(int files) {
  FatBuilder disk(kFatPc98);
  for (int i = 0; i < files; ++i)
    disk.AddFile(FatBuilder::kRoot, "FILE" + std::to_string(i) + ".BIN", SixFileData(i));
  return disk.Build().Build();
}

Bytes CraftedLongRun(std::size_t totalBytes, bool distinctStarts) {
  Image image;
  image.mediaType = 0x20;
  std::vector<Record>& run = image.tracks[0];
  const std::size_t records = (totalBytes - 0x2B0) / 16;
  run.reserve(records);
  for (std::size_t i = 0; i < records; ++i) {
    // Count 2 on the first record, 1 on the rest: "index == count - 1" is
    // never true, so only the end of the file stops the scan.  Where every
    // track has a start of its own, the starts carry the largest count, so
    // that a walk from an earlier start passes them too.
    const int count = distinctStarts ? (i < 164 ? 0xFFFF : 1) : (i == 0 ? 2 : 1);
    run.push_back(MakeRecord(0xFF, 0xFF, 0xFF, 0xFF, count, {}));
  }
  for (int t = 1; t < 164; ++t)
    image.trackOffsetOverride[t] = 0x2B0 + (distinctStarts ? 16u * static_cast<unsigned>(t) : 0u);
  return image.Build();
}

}  // namespace bench
