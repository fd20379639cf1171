// d88 end to end, in-process: the lines, JSON, exit statuses and files a
// user sees, on containers made by the builder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "d88/D88.h"
#include "diskimage/DiskImage.h"
#include "output/Sink.h"
#include "testing/CheckedRun.h"
#include "testing/FatBuilder.h"
#include "testing/FolderTree.h"
#include "views/JsonWriter.h"

using namespace d88test;

namespace {

#if defined(_WIN32)
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// text as a JSON string holds it: a path's backslashes doubled.
std::string JsonEscaped(const std::string& text) {
  std::string escaped;
  for (const char c : text) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return escaped;
}

// A 2HD disk of three files; `damage` loses sector 6 of track 0, cuts
// sector 7 to 300 bytes and flags sector 3 of track 2 bad.
Image ThreeFiles(const Medium& medium, bool damage) {
  DiskBuilder disk(medium);
  disk.AddFile("READ", Text("read me\r\n"));
  disk.AddFile("TBL", PatternBytes(4096, 1));
  disk.AddFile("LONG", PatternBytes(12192, 2));
  Image image = disk.Build();
  image.name = "DISK \xb1";  // a half-width katakana A
  if (damage) {
    image.tracks[0].erase(image.tracks[0].begin() + 5);
    for (Record& rec : image.tracks[0]) rec.sectorCount = 7;
    image.tracks[0][5].dataLength = 300;
    image.tracks[0][5].data.resize(300);
    image.tracks[2][2].status = 0xB0;
  }
  return image;
}

// A 2DD disk of 100 tracks whose entries end at the disk's end, run past
// it, end at or run past the buffer's end, have a negative size or lie on
// a lost track and past it, or are empty; one is named with Shift_JIS
// bytes, the last undecodable.
Bytes OddEntries() {
  DiskBuilder disk(k2DD);
  disk.AddEntry(EntryBytes("END", disk.LocationOf(160 * 9 - 1), 512));
  disk.AddEntry(EntryBytes("ZERO", 160 << 4, 1));
  disk.AddEntry(EntryBytes("EDGE", 273 << 4 | 6, 512));
  disk.AddEntry(EntryBytes("CUT", 273 << 4, 5000));
  disk.AddEntry(EntryBytes("NEG", 0x30, -1));
  disk.AddEntry(EntryBytes("\x83\x65\xff", 0x30, 1));
  disk.AddEntry(EntryBytes("GONE", 99 << 4, 9 * 512));
  disk.AddEntry(EntryBytes("NIL", 0x30, 0));
  Image image = disk.Build(99);
  image.tracks[159] = disk.Build().tracks[159];
  return image.Build();
}

// The 2DD disk with the media byte of 2HD; badDirectory flags sector 3 of
// track 0, the directory's first.
Bytes Marked2HD(bool badDirectory = false) {
  Image image = ThreeFiles(k2DD, false);
  image.mediaType = 0x20;
  image.tracks[0][2].status = badDirectory ? 0xB0 : 0;
  return image.Build();
}

// A 2HD disk whose second entry names a file outside the directory.
Bytes Refused(const std::string& name = "../x") {
  DiskBuilder disk(k2HD);
  const std::uint16_t at = disk.AddFile("READ", Text("read me\r\n"));
  disk.AddEntry(EntryBytes(name, at, 1));
  return disk.Build(1).Build();
}

// The sound disk: TBL's sectors recorded with four error statuses, and
// LONG's first two with a deleted-data mark, by status and by mark byte.
Bytes Statuses() {
  Image image = ThreeFiles(k2HD, false);
  const std::uint8_t codes[] = {0xA0, 0xE0, 0xF0, 0x42};
  for (int i = 0; i < 4; ++i) image.tracks[0][4 + i].status = codes[i];
  image.tracks[1][0].status = 0x10;
  image.tracks[1][1].deletedMark = 0x10;
  return image.Build();
}

// The sound disk with 64 foreign records ahead of track 2's sectors, whose
// sector 3 has a data CRC error.
Bytes BadBehindStrays() {
  Image image = ThreeFiles(k2HD, false);
  std::vector<Record>& track2 = image.tracks[2];
  track2[2].status = 0xB0;
  track2.insert(track2.begin(), 64, MakeRecord(9, 0, 1, 3, 0, Bytes(16)));
  for (Record& rec : track2) rec.sectorCount = 72;
  return image.Build();
}

// The first `length` bytes of bytes.
Bytes Cut(Bytes bytes, std::size_t length) {
  bytes.resize(length);
  return bytes;
}

// bytes with the first image's size field set to size.
Bytes SizeField(Bytes bytes, std::uint32_t size) {
  PutLE(bytes, 28, size);
  return bytes;
}

// The sound 2HD disk (1281968 bytes) cut 500 bytes into the data of
// track 2's sector 4, the last of LONG.
const std::size_t kInLastSector = 688 + 19 * 1040 + 16 + 500;

// A scratch directory: the working directory of a fresh sandbox.
struct ScratchDir {
  d88check::Sandbox box;  // goes with everything in it

  std::string File(const std::string& name) const { return box.WorkDir() + "/" + name; }
};

struct D88Run {
  int status;
  std::string out, err;
};

std::string ReadBack(std::FILE* f) {
  std::string text;
  std::rewind(f);
  for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
  std::fclose(f);
  return text;
}

// Returns how often needle occurs in text.
std::size_t Count(const std::string& text, const std::string& needle) {
  std::size_t count = 0;
  for (std::size_t at = 0; (at = text.find(needle, at)) != std::string::npos; at += needle.size())
    ++count;
  return count;
}

// Runs d88 with args, "{C}" standing for container's path, in-process;
// standard output or error goes to fullOut or fullErr when given, and
// reads back empty.
D88Run RunD88With(std::vector<std::string> args, const Bytes& container, const ScratchDir& dir,
                  std::FILE* fullOut = nullptr, std::FILE* fullErr = nullptr) {
  const std::string path = dir.File("c.d88");
  WriteFileBytes(path, container);
  std::vector<const char*> argv = {"d88"};
  for (std::string& a : args) {
    if (a.rfind("{C}", 0) == 0) a.replace(0, 3, path);
    argv.push_back(a.c_str());
  }
  const auto cwd = std::filesystem::current_path();
  diskimage::DiskImage disk;
  std::FILE* out = fullOut != nullptr ? fullOut : std::tmpfile();
  std::FILE* err = fullErr != nullptr ? fullErr : std::tmpfile();
  errno = 0;  // as in a fresh process, so that no reason is left over
  const int status =
      d88::RunD88(disk, static_cast<int>(argv.size()), argv.data(), d88::Console{out, err});
  std::filesystem::current_path(cwd);
  return D88Run{status, fullOut != nullptr ? (std::fclose(out), "") : ReadBack(out),
                fullErr != nullptr ? (std::fclose(err), "") : ReadBack(err)};
}

// Checks that the parser command accepts the file at path; a check left
// out under Wine and where the POSIX tool is not installed.
void ExpectParses([[maybe_unused]] const std::string& parser,
                  [[maybe_unused]] const std::string& path) {
#if !defined(_WIN32)
  const std::string tool = parser.substr(0, parser.find(' '));
  if (std::system(("command -v " + tool + " >/dev/null").c_str()) != 0) return;
  EXPECT_EQ(std::system((parser + " '" + path + "' >/dev/null").c_str()), 0) << parser;
#endif
}

// False for the rows whose outcome Windows decides otherwise: it gives
// other reasons, and refuses control bytes in file names.
bool RunsHere([[maybe_unused]] const std::string& what) {
#if defined(_WIN32)
  for (const char* posixOnly :
       {"a directory", "extract under a file", "extract control names", "control path"})
    if (what == posixOnly) return false;
#endif
  return true;
}

struct Case {
  const char* what;
  std::vector<std::string> args;
  Bytes container;
  int status;
  std::string out, err;
};

// Runs each case in a scratch directory of its own, "{C}" in the expected
// error standing for the container's path too.
template <std::size_t N>
void ExpectCases(const Case (&cases)[N]) {
  for (const Case& c : cases) {
    if (!RunsHere(c.what)) continue;
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    const D88Run r = RunD88With(c.args, c.container, dir);
    std::string err = c.err;
    for (std::size_t at; (at = err.find("{C}")) != std::string::npos;)
      err.replace(at, 3, dir.File("c.d88"));
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, err);
  }
}

