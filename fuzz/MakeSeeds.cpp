// Writes the fuzzer's seed containers into the directory given as the
// argument.  Each is small (only the tracks its files use are recorded) and
// shows the fuzzer one part of the layout it might not find by itself:
// both media, several images, records that are out of the ordinary, a
// medium that its header misnames and sectors flagged bad,
// directory entries that point anywhere and names that must be refused.
#include <cstdio>
#include <string>

#include "testing/D88Builder.h"

using namespace d88test;

namespace {

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// n bytes counting up by step: data whose every sector differs.
Bytes Ramp(std::size_t n, unsigned step) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * step + i / 256);
  return b;
}

// Three files on tracks 0 and 1: a text, a binary and one that crosses
// into track 1.
Image SmallDisk(const Medium& medium) {
  DiskBuilder disk(medium);
  disk.AddFile("TEXT", Text("a text file\r\n"));
  disk.AddFile("BIN", Ramp(static_cast<std::size_t>(medium.sectorBytes) + 100, 1));
  disk.AddFile("XTRK", Ramp(static_cast<std::size_t>(medium.sectorsPerTrack * medium.sectorBytes), 3));
  return FirstTracks(disk.Build(), 2);
}

// Track 0 of a 2HD disk recorded oddly: the first directory sector twice
// (the first copy wins), a count of 0, which ends every walk that reaches
// it, a foreign ID, a short sector, one that claims more data than it has,
// and a record beyond the count.  Track 1 shares track 0's records; track 2
// starts inside one.
Image OddRecords() {
  DiskBuilder disk(k2HD);
  disk.AddFile("ODD", Text("odd"));
  disk.AddFile("MORE", Ramp(3000, 5));
  Image image = FirstTracks(disk.Build(), 1);
  std::vector<Record>& t0 = image.tracks[0];
  const Record directory = t0[1];
  t0.insert(t0.begin(), directory);
  t0[2].data.assign(1024, 0x20);
  t0[4].sectorCount = 0;
  t0[5].c = 9;
  t0[6].data.resize(100);
  t0[6].dataLength = 100;
  t0[7].dataLength = 2000;
  image.trackOffsetOverride[1] = 0x2B0;
  image.trackOffsetOverride[2] = 0x2B0 + 16 + 8;
  return image;
}

// A 2DD directory whose entries point anywhere and carry any size, and
// names that reach the file system as they are; then the names that the
// tool refuses, each of which would end the run.
Image OddEntries() {
  DiskBuilder disk(k2DD);
  const std::uint16_t at = disk.AddFile("\x01\x1f\x7f\x80", Text("x"));
  disk.AddFile("\xff\x83\x41", Text("y"));
  disk.AddEntry(EntryBytes("NEG", at, -5));
  disk.AddEntry(EntryBytes("HUGE", 0x09F8, 0x7FFFFFFF));
  disk.AddEntry(EntryBytes("FAR", 0xFFFF, 100));
  for (const char* name : {"...", "../x", "/abs", "a/b", ".", "..", " AB"}) disk.AddEntry(EntryBytes(name, at, 1));
  return FirstTracks(disk.Build(), 1);
}

// A 2DD disk that its header calls 2HD, with a sector of each file
// flagged bad by the dumping tool (status byte 0xB0).
Image Mislabelled() {
  Image image = SmallDisk(k2DD);
  image.mediaType = 0x20;
  image.tracks[0][5].status = 0xB0;
  image.tracks[1][0].status = 0xB0;
  return image;
}

bool Write(const std::string& dir, const char* name, const Bytes& bytes) {
  if (WriteFileBytes(dir + name, bytes)) return true;
  std::fprintf(stderr, "make_seeds: cannot write %s%s\n", dir.c_str(), name);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: %s DIR\n", argv[0]);
    return 1;
  }
  const std::string dir = std::string(argv[1]) + "/";
  Image header;
  header.mediaType = 0x30;
  const bool written =
      Write(dir, "seed-2dd.d88", SmallDisk(k2DD).Build()) &&
      Write(dir, "seed-2hd.d88", SmallDisk(k2HD).Build()) &&
      Write(dir, "seed-images.d88",
            Concat({FirstTracks(SmallDisk(k2DD), 1).Build(), FirstTracks(SmallDisk(k2HD), 1).Build(),
                    header.Build()})) &&
      Write(dir, "seed-odd-records.d88", OddRecords().Build()) &&
      Write(dir, "seed-odd-entries.d88", OddEntries().Build()) &&
      Write(dir, "seed-mislabelled.d88", Mislabelled().Build());
  return written ? 0 : 1;
}
