// Header edits and repairs, and containers whose track table is short: d88
// set, fix and hash judged by the bytes they write and print, and by what
// d88extract then makes of the result.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "d88/D88.h"
#include "digest/Digest.h"
#include "diskimage/DiskImage.h"
#include "testing/CheckedRun.h"

using namespace d88test;
namespace fs = std::filesystem;

namespace {

struct Ran {
  int status;
  std::string out, err;
};

std::string ReadStream(std::FILE* stream) {
  std::string text;
  std::rewind(stream);
  for (int c; (c = std::fgetc(stream)) != EOF;) text += static_cast<char>(c);
  return text;
}

// Runs d88 with args in-process.
Ran D88(const std::vector<std::string>& args) {
  std::vector<const char*> argv = {"d88"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  diskimage::DiskImage disk;
  std::FILE* streams[2] = {std::tmpfile(), std::tmpfile()};
  const int status = d88::RunD88(disk, static_cast<int>(argv.size()), argv.data(),
                                 d88::Console{streams[0], streams[1]});
  Ran ran{status, ReadStream(streams[0]), ReadStream(streams[1])};
  for (std::FILE* stream : streams) std::fclose(stream);
  return ran;
}

// d88extract's run on a container: its listing and the files it wrote.
d88check::RunReport Extract(const Bytes& container) {
  d88check::Sandbox box;
  return box.Run(container.data(), container.size(), true);
}

// Returns text with every "from" replaced by "to".
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

// A disk of two files on medium, its header of headerBytes.
Image TwoFiles(const Medium& medium, std::size_t headerBytes = 0x2B0) {
  DiskBuilder disk(medium);
  disk.AddFile("READ", Text("read me\r\n"));
  disk.AddFile("DATA", PatternBytes(3000, 4));
  Image image = disk.Build();
  image.headerBytes = headerBytes;
  return image;
}

// A container written into a sandbox's folder.
struct Disk {
  d88check::Sandbox box;
  std::string path;
  explicit Disk(const Bytes& bytes) : path(box.WorkDir() + "/disk.d88") {
    WriteFileBytes(path, bytes);
  }
  Bytes Now() const { return ReadFileBytes(path); }
  // The names in the folder besides the container.
  std::vector<std::string> Others() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(box.WorkDir()))
      if (e.path().filename() != "disk.d88") names.push_back(e.path().filename().string());
    return names;
  }
};

// A table of 160 entries reads as one of 164 does: the same lines but for
// the size and the header's warning, the same map and files, and add and
// rm work; d88extract reads it as it always did.
TEST(ShortHeader, ReadsAsAFullOne) {
  for (const Medium* medium : {&k2DD, &k2HD}) {
    SCOPED_TRACE(medium->mediaLine);
    const Bytes full = TwoFiles(*medium).Build(), shortened = TwoFiles(*medium, 0x2A0).Build();
    const std::string size = std::to_string(full.size()),
                      shortSize = std::to_string(shortened.size());
    const Disk a(full), b(shortened);
    const std::string warning =
        "d88: image 0: header of 672 bytes: its track table holds 160 entries, the first track "
        "follows it\n";
    for (const char* verb : {"list", "test", "map"}) {
      const Ran ranFull = D88({verb, a.path}), ranShort = D88({verb, b.path});
      EXPECT_EQ(ranShort.status, ranFull.status) << verb;
      EXPECT_EQ(Replaced(ranShort.out, shortSize, size), ranFull.out) << verb;
      EXPECT_EQ(ranShort.err, warning) << verb;
    }
    EXPECT_NE(D88({"list", "--json", b.path}).out.find("\"headerBytes\": 672,"), std::string::npos);
    const d88check::RunReport tool = Extract(shortened), toolFull = Extract(full);
    EXPECT_EQ(tool.out, toolFull.out);
    EXPECT_EQ(tool.files, toolFull.files);
    const std::string host = b.box.WorkDir() + "/NEW";
    WriteFileBytes(host, PatternBytes(700, 9));
    ASSERT_EQ(D88({"add", b.path, host}).status, 0);
    ASSERT_EQ(D88({"rm", b.path, "READ"}).status, 0);
    const d88check::RunReport edited = Extract(b.Now());
    EXPECT_EQ(edited.files.count("READ"), 0u);
    EXPECT_EQ(edited.files.at("NEW"), PatternBytes(700, 9));
    EXPECT_EQ(edited.files.at("DATA"), PatternBytes(3000, 4));
  }
}