TEST(D88, VerbsPrintWhatIsWrong) {
  const Bytes damaged = ThreeFiles(k2HD, true).Build();
  const Bytes sound = ThreeFiles(k2HD, false).Build();
  const Bytes blank = Image{"", 0, {}, {}}.Build();  // no medium
  const std::string tblDamage = "damaged: TRK=00 SEC=06 missing, TRK=00 SEC=07 short";
  const std::string sizeWarning =
      "d88: image 0: size field 0 is smaller than an image header; taken to run to the end of "
      "the file\n";
  const std::string extracted =
      "MEDIA TYPE=2HD\nREAD TRK=00 SEC=04 SIZE=9\nTBL  TRK=00 SEC=05 SIZE=4096\n"
      "LONG TRK=01 SEC=01 SIZE=12192\n";
  const Case cases[] = {
      {"list",
       {"list", "{C}"},
       damaged,
       0,
       "image 0 \"DISK \xef\xbd\xb1\": media byte 0x20, medium 2HD, size 1280204, 154 tracks "
       "recorded\n"
       "READ TRK=00 SEC=04 SIZE=9  intact\n"
       "TBL  TRK=00 SEC=05 SIZE=4096  " +
           tblDamage +
           "\n"
           "LONG TRK=01 SEC=01 SIZE=12192  damaged: TRK=02 SEC=03 data CRC error\n",
       ""},
      {"test damaged",
       {"test", "{C}"},
       damaged,
       2,
       "image 0: TBL: " + tblDamage +
           "\nimage 0: LONG: damaged: TRK=02 SEC=03 data CRC error\n"
           "3 files in 1 image: 1 intact, 2 damaged\n",
       ""},
      {"test directory",
       {"test", "{C}"},
       Marked2HD(true),
       2,
       "image 0: directory damaged: TRK=00 SEC=03 data CRC error, entries may be lost\n"
       "3 files in 1 image: 3 intact, 0 damaged, 1 damaged directory\n",
       "d88: image 0: media byte 0x20, records are 2DD\n"},
      {"extract directory",
       {"extract", "-C", "{C}.out", "{C}"},
       Marked2HD(true),
       2,
       "MEDIA TYPE=2DD\nREAD TRK=00 SEC=06 SIZE=9\nTBL  TRK=00 SEC=07 SIZE=4096\n"
       "LONG TRK=01 SEC=06 SIZE=12192\ndamaged: directory\n",
       "d88: image 0: media byte 0x20, records are 2DD\n"},
      {"test two disks",
       {"test", "{C}"},
       Concat({sound, sound}),
       0,
       "6 files in 2 images: 6 intact, 0 damaged\n",
       ""},
      {"test mislabelled",
       {"test", "{C}"},
       Marked2HD(),
       0,
       "3 files in 1 image: 3 intact, 0 damaged\n",
       "d88: image 0: media byte 0x20, records are 2DD\n"},
      {"test unknown medium",
       {"test", "{C}"},
       blank,
       2,
       "image 0: medium unknown (media byte 0x00), files not checked\n"
       "0 files in 1 image: 0 intact, 0 damaged, 1 image of unknown medium\n",
       ""},
      {"test odd entries",
       {"test", "{C}"},
       OddEntries(),
       2,
       "image 0: ZERO: reads zeros beyond the disk\nimage 0: EDGE: reads zeros beyond the disk\n"
       "image 0: CUT: cut off; reads zeros beyond the disk\nimage 0: NEG: cut off\n" +
           std::string(kWindows ? "image 0: \xe3\x83\x86\\xff: intact; cannot be written under its "
                                  "name\n"
                                : "") +
           "image 0: GONE: damaged: TRK=63 SEC=01 missing, TRK=63 SEC=02 missing, TRK=63 SEC=03 "
           "missing, "
           "TRK=63 SEC=04 missing, TRK=63 SEC=05 missing, TRK=63 SEC=06 missing, TRK=63 SEC=07 "
           "missing, "
           "TRK=63 SEC=08 missing and 1 more\n8 files in 1 image: 3 intact, 5 damaged" +
           std::string(kWindows ? ", 1 file that cannot be written under its name" : "") + "\n",
       ""},
      {"test statuses",
       {"test", "{C}"},
       Statuses(),
       2,
       "image 0: TBL: damaged: TRK=00 SEC=05 ID CRC error, TRK=00 SEC=06 no address mark, "
       "TRK=00 SEC=07 no data mark, TRK=00 SEC=08 error status 0x42\n"
       "3 files in 1 image: 2 intact, 1 damaged\n",
       ""},
      {"test bad behind 64 records",
       {"test", "{C}"},
       BadBehindStrays(),
       2,
       "image 0: LONG: damaged: TRK=02 SEC=03 data CRC error\n"
       "3 files in 1 image: 2 intact, 1 damaged\n",
       ""},
      {"test cut in the last sector",
       {"test", "{C}"},
       Cut(sound, kInLastSector),
       2,
       "image 0: cut short: the file holds 20964 of its 1281968 bytes\n"
       "image 0: LONG: damaged: TRK=02 SEC=04 cut\n"
       "3 files in 1 image: 2 intact, 1 damaged, 1 image cut short\n",
       ""},
      {"extract cut in the last sector",
       {"extract", "-C", "{C}.out", "{C}"},
       Cut(sound, kInLastSector),
       2,
       extracted + "damaged: LONG\n",
       "d88: image 0: cut short: the file holds 20964 of its 1281968 bytes\n"},
      {"test second disk cut in half",
       {"test", "{C}"},
       Concat({sound, Cut(sound, 1281968 / 2)}),
       2,
       "image 1: cut short: the file holds 640984 of its 1281968 bytes\n"
       "6 files in 2 images: 6 intact, 0 damaged, 1 image cut short\n",
       ""},
      {"extract second disk cut in half",
       {"extract", "-i", "1", "-C", "{C}.out", "{C}"},
       Concat({sound, Cut(sound, 1281968 / 2)}),
       2,
       extracted,
       "d88: image 1: cut short: the file holds 640984 of its 1281968 bytes\n"},
      {"list size 0",
       {"list", "{C}"},
       Bytes(688, 0),
       0,
       "image 0 \"\": media byte 0x00, medium unknown, size 0, 0 tracks recorded\n",
       sizeWarning},
      {"test size 0",
       {"test", "{C}"},
       SizeField(sound, 0),
       0,
       "3 files in 1 image: 3 intact, 0 damaged\n",
       sizeWarning},
      {"list size over 2^31",
       {"list", "{C}"},
       SizeField(sound, 0x80000100),
       0,
       "image 0 \"DISK \xef\xbd\xb1\": media byte 0x20, medium 2HD, size 2147483904, 154 tracks "
       "recorded\nimage 0: cut short: the file holds 1281968 of its 2147483904 bytes\n"
       "READ TRK=00 SEC=04 SIZE=9  intact\nTBL  TRK=00 SEC=05 SIZE=4096  intact\n"
       "LONG TRK=01 SEC=01 SIZE=12192  intact\n",
       ""},
      {"version", {"--version"}, {}, 0, "d88 1.0.0\n", ""},
      {"extract refuses",
       {"extract", "-C", "{C}.out", "{C}"},
       Refused(),
       1,
       "MEDIA TYPE=2HD\nREAD TRK=00 SEC=04 SIZE=9\n../x TRK=00 SEC=04 SIZE=1\n",
       "d88: cannot write the file \"../x\": not a plain file name\n"},
      {"extract makes the path", {"extract", "-C", "{C}.a/b/c", "{C}"}, sound, 0, extracted, ""},
  };
  ExpectCases(cases);
}

// A failure: status 1, nothing on standard output, one message that says
// why ("{C}" stands for the container's path).
Case Failure(const char* what, std::vector<std::string> args, Bytes container,
             const std::string& err) {
  return Case{what, std::move(args), std::move(container), 1, "", "d88: " + err + "\n"};
}

TEST(D88, FailuresSayWhy) {
  const Bytes sound = ThreeFiles(k2HD, false).Build(), blank = Image{"", 0, {}, {}}.Build();
  const std::string more = "\nTry 'd88 --help' for more information.";
  const std::string noFile = "No such file or directory";
  const Case failures[] = {
      Failure("no image", {"test", "{C}"}, {}, "{C} holds no disk image"),
      Failure("no file", {"list", "{C}.none"}, {}, "cannot open {C}.none: " + noFile),
      Failure("a directory", {"map", "."}, {}, "cannot open .: Is a directory"),
      Failure("no verb", {}, {}, "no verb given" + more),
      Failure("bad verb", {"lst", "{C}"}, {}, "unknown verb: lst" + more),
      Failure("-C on list", {"list", "-C", "x", "{C}"}, {}, "-C applies to extract only" + more),
      Failure("bad -i", {"extract", "-i", "64", "{C}"}, {}, "not an image index (0-63): 64" + more),
      Failure("two containers", {"map", "a", "b"}, {}, "more than one container given: b" + more),
      Failure("-j on map", {"map", "-j2", "{C}"}, {}, "-j applies to list and test only" + more),
      Failure("bad -j", {"test", "-j", "65", "{C}"}, {}, "not a number of jobs (1-64): 65" + more),
      Failure("-- ends options", {"test", "--", "-x"}, {}, "cannot open -x: " + noFile),
      Failure("no -i image", {"extract", "-i", "1", "{C}"}, sound,
              "{C} has no image 1 (it holds 1)"),
      Failure("extract under a file", {"extract", "-C", "{C}/a", "{C}"}, sound,
              "cannot make the directory {C}/a: Not a directory"),
      Failure("svg nowhere", {"map", "--svg", "{C}.none/m.svg", "{C}"}, sound,
              "cannot write {C}.none/m.svg: " + noFile),
      Failure("extract unknown", {"extract", "{C}"}, blank,
              "image 0: medium unknown (media byte 0x00)"),
      Failure("control path", {"list", "{C}\x1b[2J"}, {}, "cannot open {C}\\x1b[2J: " + noFile),
      Failure("verb", {"\x9b\x07"}, {}, "unknown verb: \x9b\\x07" + more),
  };
  ExpectCases(failures);
}

