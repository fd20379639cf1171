// Writes the sample containers into the directory given as the argument:
//   make_samples DIR
// sample-2hd.d88 and sample-2dd.d88 each hold a few files of this
// project's own making (a text, a binary and one that runs from one track
// into the next); sample-damaged.d88 is the 2HD sample with sectors lost,
// cut short and recorded with a data CRC error, as a dump of a worn disk
// leaves them;
// sample-two-disks.d88 holds disk A and disk B of one set;
// sample-2dd-marked-2hd.d88 is the 2DD sample whose header wrongly says
// 2HD, as some dumping tools write it; sample-shift-jis.d88 names its disk
// and files in Shift_JIS (kana, a kanji whose second byte is 0x5C, a byte
// that decodes to nothing) and ends its directory with a name no file
// may take; sample-pc98-fat12.d88 (PC-98 2HD, 77x2x8x1024) and
// sample-720k-fat12.d88 are MS-DOS disks of the project's own FAT12
// builder, each with a folder, a long name, a kana short name, an empty
// file and one that runs across tracks.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "testing/D88Builder.h"
#include "testing/FatBuilder.h"

using namespace d88test;

namespace {

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// 256 rows of a 16-byte pattern: every byte value, in a recognisable order.
Bytes Table() {
  Bytes b;
  for (int row = 0; row < 256; ++row) {
    for (int col = 0; col < 16; ++col) b.push_back(static_cast<std::uint8_t>(row ^ (col * 17)));
  }
  return b;
}

// Numbered lines of text, long enough to cross a track.
Bytes Lines(int count) {
  std::string s;
  for (int i = 1; i <= count; ++i)
    s += "line " + std::to_string(i) + " of a file that crosses a track\r\n";
  return Text(s);
}

Image Sample(const Medium& medium, const std::string& label) {
  DiskBuilder disk(medium);
  disk.AddFile(
      "READ", Text("This is the " + label +
                   " sample disk of d88extract.\r\nEvery file on it was made by the project.\r\n"));
  disk.AddFile("TBL", Table());
  disk.AddFile("LONG", Lines(300));
  Image image = disk.Build();
  image.name = "SAMPLE " + label;
  return image;
}

// The 2HD sample after a poor read: TBL lost a sector and has one cut
// short, LONG has one whose data the dumping tool read with a CRC error.
Image Damaged() {
  Image image = Sample(k2HD, "DAMAGED");
  std::vector<Record>& track0 = image.tracks[0];
  track0.erase(track0.begin() + 5);  // sector 6 of track 0
  for (Record& record : track0) record.sectorCount = 7;
  track0[5].dataLength = 300;  // sector 7, now the sixth record
  track0[5].data.resize(300);
  image.tracks[2][2].status = 0xB0;  // sector 3 of track 2
  return image;
}

// Disk A and disk B of one set, back to back.
Bytes TwoDisks() {
  Image a = Sample(k2HD, "DISK A");
  DiskBuilder second(k2HD);
  second.AddFile("DATA", Text("This file is on disk B.\r\n"));
  Image b = second.Build();
  b.name = "SAMPLE DISK B";
  return Concat({a.Build(), b.Build()});
}

// The 2DD sample with the media byte of a 2HD disk.
Image MarkedAs2HD() {
  Image image = Sample(k2DD, "2DD");
  image.mediaType = 0x20;
  return image;
}

// A 2HD disk named in Shift_JIS: "SJIS ﾃﾞｨｽｸ 表" and the files "ﾃｷｽﾄ",
// "表1", "\x80AB" and "..", which the tools refuse to write.
Image ShiftJis() {
  DiskBuilder disk(k2HD);
  disk.AddFile("\xc3\xb7\xbd\xc4", Text("\x93\xfa\x96\x7b\x8c\xea\r\n"));  // 日本語
  disk.AddFile(
      "\x95\x5c"
      "1",
      Table());
  disk.AddFile(
      "\x80"
      "AB",
      Text("A name with a byte that is no character.\r\n"));
  disk.AddFile("..", Text("Never written: the name is not a plain file's.\r\n"));
  Image image = disk.Build();
  image.name = "SJIS \xc3\xde\xa8\xbd\xb8 \x95\x5c";
  return image;
}

// A FAT12 disk: README.TXT, EMPTY.DAT and "A long file name.txt" in the
// root; in DOCS, ｶﾅ.TXT holding 日本語, the table and 40 KB of lines.
Image FatSample(const FatFormat& format, const std::string& label) {
  FatBuilder disk(format, label);
  disk.AddFile(
      FatBuilder::kRoot, "README.TXT",
      Text("This is the " + label +
           " sample disk of d88extract.\r\nEvery file on it was made by the project.\r\n"));
  disk.AddFile(FatBuilder::kRoot, "EMPTY.DAT", {});
  disk.AddFile(FatBuilder::kRoot, "ALONGF~1.TXT", Text("A file with a long name.\r\n"),
               u"A long file name.txt");
  const int docs = disk.AddFolder(FatBuilder::kRoot, "DOCS").cluster;
  disk.AddFile(docs, "\xb6\xc5.TXT", Text("\x93\xfa\x96\x7b\x8c\xea\r\n"));
  disk.AddFile(docs, "TBL.BIN", Table());
  disk.AddFile(docs, "LINES.TXT", Lines(1000));
  return disk.Build("SAMPLE " + label);
}

}  // namespace

int main(int argc, char** argv) {
  // No silent default: the samples land only where they are asked for.
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_samples DIR\n  writes the sample containers into DIR\n");
    return 1;
  }
  const std::string dir = std::string(argv[1]) + "/";
  const std::pair<const char*, Bytes> samples[] = {
      {"sample-2hd.d88", Sample(k2HD, "2HD").Build()},
      {"sample-2dd.d88", Sample(k2DD, "2DD").Build()},
      {"sample-damaged.d88", Damaged().Build()},
      {"sample-two-disks.d88", TwoDisks()},
      {"sample-2dd-marked-2hd.d88", MarkedAs2HD().Build()},
      {"sample-shift-jis.d88", ShiftJis().Build()},
      {"sample-pc98-fat12.d88", FatSample(kFatPc98, "PC-98 2HD").Build()},
      {"sample-720k-fat12.d88", FatSample(kFat720K, "720K").Build()}};
  for (const auto& [name, bytes] : samples) {
    if (!WriteFileBytes(dir + name, bytes)) {
      std::fprintf(stderr, "make_samples: cannot write %s into %s\n", name, argv[1]);
      return 1;
    }
    std::printf("wrote %s%s\n", dir.c_str(), name);
  }
  return 0;
}
