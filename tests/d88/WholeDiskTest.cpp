// d88 split, join, export and import, judged by the bytes of the files they
// write, their messages and status, and what a refusal leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "testing/CheckedRun.h"
#include "testing/D88Run.h"

using namespace d88test;
namespace fs = std::filesystem;

namespace {

// Runs d88 in-process in dir with args, each "{D}" standing for dir.
Ran D88In(const std::string& dir, std::vector<std::string> args) {
  for (std::string& a : args) {
    for (std::size_t at; (at = a.find("{D}")) != std::string::npos;) a.replace(at, 3, dir);
  }
  return RunD88InProcess(args);
}

// The names in dir, sorted, joined by spaces.
std::string Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  std::string joined;
  for (const std::string& name : names) joined += (joined.empty() ? "" : " ") + name;
  return joined;
}

// A small disk of 2 cylinders, 2 heads and 4 sectors of 256 bytes, its
// sectors' bytes from seed.
Image Small(unsigned seed) {
  return TrackImage(PatternBytes(4 * 4 * 256, seed), "SMALL", 0x00, 4, 2, 4, 1);
}

Bytes Disk2HD() {
  DiskBuilder disk(k2HD);
  disk.AddFile("READ", PatternBytes(5000, 7));
  return disk.Build().Build();
}

// Three images: a 2HD disk with a file, a 2DD one, a small damaged one.
Bytes ThreeImages() {
  Image damaged = Small(3);
  damaged.tracks[1][2].status = 0xB0;
  return Concat({Disk2HD(), DiskBuilder(k2DD).Build().Build(), damaged.Build()});
}

// split gives one container per image, each its bytes; join puts them
// back together byte for byte; -C makes the folder.
TEST(WholeDisks, JoinOfSplitIsTheContainer) {
  const std::vector<Bytes> images = {Disk2HD(), DiskBuilder(k2DD).Build().Build(),
                                     Small(5).Build()};
  for (const std::string folder : {"", "out/deeper"}) {
    d88check::Sandbox box;
    const std::string dir = box.WorkDir(), c = dir + "/game.d88";
    WriteFileBytes(c, Concat(images));
    std::vector<std::string> split = {"split", c};
    if (!folder.empty()) split = {"split", "-C", dir + "/" + folder, c};
    const Ran ran = D88In(dir, split);
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.err, "");
    const std::string at = folder.empty() ? dir : dir + "/" + folder;
    std::vector<std::string> join = {"join", dir + "/joined.d88"};
    for (std::size_t k = 0; k < images.size(); ++k) {
      const std::string part = at + "/game-" + std::to_string(k) + ".d88";
      EXPECT_EQ(ReadFileBytes(part), images[k]) << part;
      join.push_back(part);
    }
    EXPECT_EQ(D88In(dir, join).status, 0);
    EXPECT_EQ(ReadFileBytes(dir + "/joined.d88"), Concat(images));
  }
}

