// The fuzzer's entry: each input is a container.  It goes through the whole
// tool in a sandbox (testing/CheckedRun.h), then through the reader's own
// calls: every image selected, and every track of the first two and the
// last read with the sector sizes and ranges of both media.  A broken rule
// aborts, which libFuzzer reports as a crash; the sanitizers catch the
// rest.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "diskimage/DiskImage.h"
#include "testing/CheckedRun.h"
#include "tool/MediaGeometry.h"

namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "d88fuzz: %s\n", what.c_str());
  std::abort();
}

// Tracks 0..163 and a few indexes that no table has.
std::vector<int> TracksToVisit() {
  std::vector<int> tracks = {INT_MIN, -1, d88::kTrackCount, d88::kTrackCount + 1, INT_MAX};
  for (int t = 0; t < d88::kTrackCount; ++t) tracks.push_back(t);
  return tracks;
}

// Buffers exactly as long as the reader is told, so AddressSanitizer sees
// any write past them: an ID list that is not a whole number of IDs, and a
// run of a track and one sector of geometry g, which crosses into the next
// track.
struct Buffers {
  explicit Buffers(const MediaGeometry& g)
      : geometry(g), ids(4 * 40 + 3), run(static_cast<std::size_t>((g.sectorsPerTrack + 1) * g.sectorBytes)) {}
  const MediaGeometry& geometry;
  std::vector<std::uint8_t> ids;
  std::vector<std::uint8_t> run;
};

// ID lists and runs of sectors on every track of the current image, as a
// reader of a disk of the buffers' geometry would ask for them.
void VisitTracks(DiskImage& disk, Buffers& b) {
  static const std::vector<int> tracks = TracksToVisit();
  const MediaGeometry& g = b.geometry;
  const int idLength = static_cast<int>(b.ids.size());
  const int runLength = static_cast<int>(b.run.size());
  disk.SetSectorRange(1, g.sectorsPerTrack);
  for (int t : tracks) {
    const int idBytes = disk.ReadTrackIds(t, b.ids.data(), idLength);
    if (idBytes < 0 || idBytes > idLength || idBytes % 4 != 0) {
      Fail("ReadTrackIds returned " + std::to_string(idBytes));
    }
    const int runBytes = disk.ReadSectors(t, t >> 1, t & 1, 1, g.sizeCode, b.run.data(), runLength);
    if (runBytes < 0 || runBytes > runLength) Fail("ReadSectors returned " + std::to_string(runBytes));
  }
}

// Selects every image of the container and sweeps the tracks of the first
// two and the last: the images between are indexed the same way, and
// sweeping up to 64 of them would slow every input down.
void VisitImages(const std::string& path) {
  static DiskImage disk;
  Buffers media[] = {Buffers(*FindMediaGeometry(0x10)), Buffers(*FindMediaGeometry(0x20))};
  if (!disk.Open(path.c_str())) Fail("the reader cannot open the container");
  const int images = disk.GetImageCount();
  if (images < 0 || images > d88::kMaxImages) Fail("image count " + std::to_string(images));
  for (int k = -1; k <= images; ++k) {
    const bool selected = disk.Select(k);
    if (selected != (k >= 0 && k < images)) Fail("Select(" + std::to_string(k) + ")");
    if (std::strlen(disk.GetName()) > static_cast<std::size_t>(d88::kNameSize)) Fail("name too long");
    const int type = disk.GetMediaType();
    if (selected ? type < 0 || type > 255 : type != -1) Fail("media type " + std::to_string(type));
    if (selected && (k < 2 || k == images - 1)) {
      for (Buffers& b : media) VisitTracks(disk, b);
    }
  }
  disk.Open(nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static d88check::Sandbox sandbox;
  const d88check::RunReport report = sandbox.Run(data, size, false);
  if (!report.fault.empty()) Fail(report.fault);
  VisitImages(sandbox.ContainerPath());
  return 0;
}
