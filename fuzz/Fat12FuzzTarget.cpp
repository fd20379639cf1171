// The FAT12 reader's fuzzer: each input is the head of a disk.  Byte 0
// picks the geometry and whether a sound parameter block is planted in
// sector 0 (so chains and directories get explored); the next 16 bytes
// mark which of the first 128 sectors are damaged; the rest fills the disk
// from sector 0 on, zeros after.  A broken promise of the reader aborts.
// The writer then makes a folder, adds a file to it and removes the first
// file listed: each a clean refusal that leaves the disk as it was, or a
// change of only the sectors it names, after which the reader finds the
// added file intact with its bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fat12/Fat12.h"
#include "fat12/Fat12Writer.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "d88fat12_fuzz: %s\n", what);
  std::abort();
}

struct Shape {
  filesystem::Geometry geometry;
  std::uint8_t parameterBlock[13];  // bytes 11-23 of a sound boot sector
};
const Shape kShapes[] = {
    {{77, 2, 8, 1024}, {0x00, 0x04, 1, 1, 0, 2, 192, 0, 0xD0, 0x04, 0xFE, 2, 0}},
    {{80, 2, 9, 512}, {0x00, 0x02, 2, 1, 0, 2, 112, 0, 0xA0, 0x05, 0xF9, 3, 0}},
    {{80, 2, 18, 512}, {0x00, 0x02, 1, 1, 0, 2, 224, 0, 0x40, 0x0B, 0xF0, 9, 0}},
    {{40, 2, 16, 256}, {0x00, 0x01, 4, 1, 0, 2, 64, 0, 0x00, 0x05, 0xF8, 2, 0}},
};
constexpr std::size_t kDiskBytes = 80 * 2 * 18 * 512;
constexpr std::uint32_t kFlaggedSectors = 128;

std::uint8_t disk[kDiskBytes];
std::uint8_t fileBytes[kDiskBytes];
std::uint32_t sectors[filesystem::kMaxSectors];
fat12::Fat12Reader reader;
fat12::Fat12Writer writer;
fat12::Fat12Reader rereader;
std::uint8_t before[kDiskBytes];

class FuzzSource final : public filesystem::SectorSource {
 public:
  filesystem::Geometry geometry;
  const std::uint8_t* damaged = nullptr;

  filesystem::Geometry Shape() const override { return geometry; }
  filesystem::Sector At(std::uint32_t logical) const override {
    if (logical >= geometry.SectorCount()) Fail("sector outside the disk");
    const bool bad = logical < kFlaggedSectors && (damaged[logical / 8] >> (logical % 8) & 1) != 0;
    return {disk + std::size_t{logical} * geometry.sectorBytes,
            bad ? filesystem::SectorFault::kBadStatus : filesystem::SectorFault::kNone};
  }
};

void CheckPath(const char* path, std::size_t length) {
  if (length != std::strlen(path)) Fail("path length");
  const char* component = path;
  for (const char* p = path;; ++p) {
    if (*p != '/' && *p != '\0') continue;
    const std::size_t n = static_cast<std::size_t>(p - component);
    if (n == 0 || (n == 1 && component[0] == '.') ||
        (n == 2 && component[0] == '.' && component[1] == '.')) {
      Fail("empty, . or .. in a path");
    }
    if (*p == '\0') return;
    component = p + 1;
  }
}

// Checks one change of the writer on disk (count sectors of size bytes).
void CheckChange(bool done, std::uint32_t count, std::uint32_t bytes) {
  for (std::uint32_t s = 0; s < count; ++s) {
    const bool differs =
        std::memcmp(disk + std::size_t{s} * bytes, before + std::size_t{s} * bytes, bytes) != 0;
    if (differs && !done) Fail("a refusal changed the disk");
    if (differs && !writer.Changed(s)) Fail("a sector changed that the plan does not name");
  }
  std::memcpy(before, disk, std::size_t{count} * bytes);
}