TEST(D88, JsonNamesTheFieldsAndDecodesNames) {
  ScratchDir dir;
  const D88Run r = RunD88With({"list", "--json", "{C}"}, OddEntries(), dir);
  EXPECT_EQ(r.status, 0);
  for (const char* line :
       {"\"mediaByte\": 16,", "\"medium\": \"2DD\",", "\"mediumFromRecords\": false,",
        "\"text\": \"\xe3\x83\x86\\\\xff\",", "\"hex\": \"8365ff\"", "\"cutOff\": true,",
        "\"beyondDisk\": true", "\"damaged\": 5", "\"damagedSectorCount\": 9,"}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(Count(r.out, "{\"track\": "), 8u);  // GONE's first 8 of 9 lost sectors
  // A directory sector with a CRC error: its entries listed as the text lists them.
  const D88Run worn = RunD88With({"list", "--json", "{C}"}, Marked2HD(true), dir);
  EXPECT_EQ(Count(worn.out, "\"intact\": true,"), 3u) << worn.out;
  // Image 1 of each: a size field over 2^31, then one too small.
  for (const Bytes& second : {SizeField(ThreeFiles(k2HD, false).Build(), 0x80000100),
                              SizeField(ThreeFiles(k2HD, false).Build(), 5)}) {
    const bool big = second[31] == 0x80;
    const D88Run two = RunD88With({"test", "--json", "{C}"},
                                  Concat({ThreeFiles(k2HD, true).Build(), second}), dir);
    EXPECT_EQ(two.status, 2);
    // Exactly the damaged sectors (TBL's two, LONG's one) and the six files.
    EXPECT_EQ(Count(two.out, "{\"track\": "), 3u);
    EXPECT_EQ(Count(two.out, "\"cutOff\": "), 6u);
    for (const char* line :
         {"{\"track\": 2, \"sector\": 3, \"state\": \"bad status\", \"status\": 176, \"error\": "
          "\"data CRC error\"}",
          big ? "\"size\": 2147483904," : "\"size\": 5,",
          big ? "\"cutShort\": true," : "\"sizeFieldBroken\": true,", "\"bytesInFile\": 1281968,",
          "\"images\": 2,", big ? "\"cutShort\": 1" : "\"cutShort\": 0"}) {
      EXPECT_NE(two.out.find(line), std::string::npos) << line;
    }
  }
  WriteFileBytes(dir.File("list.json"), Text(r.out));
  ExpectParses("python3 -m json.tool", dir.File("list.json"));
  EXPECT_EQ(r.out.substr(0, 12), "{\n  \"path\": ");
  EXPECT_EQ(r.out.substr(r.out.size() - 29), "  },\n  \"status\": \"damaged\"\n}\n");
}

// A disk whose names would drive a terminal: ESC, BEL and DEL, a byte
// Windows decodes to a C1 control, the UTF-8 bytes of one; the entry "\x1b[2J"
// is cut off.  A kana name beside them.
Bytes ControlNames() {
  DiskBuilder disk(k2HD);
  const std::uint16_t at = disk.AddFile("B\x07\x7f", Text("b"));
  disk.AddEntry(EntryBytes("\x1b[\xb2J", at, -1));
  disk.AddFile("\xc2\x85", Text("c"));
  disk.AddFile("\xb1\xb2", Text("d"));
  Image image = disk.Build(2);
  image.name = "\x1b]0;T\x07\x80";
  return image.Build();
}

TEST(D88, NamesReachTheTerminalEscaped) {
  const std::string listing =
      "B\\x07\\x7f TRK=00 SEC=04 SIZE=1\n\\x1b[\uff72J TRK=00 SEC=04 SIZE=-1\n"
      "\xef\xbe\x82\\x85 TRK=00 SEC=05 SIZE=1\n\uff71\uff72   TRK=00 SEC=06 SIZE=1\n";
  // Windows writes no control character into a name.
  const std::string refused = kWindows ? "; cannot be written under its name" : "";
  const std::string listed = "B\\x07\\x7f TRK=00 SEC=04 SIZE=1  intact" + refused +
                             "\n\\x1b[\uff72J TRK=00 SEC=04 SIZE=-1  cut off" + refused +
                             "\n\xef\xbe\x82\\x85 TRK=00 SEC=05 SIZE=1  intact" + refused +
                             "\n\uff71\uff72   TRK=00 SEC=06 SIZE=1  intact\n";
  const std::string tested =
      kWindows ? "image 0: B\\x07\\x7f: intact" + refused + "\nimage 0: \\x1b[\uff72J: cut off" +
                     refused + "\nimage 0: \xef\xbe\x82\\x85: intact" + refused +
                     "\n4 files in 1 image: 3 intact, 1 damaged, 3 files that cannot be written "
                     "under their names\n"
               : "image 0: \\x1b[\uff72J: cut off\n4 files in 1 image: 3 intact, 1 damaged\n";
  const Case cases[] = {
      {"list",
       {"list", "{C}"},
       ControlNames(),
       0,
       "image 0 \"\\x1b]0;T\\x07\\x80\": media byte 0x20, medium 2HD, size 17328, 2 tracks "
       "recorded\n" +
           listed,
       ""},
      {"test", {"test", "{C}"}, ControlNames(), 2, tested, ""},
      {"extract control names",
       {"extract", "-C", "{C}.out", "{C}"},
       ControlNames(),
       2,
       "MEDIA TYPE=2HD\n" + listing + "damaged: \\x1b[\uff72J\n",
       ""},
  };
  ExpectCases(cases);
  ScratchDir dir;
  const D88Run map = RunD88With({"map", "{C}"}, ControlNames(), dir);
  EXPECT_EQ(map.out.substr(0, map.out.find(", 2HD")), "image 0 \"\\x1b]0;T\\x07\\x80\"");
  EXPECT_NE(map.out.find("\nfiles: A=B\\x07\\x7f  B=\\x1b[\xb2J  C=\\xc2\\x85  D=\xb1\xb2\n"),
            std::string::npos);
  // JSON escapes DEL as it does the C0 controls.
  const D88Run json = RunD88With({"list", "--json", "{C}"}, ControlNames(), dir);
  EXPECT_NE(json.out.find("\"text\": \"B\\u0007\\u007f\""), std::string::npos);
}

// Nesting past the JSON writer's depth breaks the document: nothing more
// is written, and a verb that sees it fails.
TEST(D88, JsonWriterRefusesDeeperNesting) {
  std::FILE* stream = std::tmpfile();
  output::Sink sink(stream);
  views::JsonWriter json(sink);
  for (int depth = 0; depth < 8; ++depth) json.Begin(nullptr, '[');
  EXPECT_FALSE(json.Broken());
  json.Begin(nullptr, '{');
  json.Int("key", 1);
  for (int depth = 0; depth < 9; ++depth) json.End();
  EXPECT_TRUE(json.Broken());
  EXPECT_TRUE(sink.Finish());
  EXPECT_EQ(ReadBack(stream).find("key"), std::string::npos);
}

#if defined(__linux__)
// Output lost on a full device ends every verb with status 1 and the
// system's reason; standard error lost ends it with status 1 too.
TEST(D88, LostOutputFails) {
  const std::string warning = "d88: image 0: media byte 0x20, records are 2DD\n";
  const std::string full = ": No space left on device\n",
                    lost = "d88: cannot write standard output";
  // The arguments, and what standard error says when standard output (or,
  // for the last, standard error itself) is on the full device.
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"list", "{C}"}, warning + lost + full},
      {{"list", "--json", "{C}"}, warning + lost + full},
      {{"test", "{C}"}, warning + lost + full},
      {{"test", "--json", "{C}"}, warning + lost + full},
      {{"list", "{C}", "{C}"}, lost + full},
      {{"test", "--json", "{C}", "{C}"}, lost + full},
      {{"map", "{C}"}, warning + lost + full},
      {{"map", "--json", "{C}"}, warning + lost + full},
      {{"map", "--svg", "/dev/full", "{C}"}, warning + "d88: cannot write /dev/full" + full},
      {{"extract", "-C", "{C}.out", "{C}"}, warning + lost + full},
      {{"--help"}, lost + full},
      {{"--version"}, lost + full},
      {{"test", "{C}"}, ""}};
  for (const auto& [args, err] : cases) {
    SCOPED_TRACE(args[0] + " " + args[1 % args.size()]);
    ScratchDir dir;
    std::FILE* device = std::fopen("/dev/full", "w");
    ASSERT_NE(device, nullptr);
    const D88Run r = err.empty() ? RunD88With(args, Marked2HD(), dir, nullptr, device)
                                 : RunD88With(args, Marked2HD(), dir, device);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, err);
  }
}
#endif