// A refusal says why, exits 1 and writes nothing: every file as it was.
TEST(WholeDisks, RefusalsWriteNothing) {
  const Bytes three = ThreeImages();
  Image uneven = Small(1);
  uneven.tracks[2].push_back(MakeRecord(1, 0, 5, 1, 5, Bytes(256, 1)));
  for (Record& record : uneven.tracks[2]) record.sectorCount = 5;
  Image missing = Small(1);
  missing.tracks[3].erase(missing.tracks[3].begin() + 1);
  Image bad = Small(1);
  bad.tracks[1][2].status = 0xB0;
  Image shortSector = Small(1);
  shortSector.tracks[0][0] = MakeRecord(0, 0, 1, 1, 4, Bytes(100, 2));
  Image twice = Small(1);
  twice.tracks[2].push_back(MakeRecord(1, 0, 1, 1, 5, Bytes(256, 9)));
  for (Record& record : twice.tracks[2]) record.sectorCount = 5;
  Image deleted = Small(1);
  deleted.tracks[0][3].deletedMark = 0x10;
  Bytes trailing = three;
  trailing.push_back(0);
  const std::string help = "\nTry 'd88 --help' for more information.\n";
  const std::string n = "; nothing written\n",
                    force = "; nothing written (--force writes it anyway)\n";
  const struct {
    std::string args;
    Bytes container;
    std::string err;
  } rows[] = {
      {"split {D}/c.d88", three, "cannot write {D}/c-1.d88: File exists" + n},
      {"split {D}/c.d88", trailing, "{D}/c.d88: 1 bytes after image 2 are no image" + n},
      {"split -C {D}/new {D}/c.d88", trailing, "{D}/c.d88: 1 bytes after image 2 are no image" + n},
      {"split {D}/c.d88 {D}/c-1.d88", three,
       "split takes one container, not more: {D}/c-1.d88" + help},
      {"split -i 1 {D}/c.d88", three,
       "an option split, join, export and import do not take here: -i" + help},
      {"join {D}/new.d88", three, "join needs OUT CONTAINER..." + help},
      {"join {D}/c-1.d88 {D}/c.d88", three, "cannot write {D}/c-1.d88: File exists" + n},
      {"join {D}/new.d88 {D}/c-1.d88", three, "{D}/c-1.d88 holds no disk image\n"},
      {"export {D}/c.d88 {D}/c-1.d88", three, "cannot write {D}/c-1.d88: File exists" + n},
      {"export {D}/c.d88 {D}/o.img", uneven.Build(),
       "image 0: track 2 (cylinder 1, head 0) holds 5 sectors, not 4 like the disk's others" +
           force},
      {"export {D}/c.d88 {D}/o.img", missing.Build(),
       "image 0: track 3 (cylinder 1, head 1) holds 3 sectors, not 4 like the disk's others" +
           force},
      {"export -i 2 {D}/c.d88 {D}/o.hdm", three,
       "image 2: track 1 (C 0 H 1 R 3): data CRC error" + force},
      {"export {D}/c.d88 {D}/o.img", deleted.Build(),
       "image 0: track 0 (C 0 H 0 R 4): marked deleted" + force},
      {"export -i 3 {D}/c.d88 {D}/o.img", three, "{D}/c.d88 has no image 3 (it holds 3)\n"},
      {"export -f hdm {D}/c.d88 {D}/o.img", three,
       "not a sector file format (raw or fdi): hdm" + help},
      {"export {D}/c.d88", three, "export needs CONTAINER OUT" + help},
      {"export {D}/c.d88 {D}/o.img", shortSector.Build(),
       "image 0: track 0 (C 0 H 0 R 1): short (100 bytes, not 256)" + force},
      {"export {D}/c.d88 {D}/o.fdi", twice.Build(),
       "image 0: track 2 (C 1 H 0 R 1): recorded twice with different data" + force},
      {"import {D}/c-1.d88 {D}/o.d88", three,
       "{D}/c-1.d88 holds 0 bytes, the size of no disk d88 knows; name its shape with -g" + n},
      {"import -g 40/2/9/500 {D}/c.d88 {D}/o.d88", Bytes(737280),
       "not a disk shape (2HD, 2DD, 2DD8, 1.44M, 1.2M, 2D or C/H/S/BYTES): 40/2/9/500\n"},
      {"import -g 2HD {D}/c.d88 {D}/o.d88", Bytes(737280),
       "{D}/c.d88 holds 737280 bytes, not the 1261568 of a disk of 77/2/8/1024" + n},
      {"import -g 164/2/9/512 {D}/c.d88 {D}/o.d88", Bytes(737280),
       "{D}/c.d88 holds 737280 bytes, not the 1511424 of a disk of 164/2/9/512" + n},
      {"import -g 90/2/18/512 {D}/c.d88 {D}/o.d88", Bytes(90 * 2 * 18 * 512),
       "a disk of 90/2/18/512 is outside what d88 handles (164 tracks of up to 26 sectors of up "
       "to 1024 bytes, 1511424 bytes in all)" +
           n},
      {"import -f fdi {D}/c.d88 {D}/c-1.d88", Bytes(4096),
       "{D}/c.d88 is no FDI file: its header's sizes do not add up to its 4096 bytes" + n},
  };
  for (const auto& row : rows) {
    d88check::Sandbox box;
    const std::string dir = box.WorkDir();
    WriteFileBytes(dir + "/c.d88", row.container);
    WriteFileBytes(dir + "/c-1.d88", Bytes{});
    const std::string before = Names(dir);
    std::vector<std::string> args;
    for (std::size_t from = 0, to = 0; to != std::string::npos; from = to + 1)
      args.push_back(row.args.substr(from, (to = row.args.find(' ', from)) - from));
    const Ran ran = D88In(dir, args);
    SCOPED_TRACE(row.args);
    EXPECT_EQ(ran.status, 1);
    std::string err = "d88: " + row.err;
    for (std::size_t at; (at = err.find("{D}")) != std::string::npos;) err.replace(at, 3, dir);
    EXPECT_EQ(ran.err, err);
    EXPECT_EQ(Names(dir), before);
    EXPECT_EQ(ReadFileBytes(dir + "/c.d88"), row.container);
  }
}