// One track recorded is said in the singular.
TEST(ShortHeader, OneTrackIsOne) {
  Image image{"ONE", 0x20, {}, {}};
  image.tracks[0].push_back(MakeRecord(0, 0, 1, 3, 1, Bytes(1024, 0)));
  const Disk disk(image.Build());
  EXPECT_NE(D88({"list", disk.path}).out.find(", 1 track recorded"), std::string::npos);
}

// Returns bytes with image's header bytes [at, at + replacement.size())
// replaced.
Bytes Patched(Bytes bytes, std::size_t at, const Bytes& replacement) {
  std::copy(replacement.begin(), replacement.end(),
            bytes.begin() + static_cast<std::ptrdiff_t>(at));
  return bytes;
}

// Each field set changes only its bytes, of the image -i names, in place
// or in OUT; the disk marked 2HD is read as 2DD by d88extract afterwards.
TEST(Set, ChangesOnlyItsBytes) {
  Image first = TwoFiles(k2DD);
  first.mediaType = 0x20;
  const Bytes one = first.Build(), two = TwoFiles(k2HD).Build(), both = Concat({one, two});
  Bytes name(17, 0);
  std::copy_n("NEW NAME", 8, name.begin());
  const struct {
    std::vector<std::string> args;
    Bytes expected;
  } rows[] = {
      {{"--name", "NEW NAME"}, Patched(both, 0, name)},
      {{"--protect", "on"}, Patched(both, 0x1A, {0x10})},
      {{"--protect", "on", "--protect", "off"}, both},
      {{"--media", "2dd"}, Patched(both, 0x1B, {0x10})},
      {{"--media", "2D"}, Patched(both, 0x1B, {0x00})},
      {{"--media", "0x3f", "--protect", "on"}, Patched(both, 0x1A, {0x10, 0x3F})},
      {{"-i", "1", "--media", "2HD", "--name", "NEW NAME"},
       Patched(Patched(both, one.size(), name), one.size() + 0x1B, {0x20})},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args[1]);
    const Disk disk(both);
    std::vector<std::string> args = {"set"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const std::string out = disk.box.WorkDir() + "/out.d88";
    std::vector<std::string> toOut = args;
    toOut.insert(toOut.end(), {"-o", out, disk.path});
    args.push_back(disk.path);
    const Ran ran = D88(toOut);
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ReadFileBytes(out), row.expected);
    EXPECT_EQ(disk.Now(), both);
    fs::remove(out);
    EXPECT_EQ(D88(args).status, 0);
    EXPECT_EQ(disk.Now(), row.expected);
    EXPECT_TRUE(disk.Others().empty());
  }
  const Disk disk(one);
  EXPECT_EQ(Extract(one).out, "MEDIA TYPE=2HD\n");
  ASSERT_EQ(D88({"set", "--media", "2DD", disk.path}).status, 0);
  EXPECT_EQ(Extract(disk.Now()).files, Extract(TwoFiles(k2DD).Build()).files);
}

// A value set cannot take, an image that is not there or an OUT that
// is: the container stays as it was, and nothing is left beside it.
TEST(Set, RefusalsLeaveEverythingAsItWas) {
  const Bytes container = TwoFiles(k2HD).Build();
  const struct {
    std::vector<std::string> args;
    std::string err;
  } rows[] = {
      {{"--media", "3HD"}, "d88: not a medium (2D, 2DD, 2HD or 0xNN): 3HD\n"},
      {{"--media", "0x100"}, "d88: not a medium (2D, 2DD, 2HD or 0xNN): 0x100\n"},
      {{"--protect", "yes"}, "d88: not on or off: yes\n"},
      {{}, "d88: set needs --name, --protect or --media\n"},
      {{"--name", "SEVENTEEN BYTES!!"},
       "d88: the disk name \"SEVENTEEN BYTES!!\" has no Shift_JIS form of at most 16 bytes; "
       "nothing written\n"},
      {{"-i", "1", "--protect", "on"}, "d88: DISK has no image 1 (it holds 1)\n"},
      {{"-o", "disk.d88", "--protect", "on"},
       "d88: cannot write DISK: File exists; nothing written\n"},
  };
  for (const auto& row : rows) {
    const Disk disk(container);
    std::vector<std::string> args = {"set"};
    for (const std::string& arg : row.args) args.push_back(arg == "disk.d88" ? disk.path : arg);
    args.push_back(disk.path);
    const Ran ran = D88(args);
    EXPECT_EQ(ran.status, 1);
    EXPECT_EQ(ran.err, Replaced(row.err, "DISK", disk.path));
    EXPECT_EQ(disk.Now(), container);
    EXPECT_TRUE(disk.Others().empty());
  }
}