// extract writes what d88extract writes, into the chosen directory, and
// names the damaged files; image 1 of two is reached.
TEST(D88, ExtractWritesTheSameFiles) {
  const Bytes damaged = ThreeFiles(k2HD, true).Build();
  ScratchDir dir;
  const std::string out = dir.File("out");
  const D88Run r = RunD88With({"extract", "-C", out, "{C}"}, damaged, dir);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out,
            "MEDIA TYPE=2HD\nREAD TRK=00 SEC=04 SIZE=9\nTBL  TRK=00 SEC=05 SIZE=4096\n"
            "LONG TRK=01 SEC=01 SIZE=12192\ndamaged: TBL LONG\n");
  d88check::Sandbox reference;
  const d88check::RunReport tool = reference.Run(damaged.data(), damaged.size(), true);
  EXPECT_EQ(tool.status, 0);
  for (const char* name : {"READ", "TBL", "LONG"})
    EXPECT_EQ(tool.files.at(name), ReadFileBytes(out + "/" + name));

  ScratchDir second;
  DiskBuilder diskB(k2HD);
  diskB.AddFile("DATA", Text("disk B\r\n"));
  const D88Run b = RunD88With({"extract", "-i", "1", "-C", second.File("B"), "{C}"},
                              Concat({damaged, diskB.Build().Build()}), second);
  EXPECT_EQ(b.status, 0);
  EXPECT_EQ(b.out, "MEDIA TYPE=2HD\nDATA TRK=00 SEC=04 SIZE=8\n");
  EXPECT_EQ(Text("disk B\r\n"), ReadFileBytes(second.File("B/DATA")));
  // Nothing but the container and B.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(second.box.WorkDir()), {}), 2);
}

}  // namespace