// Bytes of the 32-bit little-endian values.
Bytes Words(const std::vector<std::uint32_t>& values) {
  Bytes out(values.size() * 4);
  for (std::size_t i = 0; i < values.size(); ++i) PutLE(out, i * 4, values[i]);
  return out;
}

// Each raw size recognised (or the shape -g names) imports as a disk of
// that shape with the family's media byte, every record as the disk's own
// sectors; export gives the raw file back, and as FDI the same bytes after
// a header of the medium's drive type.
TEST(WholeDisks, ImportAndExportGiveTheSameSectors) {
  const struct {
    std::vector<std::string> options;
    int cylinders, heads, sectors, bytes;
    std::uint8_t media;
    std::uint32_t drive;
  } rows[] = {
      {{}, 77, 2, 8, 1024, 0x20, 0x90},
      {{}, 80, 2, 9, 512, 0x10, 0x10},
      {{}, 80, 2, 8, 512, 0x10, 0x10},
      {{}, 80, 2, 18, 512, 0x20, 0x30},
      {{}, 80, 2, 15, 512, 0x20, 0x90},
      {{}, 40, 2, 16, 256, 0x00, 0x50},
      {{"-g", "2dd9"}, 80, 2, 9, 512, 0x10, 0x10},
      {{"-g", "40/2/9/512"}, 40, 2, 9, 512, 0x00, 0x50},
      {{"-g", "80/1/9/512"}, 80, 1, 9, 512, 0x10, 0x10},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.cylinders * 1000 + row.sectors);
    d88check::Sandbox box;
    const std::string dir = box.WorkDir();
    const std::size_t size = std::size_t{1} * row.cylinders * row.heads * row.sectors * row.bytes;
    const Bytes raw = PatternBytes(size, static_cast<unsigned>(size));
    WriteFileBytes(dir + "/in.img", raw);
    std::vector<std::string> args = {"import", "-n", "DISK"};
    args.insert(args.end(), row.options.begin(), row.options.end());
    args.insert(args.end(), {dir + "/in.img", dir + "/d.d88"});
    ASSERT_EQ(D88In(dir, args).status, 0);
    const Bytes d88 = ReadFileBytes(dir + "/d.d88");
    ASSERT_GT(d88.size(), 0x2B0u);
    EXPECT_EQ(std::string(d88.begin(), d88.begin() + 5), std::string("DISK\0", 5));
    EXPECT_EQ(d88[27], row.media);
    // The last record: the last cylinder and head, sector S, count S,
    // density, mark and status 0, the sector's bytes.
    const std::size_t last = d88.size() - 16 - static_cast<std::size_t>(row.bytes);
    const int n = row.bytes == 256 ? 1 : row.bytes == 512 ? 2 : 3;
    EXPECT_EQ(
        Bytes(d88.begin() + static_cast<std::ptrdiff_t>(last),
              d88.begin() + static_cast<std::ptrdiff_t>(last) + 16),
        (Bytes{static_cast<std::uint8_t>(row.cylinders - 1),
               static_cast<std::uint8_t>(row.heads - 1), static_cast<std::uint8_t>(row.sectors),
               static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(row.sectors), 0, 0, 0, 0, 0,
               0, 0, 0, 0, static_cast<std::uint8_t>(row.bytes),
               static_cast<std::uint8_t>(row.bytes >> 8)}));
    EXPECT_EQ(D88In(dir, {"export", dir + "/d.d88", dir + "/out.IMA"}).status, 0);
    EXPECT_EQ(ReadFileBytes(dir + "/out.IMA"), raw);
    EXPECT_EQ(D88In(dir, {"export", dir + "/d.d88", dir + "/out.FDI"}).status, 0);
    Bytes fdi =
        Words({0, row.drive, 4096, static_cast<std::uint32_t>(size),
               static_cast<std::uint32_t>(row.bytes), static_cast<std::uint32_t>(row.sectors),
               static_cast<std::uint32_t>(row.heads), static_cast<std::uint32_t>(row.cylinders)});
    fdi.resize(4096, 0);
    fdi.insert(fdi.end(), raw.begin(), raw.end());
    EXPECT_EQ(ReadFileBytes(dir + "/out.FDI"), fdi);
    // The FDI file imports to the same container, named alike.
    ASSERT_EQ(D88In(dir, {"import", "-n", "DISK", dir + "/out.FDI", dir + "/e.d88"}).status, 0);
    EXPECT_EQ(ReadFileBytes(dir + "/e.d88"), d88);
  }
}