// The writer's changes on the disk just read.
void WriteAndReadBack(const FuzzSource& source, const std::uint8_t* payload, std::uint32_t size) {
  const filesystem::Geometry g = source.geometry;
  const std::uint32_t count = g.SectorCount();
  char first[filesystem::kMaxPathBytes + 1] = {};
  for (int i = 0; i < reader.EntryCount(); ++i) {
    if (reader.EntryAt(i).kind != filesystem::EntryKind::kFile) continue;
    reader.Path(i, first, sizeof first);
    break;
  }
  filesystem::Reason reason;
  if (!writer.Open(disk, count, reader.layout(), reason)) return;
  std::memcpy(before, disk, std::size_t{count} * g.sectorBytes);
  CheckChange(writer.MakeFolder("Fuzz dir", 0, 0, reason), count, g.sectorBytes);
  const bool added = writer.Add("Fuzz dir/A long name.txt", payload, size, 0, 0, reason);
  CheckChange(added, count, g.sectorBytes);
  if (first[0] != '\0') CheckChange(writer.Remove(first, reason), count, g.sectorBytes);
  if (!added) return;
  if (!rereader.Recognise(source, reason)) Fail("the written disk is no longer FAT12");
  rereader.Read(source);
  char path[filesystem::kMaxPathBytes + 1];
  for (int i = 0; i < rereader.EntryCount(); ++i) {
    rereader.Path(i, path, sizeof path);
    if (std::strcmp(path, "Fuzz dir/A long name.txt") != 0) continue;
    const filesystem::Entry& e = rereader.EntryAt(i);
    if (e.size != size || rereader.ReadFile(i, 0, fileBytes, sizeof fileBytes) != size ||
        std::memcmp(fileBytes, payload, size) != 0)
      Fail("the added file does not read back");
    return;
  }
  Fail("the added file is not listed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 + kFlaggedSectors / 8) return 0;
  const Shape& shape = kShapes[data[0] % 4];
  FuzzSource source;
  source.geometry = shape.geometry;
  source.damaged = data + 1;
  const std::size_t diskBytes =
      std::size_t{shape.geometry.SectorCount()} * shape.geometry.sectorBytes;
  const std::size_t body = size - 1 - kFlaggedSectors / 8;
  std::memset(disk, 0, diskBytes);
  std::memcpy(disk, data + 1 + kFlaggedSectors / 8, body < diskBytes ? body : diskBytes);
  if ((data[0] & 4) != 0) std::memcpy(disk + 11, shape.parameterBlock, sizeof shape.parameterBlock);

  filesystem::Reason reason;
  if (!reader.Recognise(source, reason)) return 0;
  reader.Read(source);
  const std::uint32_t bytesPerSector = shape.geometry.sectorBytes;
  char path[filesystem::kMaxPathBytes + 1];
  for (int i = 0; i < reader.EntryCount(); ++i) {
    const filesystem::Entry& e = reader.EntryAt(i);
    CheckPath(path, reader.Path(i, path, sizeof path));
    if (e.pathTextBytes > filesystem::kMaxPathBytes || e.depth >= filesystem::kMaxDepth) {
      Fail("bounds");
    }
    if (e.kind != filesystem::EntryKind::kFile || !e.Intact()) continue;
    std::uint32_t last = 0;
    const std::uint32_t count = reader.FileSectors(i, sectors, filesystem::kMaxSectors, &last);
    if (std::uint64_t{count} != (std::uint64_t{e.size} + bytesPerSector - 1) / bytesPerSector) {
      Fail("an intact file's sectors do not cover its size");
    }
    for (std::uint32_t s = 0; s < count; ++s) {
      if (sectors[s] >= shape.geometry.SectorCount() || !source.At(sectors[s]).Intact()) {
        Fail("an intact file covers a damaged sector");
      }
    }
    if (reader.ReadFile(i, 0, fileBytes, sizeof fileBytes) != e.size) Fail("intact file short");
  }
  WriteAndReadBack(source, data, static_cast<std::uint32_t>(size < 4096 ? size : 4096));
  return 0;
}