namespace {

// The damaged disk with, on track 1, sector 2 repeated, sectors 3 and 4
// deleted (by status and by mark, single density), sector 5 long and
// sector 6 long and repeated; a record of cylinder 9 on track 3; and on
// track 4 a count of 0, which ends the track before any record.
Bytes Oddities() {
  Image image = ThreeFiles(k2HD, true);
  std::vector<Record>& track1 = image.tracks[1];
  for (int r : {4, 5}) {
    track1[r].data.resize(1100);
    track1[r].dataLength = 1100;
  }
  track1.push_back(track1[1]);
  track1.push_back(track1[5]);
  for (Record& rec : track1) rec.sectorCount = 10;
  image.tracks[3].push_back(MakeRecord(9, 0, 1, 3, 9, Bytes(1024)));
  for (Record& rec : image.tracks[3]) rec.sectorCount = 9;
  track1[2].status = 0x10;
  track1[3].deletedMark = 0x10;
  track1[3].density = 0x40;
  for (Record& rec : image.tracks[4]) rec.sectorCount = 0;
  image.tracks[4][0].c = 9;
  return image.Build();
}

// Three 2HD disks of 200 files each: a report longer than a worker's buffer.
Bytes ManyFiles() {
  DiskBuilder disk(k2HD);
  for (int i = 0; i < 200; ++i) disk.AddFile("F" + std::to_string(i), Bytes(1024));
  const Bytes one = disk.Build().Build();
  return Concat({one, one, one});
}

TEST(D88, MapShowsOwnersAndStates) {
  ScratchDir dir;
  const D88Run r = RunD88With({"map", "{C}"}, Oddities(), dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(
      r.out,
      "image 0 \"DISK \xef\xbd\xb1\", 2HD: a row per track, a cell per sector: its file (# the\n"
      "directory, . none), then x missing, c cut, s short, ! bad status, d duplicate ID,\n"
      "l long, m deleted mark, ? recorded twice with different data\n"
      "files: A=READ  B=TBL  C=LONG\n"
      "TRK 1  2  3  4  5  6  7  8\n"
      " 00 .  #  #  A  B  Bx Bs B\n"
      " 01 C  Cd Cm Cm Cl Cd C  C\n"
      " 02 C  C  C! C  .  .  .  .\n"
      " 03 .  .  .  .  .  .  .  .\n"
      " 04 .x .x .x .x .x .x .x .x\n"
      " 05 .  .  .  .  .  .  .  .\n"
      " .. to 99 the same\n"
      "1 record not belonging on their track:\n  TRK=03 holds C=09 H=00 R=01 N=03\n");

  const D88Run json = RunD88With({"map", "--json", "{C}"}, Oddities(), dir);
  const char* track1 =
      "    [[2, \"intact\", 0, 0, 0], [2, \"duplicate\", 0, 0, 0], [2, \"deleted mark\", 16, 0, "
      "0], "
      "[2, \"deleted mark\", 0, 64, 16], [2, \"long\", 0, 0, 0], [2, \"duplicate\", 0, 0, 0],";
  EXPECT_NE(json.out.find(track1), std::string::npos);
  EXPECT_NE(json.out.find("  \"strayRecordCount\": 1,\n  \"strayRecords\": [\n    {\"track\": 3, "
                          "\"c\": 9, \"h\": 0, \"r\": 1, \"n\": 3}"),
            std::string::npos);
  WriteFileBytes(dir.File("map.json"), Text(json.out));
  ExpectParses("python3 -m json.tool", dir.File("map.json"));

  // 64 strays: the first 32 listed.
  const D88Run strays = RunD88With({"map", "{C}"}, BadBehindStrays(), dir);
  EXPECT_EQ(Count(strays.out, " holds C="), 32u);
  EXPECT_NE(strays.out.find("\n  and 32 more\n"), std::string::npos);
  // Track 2 ends inside LONG's last sector; its walk runs into the end.
  const D88Run cut = RunD88With({"map", "{C}"}, Cut(Statuses(), kInLastSector), dir);
  EXPECT_EQ(cut.status, 0);
  EXPECT_NE(cut.out.find("\n 00 .  #  #  A  B! B! B! B!\n 01 Cm Cm C  C  C  C  C  C\n"
                         " 02 C  C  C  Cc .c .c .c .c\n 03 .c"),
            std::string::npos);
  EXPECT_EQ(cut.err, "d88: image 0: cut short: the file holds 20964 of its 1281968 bytes\n");
  // Files 27 to 52 in small letters, the rest as '*'.
  const D88Run many = RunD88With({"map", "{C}"}, ManyFiles(), dir);
  EXPECT_NE(many.out.find(" 03 V  W  X  Y  Z  a  b  c\n 04 d  e  f  g  h  i  j  k\n 05 l  m  n  o  "
                          "p  q  r  s\n 06 t  u  v  w  x  y  z  *\n 07 *  *  *"),
            std::string::npos);
}

// The picture is well-formed XML with one cell per sector of the medium
// and a track label every 16 tracks, the last at 0x90 on either medium.
TEST(D88, MapDrawsOneCellPerSector) {
  ScratchDir dir;
  const std::string svg = dir.File("map.svg");
  for (const auto& [container, cells] : {std::pair<Bytes, std::size_t>{Oddities(), 154 * 8},
                                         std::pair<Bytes, std::size_t>{Marked2HD(), 160 * 9}}) {
    EXPECT_EQ(RunD88With({"map", "--svg", svg, "{C}"}, container, dir).status, 0);
    const Bytes bytes = ReadFileBytes(svg);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(Count(text, "<rect class=\"cell "), cells);
    EXPECT_EQ(Count(text, "0</text>"), 10u);  // 00, 10, ... 90
    ExpectParses("xmllint --noout", svg);
    if (cells > 154 * 8) continue;
    EXPECT_NE(text.find("<title>TRK=01 SEC=04 deleted mark, density 0x40, LONG</title>"),
              std::string::npos);
    EXPECT_NE(text.find("<title>TRK=02 SEC=03 bad status (data CRC error), density 0x00, LONG"),
              std::string::npos);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// The fuzz corpus through the survey and every view; the entry aborts on a
// broken promise.
TEST(D88, SurveysTheFuzzCorpus) {
  int inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(D88_FUZZ_CORPUS)) {
    const Bytes bytes = ReadFileBytes(entry.path());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ++inputs;
  }
  EXPECT_GT(inputs, 0);
}

// d88 extract of FAT disks of every geometry, made by mkfs.fat and mcopy
// or by the project's builder, writes the tree, names, bytes and times
// that mcopy -s -m gives back (DOS times are local: a zone off UTC shows
// they are taken so), and fsck.fat finds the builder's disks clean.
TEST(D88, ExtractsFatDisksAsMcopyDoes) {
#if defined(_WIN32)
  GTEST_SKIP() << "no mtools on Windows";
#else
  if (!HaveMtools()) GTEST_SKIP() << "mkfs.fat or mtools missing";
  struct Zone {
    const char* was = std::getenv("TZ");
    std::string kept = was != nullptr ? was : "";
    Zone() { setenv("TZ", "JST-9", 1), tzset(); }
    ~Zone() { was != nullptr ? setenv("TZ", kept.c_str(), 1) : unsetenv("TZ"), tzset(); }
  } zone;
  ScratchDir dir;
  std::filesystem::create_directories(dir.File("in/Sub/Deeper"));
  std::filesystem::create_directories(dir.File("in/Empty"));
  for (const auto& [path, bytes] : kOracleTree) WriteFileBytes(dir.File("in/" + path), bytes);
  const auto shell = [](const std::string& command) { return std::system(command.c_str()); };
  ASSERT_EQ(shell("cd " + dir.File("in") + " && find . -exec touch -d '2001-02-03 04:05:06' {} +"),
            0);
  for (const FatFormat* format : {&kFatPc98, &kFat720K, &kFat640K, &kFat1440K, &kFat1200K}) {
    for (const bool builder : {false, true}) {
      const std::string name = std::to_string(format->sectorsPerTrack) + (builder ? "b" : "m");
      SCOPED_TRACE(name);
      const std::string image = dir.File(name + ".img"), mcopy = dir.File(name + "-mcopy");
      if (builder) {
        WriteFileBytes(image, BuildOracleTree(*format));
        EXPECT_EQ(shell("fsck.fat -n " + image + " >/dev/null"), 0);
      } else {
        ASSERT_TRUE(MakeMtoolsDisk(
            *format, dir.File("in"),
            "lower.txt UPPER.TXT 'A long file name.text' EMPTY.DAT Sub Empty", image));
      }
      std::filesystem::create_directories(mcopy);
      ASSERT_EQ(shell("MTOOLS_SKIP_CHECK=1 mcopy -s -n -m -i " + image + " '::*' " + mcopy), 0);
      const D88Run run = RunD88With({"extract", "-C", dir.File(name), "{C}"},
                                    WrapFat(ReadFileBytes(image), *format).Build(), dir);
      EXPECT_EQ(run.status, 0);
      EXPECT_EQ(run.err, "");
      auto mine = FolderTree(dir.File(name), true), theirs = FolderTree(mcopy, true);
      if (builder) {
        // mcopy decodes short names with a code page of its own: the kana
        // name is checked alone.
        EXPECT_EQ(mine["Sub/\uff76\uff85.TXT"].rfind(
                      std::string(kKanaBytes.begin(), kKanaBytes.end()), 0),
                  0u);
        for (auto* tree : {&mine, &theirs})
          for (auto at = tree->begin(); at != tree->end();)
            at = std::all_of(at->first.begin(), at->first.end(), [](char c) { return c > 0; })
                     ? std::next(at)
                     : tree->erase(at);
      } else {
        EXPECT_EQ(mine.at("Sub/Deeper"), "/ @981140706");
      }
      EXPECT_EQ(mine, theirs);
    }
  }
#endif
}

}  // namespace

// A collection beside the container {C}, in {C}.d: a sound disk, a damaged
// one whose name sorts before the folder b, b with two sound containers
// (one of many files), a file that is no container, text, and links that
// are not followed: a loop and a link to a container.  {C}.e holds one damaged disk named with ESC
// and a byte that is not UTF-8.
struct Collection {
  std::string root, odd, oddName;
  // The path of an entry of root, as the walk joins it.
  std::string At(const std::string& name) const {
#if defined(_WIN32)
    return root + "\\" + name;
#else
    return root + "/" + name;
#endif
  }

  explicit Collection(const ScratchDir& dir)
      : root(dir.File("c.d88.d")), odd(dir.File("c.d88.e")), oddName("\x1b\xff.d88") {
    namespace fs = std::filesystem;
    fs::create_directories(root + "/b");
    const Bytes sound = ThreeFiles(k2HD, false).Build();
    for (const char* name : {"a.d88", "b/C.D77"}) WriteFileBytes(root + "/" + name, sound);
    WriteFileBytes(root + "/b/d.1dd", ManyFiles());
    WriteFileBytes(root + "/b.88d", ThreeFiles(k2HD, true).Build());
    WriteFileBytes(root + "/junk.d98", Text("no disk"));
    for (const char* name : {"notes.txt", "notes.d8x"})
      WriteFileBytes(root + "/" + name, Text("text"));
#if !defined(_WIN32)
    fs::create_directory_symlink(root, root + "/b/loop");
    fs::create_symlink(root + "/a.d88", root + "/link.d88");
    fs::create_directories(odd);
    WriteFileBytes(odd + "/" + oddName, ThreeFiles(k2HD, true).Build());
#endif
  }
};

TEST(D88, AuditsACollectionInTheSameOrderWithAnyWorkers) {
  ScratchDir dir;
  const Collection c(dir);
  const std::string damaged =
      ":\nimage 0: TBL: damaged: TRK=00 SEC=06 missing, TRK=00 SEC=07 short\nimage 0: LONG: "
      "damaged: TRK=02 SEC=03 data CRC error\n";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out;
  } rows[] = {
      {{"test", "{C}.d"},
       1,
       c.At("b.88d") + damaged + c.At("junk.d98") +
           ": holds no disk image\n5 containers: 3 intact, 1 damaged, 1 unreadable; 609 files: "
           "607 intact, 2 damaged\n"},
      {{"test", "{C}.d/b", "{C}.d/a.d88"},
       0,
       "3 containers: 3 intact, 0 damaged, 0 unreadable; 606 files: 606 intact, 0 damaged\n"},
      {{"test", "{C}.d/a.d88", "{C}.d/b.88d"},
       2,
       c.root + "/b.88d" + damaged +
           "2 containers: 1 intact, 1 damaged, 0 unreadable; 6 files: 4 intact, 2 damaged\n"},
      {{"list", "{C}.d/b/C.D77", "{C}.d/none.d88"},
       1,
       c.root + "/b/C.D77:\nimage 0 \"DISK \xef\xbd\xb1\": media byte 0x20, medium 2HD, size " +
           "1281968, 154 tracks recorded\nREAD TRK=00 SEC=04 SIZE=9  intact\nTBL  TRK=00 " +
           "SEC=05 SIZE=4096  intact\nLONG TRK=01 SEC=01 SIZE=12192  intact\n" + c.root +
           "/none.d88: cannot open: No such file or directory\n2 containers: 1 intact, 0 " +
           "damaged, 1 unreadable; 3 files: 3 intact, 0 damaged\n"},
  };
  for (const auto& row : rows) {
    for (const char* jobs : {"-j1", "-j4"}) {
      std::vector<std::string> args = row.args;
      args.insert(args.begin() + 1, jobs);
      SCOPED_TRACE(args[2] + " " + jobs);
      const D88Run r = RunD88With(args, ThreeFiles(k2HD, false).Build(), dir);
      EXPECT_EQ(r.status, row.status);
      EXPECT_EQ(r.out, row.out);
      EXPECT_EQ(r.err, "");
    }
  }
}

TEST(D88, AuditsACollectionInJsonLines) {
  ScratchDir dir;
  const Collection c(dir);
  const D88Run r = RunD88With({"test", "--json", "-j", "3", "{C}.d"}, {}, dir);
  EXPECT_EQ(r.status, 1);
  WriteFileBytes(dir.File("lines.json"), Text(r.out));
  ExpectParses("python3 -c 'import json,sys; [json.loads(l) for l in open(sys.argv[1])]'",
               dir.File("lines.json"));
  std::size_t at = 0;
  for (const char* status : {"intact", "damaged", "intact", "intact", "unreadable"}) {
    const std::size_t end = r.out.find('\n', at);
    const std::string line = r.out.substr(at, end - at);
    EXPECT_EQ(line.rfind("{\"path\":\"", 0), 0u) << line;
    EXPECT_NE(line.find(std::string("\"status\":\"") + status + "\""), std::string::npos) << line;
    at = end + 1;
  }
  EXPECT_EQ(
      r.out.substr(at),
      "{\"summary\":{\"containers\":5,\"intact\":3,\"damaged\":1,\"unreadable\":1,"
      "\"notContainers\":0,\"images\":6,\"files\":609,\"intactFiles\":607,\"damagedFiles\":2}}\n");
  EXPECT_EQ(RunD88With({"test", "--json", "-j1", "{C}.d"}, {}, dir).out, r.out);
  // list finds no fault in damage.
  const D88Run list = RunD88With({"list", "--json", "{C}.d/b.88d", "{C}.d/a.d88"}, {}, dir);
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(Count(list.out, "\n"), 3u);
  EXPECT_NE(list.out.substr(0, list.out.find('\n')).find("\"status\":\"damaged\""),
            std::string::npos);
#if !defined(_WIN32)
  // A path's controls escaped, and a byte that is not UTF-8 replaced and
  // kept in hex.
  const D88Run text = RunD88With({"test", "{C}.e"}, {}, dir);
  EXPECT_EQ(text.out.rfind(c.odd + "/\\x1b\xff.d88:\nimage 0: TBL", 0), 0u) << text.out;
  const D88Run json = RunD88With({"test", "--json", "{C}.e"}, {}, dir);
  EXPECT_NE(json.out.find("\\u001b\\ufffd.d88\",\"pathHex\":\""), std::string::npos);
  EXPECT_NE(json.out.find("1bff2e643838\",\"images\""), std::string::npos);
#endif
}

// A disk of cylinders x heads tracks, each of spt sectors of 128 << n
// bytes numbered from 1, marked media; junk fills the sectors with bytes
// a flat directory would take for entries.
Image Uniform(int cylinders, int heads, int spt, int n, int media, bool junk = true) {
  Image image{"D88EXTRACT TEST", static_cast<std::uint8_t>(media), {}, {}};
  for (int c = 0; c < cylinders; ++c) {
    for (int h = 0; h < heads; ++h) {
      for (int r = 1; r <= spt; ++r) {
        const auto bytes = static_cast<std::size_t>(128 << n);
        image.tracks[c * 2 + h].push_back(MakeRecord(
            c, h, r, n, spt, junk ? PatternBytes(bytes, static_cast<unsigned>(r)) : Bytes(bytes)));
      }
    }
  }
  return image;
}

TEST(D88, TellsTheGeometryTheRecordsShow) {
  // PC-98 BASIC: track 0 in 128-byte sectors.
  Image basic = Uniform(77, 2, 26, 1, 0x20);
  basic.tracks[0] = Uniform(1, 1, 26, 0, 0x20).tracks[0];
  // A 2HD disk whose track 0 lost a sector, whose track 1 is unformatted,
  // whose track 3 holds 12 records of 512 bytes and whose track 4 is
  // followed by stray ones.
  Image damaged = Uniform(77, 2, 8, 3, 0x20, false);
  damaged.tracks[0].pop_back();
  damaged.tracks.erase(1);
  damaged.tracks[3] = Uniform(2, 2, 12, 2, 0x20).tracks[3];
  for (int r = 9; r < 40; ++r) damaged.tracks[4].push_back(MakeRecord(9, 1, r, 3, 8, Bytes(1024)));
  Image oneSided = Uniform(40, 1, 16, 1, 0x00);
  const std::string unknown = "medium unknown, size {S}, ";
  struct Row {
    const char* what;
    Image image;
    std::string geometry;  // the JSON member
    std::string line;      // list's image line after the name
    int testStatus;
  } rows[] = {
      {"2D", Uniform(40, 2, 16, 1, 0x00),
       "{\"cylinders\": 40, \"heads\": 2, \"sectorsPerTrack\": 16, \"sectorBytes\": 256, "
       "\"family\": \"2D\"}",
       unknown + "80 tracks recorded, geometry 40x2x16x256 (2D)", 2},
      {"2DD8 marked 2DD", Uniform(80, 2, 8, 2, 0x10), "",
       unknown + "160 tracks recorded, geometry 80x2x8x512 (2DD8)", 2},
      {"1.2M marked 2HD", Uniform(80, 2, 15, 2, 0x20), "",
       unknown + "160 tracks recorded, geometry 80x2x15x512 (1.2M)", 2},
      {"1.44M marked 2HD", Uniform(80, 2, 18, 2, 0x20),
       "{\"cylinders\": 80, \"heads\": 2, \"sectorsPerTrack\": 18, \"sectorBytes\": 512, "
       "\"family\": \"1.44M\"}",
       unknown + "160 tracks recorded, geometry 80x2x18x512 (1.44M)", 2},
      {"1.44M marked 2DD", Uniform(80, 2, 18, 2, 0x10), "",
       unknown + "160 tracks recorded, geometry 80x2x18x512 (1.44M)", 2},
      {"PC-98 BASIC", basic,
       "\"family\": \"2HD26\", \"track0\": {\"sectorsPerTrack\": 26, \"sectorBytes\": 128}}",
       unknown + "154 tracks recorded, geometry 77x2x26x256 (2HD26), track 0 26x128", 2},
      {"one side", oneSided, "{\"cylinders\": 40, \"heads\": 1, ",
       unknown + "40 tracks recorded, geometry 40x1x16x256", 2},
      {"2DD of 82 cylinders", Uniform(82, 2, 9, 2, 0x10, false),
       "{\"cylinders\": 82, \"heads\": 2, \"sectorsPerTrack\": 9, \"sectorBytes\": 512, "
       "\"family\": null}",
       "medium 2DD, size {S}, 164 tracks recorded", 0},
      {"2HD of 2 tracks", Uniform(1, 2, 8, 3, 0x20, false),
       "{\"cylinders\": 77, \"heads\": 2, \"sectorsPerTrack\": 8, \"sectorBytes\": 1024, "
       "\"family\": \"2HD\"}",
       "medium 2HD, size {S}, 2 tracks recorded", 0},
      {"2HD damaged and strays", damaged,
       "{\"cylinders\": 77, \"heads\": 2, \"sectorsPerTrack\": 8, \"sectorBytes\": 1024, "
       "\"family\": \"2HD\", \"track0\": {\"sectorsPerTrack\": 7, ",
       "medium 2HD, size {S}, 153 tracks recorded", 0},
      {"2DD marked 2HD", Uniform(80, 2, 9, 2, 0x20, false), "\"family\": \"2DD\"}",
       "medium 2DD (from the records), size {S}, 160 tracks recorded", 0},
      {"nothing recorded", Image{"D88EXTRACT TEST", 0x00, {}, {}}, "\"geometry\": null",
       unknown + "0 tracks recorded", 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ScratchDir dir;
    const Bytes container = row.image.Build();
    char media[8];
    std::snprintf(media, sizeof media, "0x%02x", row.image.mediaType);
    std::string line =
        "image 0 \"D88EXTRACT TEST\": media byte " + std::string(media) + ", " + row.line + "\n";
    line.replace(line.find("{S}"), 3, std::to_string(container.size()));
    const D88Run list = RunD88With({"list", "{C}"}, container, dir);
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out, line);  // no junk listed
    const D88Run json = RunD88With({"list", "--json", "{C}"}, container, dir);
    EXPECT_NE(json.out.find(row.geometry), std::string::npos) << json.out;
    const D88Run test = RunD88With({"test", "{C}"}, container, dir);
    EXPECT_EQ(test.status, row.testStatus);
    const bool unknownMedium = row.line.rfind(unknown.substr(0, 14), 0) == 0;
    EXPECT_EQ(test.out.find("files not checked") != std::string::npos, unknownMedium);
  }
}

// FAT12 disks of mkfs.fat and mcopy, wrapped in D88, read through the
// file-system interface: the tree, sizes and verdicts d88 tells of, the
// damage it names, and the edits it refuses.
TEST(D88, ReadsFatDisksAndSaysWhatItCannotRead) {
#if defined(_WIN32)
  GTEST_SKIP() << "no mtools on Windows";
#else
  if (!HaveMtools()) GTEST_SKIP() << "mkfs.fat or mtools missing";
  ScratchDir dir;
  std::filesystem::create_directories(dir.File("in/Sub/Deeper"));
  std::filesystem::create_directories(dir.File("link"));
  WriteFileBytes(dir.File("in/HELLO.TXT"), Text("hello\n"));
  WriteFileBytes(dir.File("in/DATA.BIN"), PatternBytes(3000, 5));
  WriteFileBytes(dir.File("in/Sub/Deeper/big file.bin"), PatternBytes(50 * 1024, 3));
  std::filesystem::create_symlink("../in/DATA.BIN", dir.File("link/HELLO.TXT"));
  const auto fatDisk = [&](const FatFormat& format) {
    EXPECT_TRUE(
        MakeMtoolsDisk(format, dir.File("in"), "HELLO.TXT DATA.BIN Sub", dir.File("d.img")));
    return WrapFat(ReadFileBytes(dir.File("d.img")), format);
  };
  const Image pc98 = fatDisk(kFatPc98);
  const Image dos = fatDisk(kFat720K);
  // A sector by what it starts with: the big file's first, Sub's directory.
  const auto statusAt = [](Image image, const Bytes& start, std::uint8_t status, int skip = 0) {
    for (auto& [track, records] : image.tracks)
      for (Record& rec : records)
        if (std::equal(start.begin(), start.end(), rec.data.begin()) && skip-- == 0) {
          rec.status = status;
          return image;
        }
    ADD_FAILURE() << "no such sector";
    return image;
  };
  Image damaged = statusAt(pc98, Bytes(PatternBytes(64, 5)), 0xB0);
  damaged = statusAt(damaged, Text(".          \x10"), 0xB0, 1);  // Sub/Deeper's
  Image random = pc98;
  for (Record& rec : random.tracks[0]) rec.data = PatternBytes(1024, rec.r);
  random.tracks[0][0].data[21] = 0xFE;  // a media byte where a parameter block holds it

  const std::string tree = "image 0: FAT12\nHELLO.TXT 6 ";
  struct Row {
    const char* what;
    std::vector<std::string> args;
    Image image;
    int status;
    std::vector<std::string> said;  // each in the output, in order
    std::string notSaid;
  };
  const Row rows[] = {
      {"PC-98 2HD list",
       {"list", "{C}"},
       pc98,
       0,
       {tree, "Sub/ ", "Sub/Deeper/ ", "Sub/Deeper/big file.bin 51200 ", "intact\n"},
       "TRK="},
      {"720 KB list", {"list", "{C}"}, dos, 0, {tree, "Sub/Deeper/big file.bin 51200 "}, "TRK="},
      {"PC-98 2HD test",
       {"test", "{C}"},
       pc98,
       0,
       {"3 files in 1 image: 3 intact, 0 damaged\n"},
       ""},
      {"720 KB JSON",
       {"list", "--json", "{C}"},
       dos,
       0,
       {"\"fileSystem\": \"FAT12\"", "\"folders\": [", "\"Sub\"", "\"Sub/Deeper\"",
        "\"name\": {\"text\": \"HELLO.TXT\"", "\"size\": 6", "\"path\": {\"text\": \"HELLO.TXT\"",
        "\"path\": {\"text\": \"Sub/Deeper/big file.bin\"", "\"files\": 3"},
       "\"path\": {\"text\": \"Sub\""},
      {"damage named",
       {"test", "{C}"},
       damaged,
       2,
       {"image 0: DATA.BIN: damaged: TRK=", "data CRC error\n",
        "image 0: directory of Sub/Deeper/: damaged: TRK=", "data CRC error\n",
        "2 files in 1 image: 1 intact, 1 damaged, 1 damaged directory\n"},
       ""},
      {"random track 0",
       {"list", "{C}"},
       random,
       0,
       {"image 0: no file system recognised (", " flat directory entries start past the disk)\n"},
       "TRK="},
      {"random track 0 test",
       {"test", "{C}"},
       random,
       2,
       {"files not checked\n", "1 image with no file system recognised\n"},
       ""},
      {"extract past a link",
       {"extract", "-C", dir.File("link"), "{C}"},
       pc98,
       1,
       {"DATA.BIN\nSub/Deeper/big file.bin\n",
        "d88: cannot write \"HELLO.TXT\": a link or special file stands in its way\n"},
       ""},
      {"extract damaged",
       {"extract", "-C", dir.File("damaged"), "{C}"},
       damaged,
       2,
       {"HELLO.TXT\nDATA.BIN\ndamaged: DATA.BIN Sub/Deeper/\n"},
       ""},
      {"map",
       {"map", "{C}"},
       pc98,
       0,
       {"files: A=HELLO.TXT  B=DATA.BIN  C=Sub/  D=Sub/Deeper/  E=Sub/Deeper/big file.bin\n",
        " 01 #  #  #  A  B  B  B  C\n 02 D  E  E"},
       ""},
      {"random track 0 extract",
       {"extract", "-C", dir.File("out"), "{C}"},
       random,
       1,
       {"d88: image 0: no file system recognised"},
       ""},
      {"add on FAT12, too large",
       {"add", "{C}", "{C}", "--as", "AB"},
       dos,
       1,
       {"d88: image 0: cannot add ",
        " as AB: no room: 761856 bytes needed, 672768 free; nothing "
        "written\n"},
       ""},
      {"read as flat anyway", {"list", "--fs", "flat", "{C}"}, random, 0, {"TRK="}, "FAT12"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const Bytes container = row.image.Build();
    const D88Run run = RunD88With(row.args, container, dir);
    EXPECT_EQ(run.status, row.status);
    const std::string said = run.out + run.err;
    std::size_t at = 0;
    for (const std::string& text : row.said) {
      at = said.find(text, at);
      EXPECT_NE(at, std::string::npos) << text << " in\n" << said;
      if (at == std::string::npos) break;
    }
    if (!row.notSaid.empty()) {
      EXPECT_EQ(said.find(row.notSaid), std::string::npos) << said;
    }
    EXPECT_EQ(ReadFileBytes(dir.File("c.d88")), container);  // never changed
  }
#endif
}

// The sound 2HD disk with TBL's first sector (track 0, sector 5) recorded
// again after the track's last, its data the same or not.
Bytes RecordedTwice(bool differing) {
  Image image = ThreeFiles(k2HD, false);
  std::vector<Record>& track0 = image.tracks[0];
  Record copy = track0[4];
  if (differing) copy.data[100] ^= 0x55;
  track0.push_back(copy);
  for (Record& rec : track0) rec.sectorCount = static_cast<std::uint16_t>(track0.size());
  return image.Build();
}

TEST(D88, TestPromisesWhatTheContainerHolds) {
  const Bytes sound = ThreeFiles(k2HD, false).Build();
  const std::string soundLine = "3 files in 1 image: 3 intact, 0 damaged";
  Bytes gzip = PatternBytes(4000, 7);
  gzip[0] = 0x1f, gzip[1] = 0x8b, gzip[2] = 8;
  // Windows opens a device for a name such as AUX.TXT, which extract refuses.
  FatBuilder aux(kFatPc98);
  aux.AddFile(0, "AUX.TXT", Text("aux"));
  const Bytes auxDisk = aux.Build().Build();
  const Case cases[] = {
      {"second image cut in its header",
       {"test", "{C}"},
       Concat({sound, Cut(sound, 400)}),
       2,
       "after the last image: 400 bytes that start like an image header: an image cut off, its "
       "files lost\n" +
           soundLine + ", 400 bytes after the last image, like the start of an image cut off\n",
       ""},
      {"bytes after the last image",
       {"test", "{C}"},
       Concat({sound, Text("a note at the end of 34 bytes ...\n")}),
       0,
       "after the last image: 34 bytes that do not start like an image header\n" + soundLine +
           ", 34 bytes after the last image\n",
       ""},
      {"copies differ",
       {"test", "{C}"},
       RecordedTwice(true),
       2,
       "image 0: TBL: damaged: TRK=00 SEC=05 recorded twice with different data\n"
       "3 files in 1 image: 2 intact, 1 damaged\n",
       ""},
      {"extract copies differ",
       {"extract", "-C", "{C}.out", "{C}"},
       RecordedTwice(true),
       2,
       "MEDIA TYPE=2HD\nREAD TRK=00 SEC=04 SIZE=9\nTBL  TRK=00 SEC=05 SIZE=4096\n"
       "LONG TRK=01 SEC=01 SIZE=12192\ndamaged: TBL\n",
       ""},
      {"copies agree", {"test", "{C}"}, RecordedTwice(false), 0, soundLine + "\n", ""},
      {"name extract refuses",
       {"test", "{C}"},
       Refused(".."),
       2,
       "image 0: ..: intact; cannot be written under its name\n2 files in 1 image: 2 intact, 0 "
       "damaged, 1 file that cannot be written under its name\n",
       ""},
      {"list a name extract refuses",
       {"list", "{C}"},
       Refused(".."),
       0,
       "image 0 \"D88EXTRACT TEST\": media byte 0x20, medium 2HD, size 9008, 1 track "
       "recorded\nREAD TRK=00 SEC=04 SIZE=9  intact\n..   TRK=00 SEC=04 SIZE=1  intact; cannot "
       "be written under its name\n",
       ""},
      {"FAT device name",
       {"test", "{C}"},
       auxDisk,
       kWindows ? 2 : 0,
       kWindows
           ? "image 0: AUX.TXT: intact; cannot be written under its name\n1 file in 1 image: 1 "
             "intact, 0 damaged, 1 file that cannot be written under its name\n"
           : "1 file in 1 image: 1 intact, 0 damaged\n",
       ""},
      Failure("gzip named as a container", {"test", "{C}"}, gzip,
              "{C} is a gzip file, not a D88 container"),
      Failure("raw FAT disk", {"list", "{C}"}, FatBuilder(kFat720K).raw,
              "{C} is a raw FAT disk image, not a D88 container"),
  };
  ExpectCases(cases);

  // A folder: containers looked for by name, other formats named.
  ScratchDir dir;
  std::filesystem::create_directories(dir.File("gz"));
  WriteFileBytes(dir.File("gz/a.d88.gz"), gzip);
  const std::string nothing =
      "0 containers: 0 intact, 0 damaged, 0 unreadable; 0 files: 0 intact, 0 damaged\n";
  const D88Run none = RunD88With({"test", dir.File("gz")}, {}, dir);
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, nothing);
  EXPECT_EQ(none.err,
            "d88: no containers found: looked for files named *.d88, *.d77, *.88d, *.d98, *.d68, "
            "*.1dd (in any case)\n");
  WriteFileBytes(dir.File("gz/b.d88"), gzip);
  const D88Run renamed = RunD88With({"test", dir.File("gz")}, {}, dir);
  EXPECT_EQ(renamed.status, 1);
  EXPECT_EQ(renamed.out, dir.File("gz") + (kWindows ? "\\" : "/") +
                             "b.d88: is a gzip file, not a D88 container\n0 "
                             "containers: 0 intact, 0 damaged, 0 unreadable; 1 not a container; 0 "
                             "files: 0 intact, 0 damaged\n");
  const D88Run lines = RunD88With({"test", "--json", dir.File("gz")}, {}, dir);
  EXPECT_NE(lines.out.find("\"status\":\"notContainer\",\"error\":\"is a gzip file, not a D88 "
                           "container\"}\n"),
            std::string::npos)
      << lines.out;

  // One container's document carries what its JSON Line does.
  const D88Run line = RunD88With({"test", "--json", "{C}", "{C}"}, RecordedTwice(true), dir);
  const D88Run document = RunD88With({"test", "--json", "{C}"}, RecordedTwice(true), dir);
  EXPECT_EQ(document.status, 2);
  for (const std::string& field : {"\"path\":\"" + JsonEscaped(dir.File("c.d88")) + "\"",
                                   std::string("\"status\":\"damaged\"")}) {
    EXPECT_NE(line.out.find(field), std::string::npos) << line.out;
    std::string spaced = field;
    spaced.insert(field.find(':') + 1, " ");
    EXPECT_NE(document.out.find(spaced), std::string::npos) << document.out;
  }
  EXPECT_NE(document.out.find("\"state\": \"recorded twice with different data\""),
            std::string::npos);
  const D88Run cut = RunD88With({"test", "--json", "{C}"}, Concat({sound, Cut(sound, 400)}), dir);
  EXPECT_NE(cut.out.find("\"bytesAfterLastImage\": 400,\n    \"bytesAfterLikeImageHeader\": true"),
            std::string::npos)
      << cut.out;
  const D88Run refused = RunD88With({"list", "--json", "{C}"}, Refused(".."), dir);
  EXPECT_EQ(Count(refused.out, "\"writableName\": false"), 1u);
  const D88Run map = RunD88With({"map", "{C}"}, RecordedTwice(true), dir);
  EXPECT_NE(map.out.find("\n 00 .  #  #  A  B? B  B  B\n"), std::string::npos) << map.out;
}

namespace {

// The paths below dir, joined by spaces; "-" when dir was never made.
std::string PathsBelow(const std::string& dir) {
  if (!std::filesystem::exists(dir)) return "-";
  std::string paths;
  for (const auto& [path, bytes] : FolderTree(dir)) paths += (paths.empty() ? "" : " ") + path;
  return paths;
}

// extract and cat by name, and list of one image: what reaches the user's
// streams and which files extract writes into {C}.out.
TEST(D88, TakesFilesByName) {
  const Bytes sound = ThreeFiles(k2HD, false).Build(), damaged = ThreeFiles(k2HD, true).Build();
  const Bytes fat = WrapFat(BuildOracleTree(kFatPc98), kFatPc98).Build();
  FatBuilder broken(kFatPc98);  // the sectors of A.TXT and C.TXT flagged bad
  std::size_t bad[2];
  for (const char* name : {"A.TXT", "B.TXT", "C.TXT"}) {
    const std::size_t at = broken.ClusterOffset(broken.AddFile(0, name, Text(name)).cluster);
    if (name[0] != 'B') bad[name[0] == 'C'] = at / 1024;
  }
  Image brokenImage = broken.Build();
  for (std::size_t sector : bad)
    brokenImage.tracks[static_cast<int>(sector / 8)][sector % 8].status = 0xB0;
  const std::string kana = "\xef\xbd\xb6\xef\xbe\x85";  // ｶﾅ, decoded from B6 C5
  const std::string media = "MEDIA TYPE=2HD\n", read = "READ TRK=00 SEC=04 SIZE=9\n";
  const std::string noFile = "d88: image 0 holds no file \"NOPE\"; nothing written\n";
  const std::string long1 = "LONG TRK=01 SEC=01 SIZE=12192  damaged: TRK=02 SEC=03 data CRC error";
  const struct {
    const char* what;
    std::vector<std::string> args;
    Bytes container;
    int status;
    std::string out, err, written;
  } rows[] = {
      {"flat by name and position",
       {"extract", "-C", "{C}.out", "{C}", "#2", "READ"},
       sound,
       0,
       media + read + "LONG TRK=01 SEC=01 SIZE=12192\n",
       "",
       "LONG READ"},
      {"flat damaged",
       {"extract", "-C", "{C}.out", "{C}", "TBL"},
       damaged,
       2,
       media + "TBL  TRK=00 SEC=05 SIZE=4096\ndamaged: TBL\n",
       "",
       "TBL"},
      {"flat intact beside damage",
       {"extract", "-C", "{C}.out", "{C}", "READ"},
       damaged,
       0,
       media + read,
       "",
       "READ"},
      {"FAT by path, case and alias",
       {"extract", "-C", "{C}.out", "{C}", "alongf~1.tex", "/sub\\MIXED.TXT",
        "Sub/" + kana + ".tXT"},
       fat,
       0,
       "A long file name.text\nSub/MiXed.Txt\nSub/" + kana + ".TXT\n",
       "",
       "A long file name.text Sub Sub/MiXed.Txt Sub/" + kana + ".TXT"},
      {"FAT folder",
       {"extract", "-C", "{C}.out", "{C}", "SUB/deeper"},
       fat,
       0,
       "Sub/Deeper/big file.bin\n",
       "",
       "Sub Sub/Deeper Sub/Deeper/big file.bin"},
      {"FAT damaged",
       {"extract", "-C", "{C}.out", "{C}", "a.txt"},
       brokenImage.Build(),
       2,
       "A.TXT\ndamaged: A.TXT\n",
       "",
       "A.TXT"},
      {"FAT intact beside damage",
       {"extract", "-C", "{C}.out", "{C}", "b.txt"},
       brokenImage.Build(),
       0,
       "B.TXT\n",
       "",
       "B.TXT"},
      {"not found writes nothing",
       {"extract", "-C", "{C}.out", "{C}", "READ", "NOPE"},
       sound,
       1,
       "",
       noFile,
       "-"},
      {"FAT not found",
       {"extract", "-C", "{C}.out", "{C}", "Sub/NOPE"},
       fat,
       1,
       "",
       "d88: image 0 holds no file \"Sub/NOPE\"; nothing written\n",
       "-"},
      {"cat flat", {"cat", "{C}", "READ"}, sound, 0, "read me\r\n", "", "-"},
      {"cat FAT",
       {"cat", "{C}", "sub\\" + kana + ".txt"},
       fat,
       0,
       std::string(kKanaBytes.begin(), kKanaBytes.end()),
       "",
       "-"},
      {"cat decoded", {"cat", "{C}", "\uff71\uff72"}, ControlNames(), 0, "d", "", "-"},
      {"cat as extract names it", {"cat", "{C}", "\xb1\xb2"}, ControlNames(), 0, "d", "", "-"},
      {"cat not found", {"cat", "{C}", "NOPE"}, sound, 1, "", noFile, "-"},
      {"cat folder",
       {"cat", "{C}", "sub"},
       fat,
       1,
       "",
       "d88: image 0: \"sub\" is a folder; nothing written\n",
       "-"},
      {"list one image",
       {"list", "-i", "1", "{C}"},
       Concat({sound, damaged}),
       0,
       "image 1 \"DISK \xef\xbd\xb1\": media byte 0x20, medium 2HD, size 1280204, 154 tracks "
       "recorded\nREAD TRK=00 SEC=04 SIZE=9  intact\nTBL  TRK=00 SEC=05 SIZE=4096  damaged: TRK=00 "
       "SEC=06 missing, "
       "TRK=00 SEC=07 short\n" +
           long1 + "\n",
       "",
       "-"},
      {"list missing image",
       {"list", "-i", "2", "{C}"},
       Concat({sound, damaged}),
       1,
       "",
       "d88: {C} has no image 2 (it holds 2)\n",
       "-"},
      {"list -i of two",
       {"list", "-i", "0", "{C}", "{C}"},
       sound,
       1,
       "",
       "d88: -i applies to one container, not to several or a folder\n",
       "-"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ScratchDir dir;
    const D88Run r = RunD88With(row.args, row.container, dir);
    std::string err = row.err;
    if (err.find("{C}") != std::string::npos) err.replace(err.find("{C}"), 3, dir.File("c.d88"));
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.out, row.out);
    EXPECT_EQ(r.err, err);
    EXPECT_EQ(PathsBelow(dir.File("c.d88.out")), row.written);
  }
  // cat gives a damaged file's bytes as extract writes them.
  ScratchDir dir;
  RunD88With({"extract", "-C", "{C}.out", "{C}"}, damaged, dir);
  const D88Run cat = RunD88With({"cat", "{C}", "TBL"}, damaged, dir);
  const Bytes extracted = ReadFileBytes(dir.File("c.d88.out/TBL"));
  EXPECT_EQ(cat.out, std::string(extracted.begin(), extracted.end()));
  EXPECT_EQ(cat.err, "d88: image 0: TBL: damaged: TRK=00 SEC=06 missing, TRK=00 SEC=07 short\n");
  EXPECT_EQ(cat.status, 2);
  // Standard output opened as text, as Windows opens it, takes the bytes
  // as they stand too.
  RunD88With({"cat", "{C}", "READ"}, sound, dir, std::fopen(dir.File("text").c_str(), "w"));
  EXPECT_EQ(ReadFileBytes(dir.File("text")), Text("read me\r\n"));
}

}  // namespace