// A disk with files exports, and its export imports, to the same sectors:
// d88extract lists and writes the same files from both.
TEST(WholeDisks, ImportOfExportKeepsTheFiles) {
  d88check::Sandbox box;
  const std::string dir = box.WorkDir();
  WriteFileBytes(dir + "/c.d88", Disk2HD());
  ASSERT_EQ(D88In(dir, {"export", "-f", "fdi", dir + "/c.d88", dir + "/c.img"}).status, 0);
  ASSERT_EQ(D88In(dir, {"import", "-f", "fdi", dir + "/c.img", dir + "/d.d88"}).status, 0);
  const Bytes again = ReadFileBytes(dir + "/d.d88"), disk = Disk2HD();
  d88check::Sandbox first, second;
  const d88check::RunReport was = first.Run(disk.data(), disk.size(), true);
  const d88check::RunReport now = second.Run(again.data(), again.size(), true);
  EXPECT_EQ(now.out, was.out);
  EXPECT_EQ(now.files, was.files);
  EXPECT_EQ(was.files.size(), 1u);
}

// --force writes what a clean copy cannot hold: missing sectors as zeros,
// damaged ones as recorded, foreign records left out, each named on
// standard error, and exits 2.
TEST(WholeDisks, ForcedExportNamesEverySectorItWrote) {
  Image disk = Small(4);
  const Bytes sectors = PatternBytes(4 * 4 * 256, 4);
  disk.tracks[3].erase(disk.tracks[3].begin() + 1);
  disk.tracks[1][2].status = 0xB0;
  disk.tracks[1][2].data[0] ^= 0xFF;
  disk.tracks[2].push_back(MakeRecord(1, 0, 9, 1, 5, Bytes(256, 1)));
  for (Record& record : disk.tracks[2]) record.sectorCount = 5;
  d88check::Sandbox box;
  const std::string dir = box.WorkDir();
  WriteFileBytes(dir + "/c.d88", disk.Build());
  const Ran ran = D88In(dir, {"export", "--force", dir + "/c.d88", dir + "/o.img"});
  EXPECT_EQ(ran.status, 2);
  EXPECT_EQ(ran.err,
            "d88: track 1 (C 0 H 1 R 3): data CRC error, written as recorded\n"
            "d88: track 2 (C 1 H 0 R 9 N 1): not of the disk's shape, left out\n"
            "d88: track 3 (C 1 H 1 R 2): missing, written as zeros\n");
  Bytes expected = sectors;
  expected[(4 + 2) * 256] ^= 0xFF;
  std::fill(expected.begin() + (12 + 1) * 256, expected.begin() + (12 + 2) * 256, 0);
  EXPECT_EQ(ReadFileBytes(dir + "/o.img"), expected);
}

// A sector recorded twice alike, as dumps of a track read twice record
// it, exports as one; so does a one-sided disk, and a shape's name in
// small letters imports.
TEST(WholeDisks, SameCopiesAndOneSideExport) {
  const Bytes sectors = PatternBytes(4 * 4 * 256, 6);
  Image twice = Small(6);
  twice.tracks[1].push_back(twice.tracks[1][0]);
  for (Record& record : twice.tracks[1]) record.sectorCount = 5;
  const Image oneSide = TrackImage(sectors, "ONE", 0x00, 4, 2, 4, 1);
  Image evenTracks{"ONE", 0x00, {}, {}};
  for (const auto& [track, records] : oneSide.tracks) {
    evenTracks.tracks[track * 2] = records;
    for (Record& record : evenTracks.tracks[track * 2]) {
      record.c = static_cast<std::uint8_t>(track);
      record.h = 0;
    }
  }
  for (const Image& image : {twice, evenTracks}) {
    d88check::Sandbox box;
    const std::string dir = box.WorkDir();
    WriteFileBytes(dir + "/c.d88", image.Build());
    const Ran ran = D88In(dir, {"export", dir + "/c.d88", dir + "/o.img"});
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ReadFileBytes(dir + "/o.img"), sectors);
  }
  d88check::Sandbox box;
  WriteFileBytes(box.WorkDir() + "/in.img", Bytes(1474560, 1));
  EXPECT_EQ(D88In(box.WorkDir(), {"import", "-g", "1.44m", "{D}/in.img", "{D}/o.d88"}).status, 0);
  EXPECT_EQ(ReadFileBytes(box.WorkDir() + "/o.d88")[27], 0x20);
}

}  // namespace