#if !defined(_WIN32)
// Returns what python3's zlib and hashlib say of the file at path:
// "crc32 XXXXXXXX  sha1 ...".
std::string PythonHashes(const std::string& path) {
  const std::string command =
      "python3 -c \"import sys,zlib,hashlib;d=open(sys.argv[1],'rb').read();"
      "print('size %d  crc32 %08x  sha1 %s' % "
      "(len(d),zlib.crc32(d),hashlib.sha1(d).hexdigest()))\" " +
      path;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "";
  std::string text;
  for (int c; (c = std::fgetc(pipe)) != EOF;) text += static_cast<char>(c);
  pclose(pipe);
  return text;
}

// hash gives each image's size, CRC-32 and SHA-1 as Python's zlib and
// hashlib give them for the image alone.
TEST(Hash, AgreesWithPython) {
  const Bytes one = TwoFiles(k2DD).Build(), two = TwoFiles(k2HD, 0x2A0).Build();
  const Disk disk(Concat({one, two}));
  const std::string alone = disk.box.WorkDir() + "/alone";
  std::string expected;
  for (const Bytes* image : {&one, &two}) {
    WriteFileBytes(alone, *image);
    const std::string python = PythonHashes(alone);
    if (python.empty()) GTEST_SKIP() << "no python3";
    expected += disk.path + " #" + std::to_string(image == &two) + "  " +
                python.substr(0, python.size() - 1) + "  content ";
  }
  const Ran ran = D88({"hash", disk.path});
  EXPECT_EQ(ran.status, 0) << ran.err;
  // The content hashes are judged below; here only the rest of each line.
  std::string shown = ran.out;
  for (std::size_t at = 0; (at = shown.find("content ", at)) != std::string::npos;)
    shown.erase(at += 8, 41);
  EXPECT_EQ(shown, expected);
}

#endif

// The known answers of both checksums, over one block and over many.
TEST(Hash, KnownAnswers) {
  digest::Crc32 crc;
  crc.Update(reinterpret_cast<const std::uint8_t*>("123456789"), 9);
  EXPECT_EQ(crc.Value(), 0xCBF43926u);
  const struct {
    std::string text;
    int repeat;
    const char* sha1;
  } rows[] = {{"", 1, "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
              {"abc", 1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
              {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
               "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
              {"a", 1000000, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"}};
  for (const auto& row : rows) {
    digest::Sha1 sha;
    for (int i = 0; i < row.repeat; ++i)
      sha.Update(reinterpret_cast<const std::uint8_t*>(row.text.data()), row.text.size());
    std::uint8_t bytes[digest::kSha1Bytes];
    char hex[digest::kSha1HexBytes];
    sha.Finish(bytes);
    digest::ToHex(bytes, hex);
    EXPECT_EQ(std::string(hex), row.sha1) << row.text;
  }
}

// The content hash of a disk stays under another name, protect flag,
// record order and header length; one sector changed changes it.
TEST(Hash, ContentIsTheSectorData) {
  const auto content = [](const Image& image) {
    const Disk disk(image.Build());
    const std::string out = D88({"hash", disk.path}).out;
    return out.substr(out.find("content ") + 8);
  };
  const Image plain = TwoFiles(k2HD);
  Image renamed = plain, reordered = plain, shortened = plain, changed = plain;
  renamed.name = "ANOTHER";
  std::reverse(reordered.tracks[0].begin(), reordered.tracks[0].end());
  shortened.headerBytes = 0x2A0;
  changed.tracks[40][5].data[7] ^= 1;
  const Disk protectedDisk(plain.Build());
  D88({"set", "--protect", "on", protectedDisk.path});
  const std::string out = D88({"hash", protectedDisk.path}).out;
  EXPECT_EQ(out.substr(out.find("content ") + 8), content(plain));
  for (const Image* same : {&renamed, &reordered, &shortened})
    EXPECT_EQ(content(*same), content(plain));
  EXPECT_NE(content(changed), content(plain));
}

// The files d88 extract writes of the container at path.
std::map<std::string, Bytes> D88Extracted(const std::string& path) {
  d88check::Sandbox box;
  const fs::path here = fs::current_path();
  D88({"extract", "-C", box.WorkDir(), path});
  fs::current_path(here);
  std::map<std::string, Bytes> files;
  for (const auto& e : fs::directory_iterator(box.WorkDir()))
    files[e.path().filename().string()] = ReadFileBytes(e.path());
  return files;
}

// Each repair of fix on a disk that differs from a sound one only by it:
// the line that tells of it, the copy byte for byte the sound disk, which
// d88extract reads as d88 read the original and d88 test finds no fault
// in the header of; the original stays as it was.
TEST(Fix, RepairsWhatOnlyOneReadingExplains) {
  const Image sound = TwoFiles(k2DD);
  Image shortHeader = sound, counts = sound, lengths = sound, twice = sound, marked = sound;
  shortHeader.headerBytes = 0x2A0;
  for (Record& rec : counts.tracks[3]) rec.sectorCount = 20;
  lengths.tracks[5][1].dataLength = 300;
  twice.tracks[6].insert(twice.tracks[6].begin() + 3, twice.tracks[6][2]);
  for (Record& rec : twice.tracks[6]) rec.sectorCount = 10;
  marked.mediaType = 0x20;
  Bytes cut = sound.Build(), broken = cut;
  PutLE(cut, 28, static_cast<std::uint32_t>(cut.size() + 1000));
  PutLE(broken, 28, 0);
  const std::string size = std::to_string(sound.Build().size());
  const struct {
    Bytes container;
    std::string out;
  } rows[] = {
      {shortHeader.Build(),
       "image 0: header of 672 bytes made 688; the records follow 16 bytes later\n"},
      {cut, "image 0: size field " + std::to_string(cut.size() + 1000) + " made " + size +
                ", the image's length\n"},
      {broken, "image 0: size field 0 made " + size + ", the image's length\n"},
      {counts.Build(), "image 0: track 3: sector counts made 9, the records it holds\n"},
      {lengths.Build(),
       "image 0: track 5: sector 2: data length 300 made 512, where its record ends\n"},
      {twice.Build(),
       "image 0: track 6: sector 3 recorded twice, byte for byte; the second copy dropped\n"
       "image 0: track 6: sector counts made 9, the records it holds\n"},
      {marked.Build(), "image 0: media byte 0x20 made 0x10, the records' 2DD\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.out);
    const Disk disk(row.container);
    const std::string copy = disk.box.WorkDir() + "/copy.d88";
    const std::map<std::string, Bytes> before = D88Extracted(disk.path);
    const Ran ran = D88({"fix", "-o", copy, disk.path});
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.out, row.out);
    EXPECT_EQ(ReadFileBytes(copy), sound.Build());
    EXPECT_EQ(disk.Now(), row.container);
    const d88check::RunReport tool = Extract(ReadFileBytes(copy));
    EXPECT_EQ(tool.out.substr(0, 15), "MEDIA TYPE=2DD\n");
    // The lying length hid the files' bytes from d88 too.
    if (row.container != lengths.Build()) {
      EXPECT_EQ(tool.files, before);
    }
    const Ran test = D88({"test", copy});
    EXPECT_EQ(test.err, "");
    EXPECT_EQ(test.status, 0);
    EXPECT_EQ(D88({"fix", disk.path}).status, 0);
    EXPECT_EQ(disk.Now(), sound.Build());
  }
}

// A sound disk needs nothing: fix says so and writes nothing.  A record
// that runs past its image's end would be lost when the records move:
// fix refuses, and writes nothing either.
TEST(Fix, NothingToRepairAndRefusals) {
  const Bytes sound = TwoFiles(k2HD).Build();
  const Disk disk(sound);
  const Ran ran = D88({"fix", "-o", disk.box.WorkDir() + "/copy.d88", disk.path});
  EXPECT_EQ(ran.status, 0);
  EXPECT_EQ(ran.out, "nothing to repair\n");
  EXPECT_TRUE(disk.Others().empty());
  // The last record runs past the image's end, which a record moved
  // 16 bytes on would then cross.
  Bytes both = TwoFiles(k2HD, 0x2A0).Build();
  PutLE(both, 28, static_cast<std::uint32_t>(both.size() - 100));
  const Disk refused(both);
  const Ran refusal = D88({"fix", refused.path});
  EXPECT_EQ(refusal.status, 1);
  EXPECT_EQ(refusal.out, "");
  EXPECT_EQ(refusal.err,
            "d88: image 0: records of its tracks lie outside the image, and moving the records "
            "would lose them; nothing written\n");
  EXPECT_EQ(refused.Now(), both);
  EXPECT_TRUE(refused.Others().empty());
}

// Several containers in JSON: one document a line; one that cannot be
// opened or holds no image is named on standard error, status 1.
TEST(Hash, JsonLinesAndFailures) {
  const Disk disk(TwoFiles(k2HD).Build()), empty(Bytes{});
  const std::string text = D88({"hash", disk.path}).out;
  const auto field = [&](const char* name) {
    const std::size_t at = text.find(std::string(name) + " ") + std::strlen(name) + 1;
    return text.substr(at, text.find(' ', at) - at);
  };
  // A Windows path's backslashes are escaped in JSON.
  const std::string line = "{\"container\":\"" + Replaced(disk.path, "\\", "\\\\") +
                           "\",\"images\":[{\"index\":0,\"name\":{\"text\":\"D88EXTRACT "
                           "TEST\",\"hex\":\"443838455854524143542054455354\"},\"size\":" +
                           field("size") + ",\"crc32\":\"" + field("crc32") + "\",\"sha1\":\"" +
                           field("sha1") + "\",\"content\":\"" + field("content").substr(0, 40) +
                           "\"}]}\n";
  const Ran ran = D88({"hash", "--json", disk.path, empty.path, disk.path + ".none", disk.path});
  EXPECT_EQ(ran.status, 1);
  EXPECT_EQ(ran.out, line + line);
  EXPECT_EQ(ran.err, "d88: " + empty.path + " holds no disk image\nd88: cannot open " + disk.path +
                         ".none: No such file or directory\n");
}

// A track whose records lead to the next track's start neither by their
// data lengths nor by their sizes is left as it is, and fix says so.
TEST(Fix, LeavesWhatNoReadingExplains) {
  Image image = TwoFiles(k2DD);
  for (Record& rec : image.tracks[8]) rec.sectorCount = 20;
  image.tracks[8][4].data.resize(519);
  const Disk disk(image.Build());
  const Ran ran = D88({"fix", disk.path});
  EXPECT_EQ(ran.status, 0);
  EXPECT_EQ(ran.out, "nothing to repair\n");
  EXPECT_EQ(ran.err,
            "d88: image 0: track 8: its records do not end where the next track begins; their "
            "counts and data lengths are left as they are\n");
  EXPECT_EQ(disk.Now(), image.Build());
}

// Each option of the new verbs where it does not apply, and a path too
// many: one line and the pointer to --help, status 1.
TEST(HeaderVerbs, OptionsWhereTheyDoNotApply) {
  const struct {
    std::vector<std::string> args;
    std::string err;
  } rows[] = {
      {{"list", "--name", "X", "c.d88"}, "--name applies to set only"},
      {{"fix", "--media", "2DD", "c.d88"}, "--media applies to set only"},
      {{"fix", "-i", "1", "c.d88"}, "-i applies to list, extract, cat, map, add, rm and set only"},
      {{"hash", "-o", "o.d88", "c.d88"}, "-o applies to add, rm, set and fix only"},
      {{"set", "--json", "c.d88"}, "--json does not apply to set"},
      {{"hash", "--fs", "flat", "c.d88"}, "--fs applies to list, test, map, extract and cat only"},
      {{"fix", "a.d88", "b.d88"}, "more than one container given: b.d88"},
  };
  for (const auto& row : rows) {
    const Ran ran = D88(row.args);
    EXPECT_EQ(ran.status, 1);
    EXPECT_EQ(ran.err, "d88: " + row.err + "\nTry 'd88 --help' for more information.\n");
  }
}

}  // namespace
