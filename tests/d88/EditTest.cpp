// d88 new, add and rm, judged by what d88extract then writes, by the bytes
// of the container, and by what a refusal leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "d88/D88.h"
#include "diskimage/DiskImage.h"
#include "testing/CheckedRun.h"
#include "testing/D88Run.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace d88test;
namespace fs = std::filesystem;

namespace {

// Runs d88 with args in-process, names and text in UTF-8.
Ran D88(const std::vector<std::string>& args) {
#if !defined(_WIN32)
  setenv("LC_ALL", "C.UTF-8", 1);
#endif
  return RunD88InProcess(args);
}

// d88extract's verdict on a container: its listing and the files it wrote.
struct Extracted {
  std::map<std::string, Bytes> files;
  std::string listing;
};

Extracted Extract(const Bytes& container) {
  d88check::Sandbox box;
  const d88check::RunReport report = box.Run(container.data(), container.size(), true);
  EXPECT_EQ(report.status, 0) << report.err;
  EXPECT_EQ(report.fault, "");
  return {report.files, report.out};
}

// Writes a host file named name into dir with bytes; returns its path.
std::string HostFile(const d88check::Sandbox& dir, const std::string& name, const Bytes& bytes) {
  const std::string path = dir.WorkDir() + "/" + name;
  WriteFileBytes(path, bytes);
  return path;
}

// A disk name of the 16 bytes a header holds, and its bytes in Shift_JIS (the Windows tests'
// command line is in the ANSI code page).
#if defined(_WIN32)
const char kDiskName[] = "TEST DISK 000001", kDiskNameBytes[] = "TEST DISK 000001";
#else
const char kDiskName[] = "\u30c6\u30b9\u30c8 DISK 0001",
           kDiskNameBytes[] = "\x83\x65\x83\x58\x83\x67 DISK 0001";
#endif

// A blank disk takes one file as large as its free sectors and not a
// byte more; a full one not even an empty file.
void ExpectFillsExactly(const d88check::Sandbox& dir, const std::string& disk, const Medium& m) {
  const std::string copy = disk + ".full", big = dir.WorkDir() + "/BIG";
  const int free =
      m.tracks * m.sectorsPerTrack - (m.directorySector - 1) - m.directoryBytes / m.sectorBytes;
  const std::size_t bytes = std::size_t(free) * m.sectorBytes;
  HostFile(dir, "BIG", PatternBytes(bytes + 1, 3));
  EXPECT_EQ(D88({"add", "-o", copy, disk, big}).err, "d88: image 0: no room for " + big + " (" +
                                                         std::to_string(bytes + 1) +
                                                         " bytes); nothing written\n");
  fs::resize_file(big, bytes);
  ASSERT_EQ(D88({"add", "-o", copy, disk, big}).status, 0);
  EXPECT_EQ(Extract(ReadFileBytes(copy)).files.at("BIG"), ReadFileBytes(big));
  EXPECT_EQ(D88({"add", copy, HostFile(dir, "NIL", {})}).err,
            "d88: image 0: no room for " + dir.WorkDir() + "/NIL (0 bytes); nothing written\n");
}

// new, add, rm, add again on random file sets of both media: d88extract
// writes exactly the files expected, in directory order; a file one byte
// too large for what is left is refused.
TEST(Edit, RoundTripsThroughTheExtractionTool) {
  std::mt19937 random(7);
  for (const Medium* medium : {&k2HD, &k2DD}) {
    const int sector = medium->sectorBytes;
    for (int round = 0; round < 4; ++round) {
      SCOPED_TRACE(std::to_string(sector) + " round " + std::to_string(round));
      d88check::Sandbox dir;
      const std::string disk = dir.WorkDir() + "/disk.d88";
      ASSERT_EQ(D88({"new", "-m", medium == &k2HD ? "2HD" : "2dd", "-n", kDiskName, disk}).status,
                0);
      Image blank = DiskBuilder(*medium).Build();
      blank.name = kDiskNameBytes;
      EXPECT_EQ(ReadFileBytes(disk), blank.Build());
      if (round == 0) ExpectFillsExactly(dir, disk, *medium);
      const int sizes[] = {0, 1, sector - 1, sector, sector + 1, 40000, 150000};
      std::vector<std::pair<std::string, Bytes>> expected;
      std::vector<std::string> args = {"add", disk};
      for (int i = 0; i < 7; ++i) {
        const std::string name = "F" + std::to_string(i);
        const int size = sizes[(i + round) % 7] + static_cast<int>(random() % 3) * (round > 1);
        expected.push_back({name, PatternBytes(static_cast<std::size_t>(size), random())});
        args.push_back(HostFile(dir, name, expected.back().second));
      }
      ASSERT_EQ(D88(args).status, 0);
      const std::string gone = expected[round].first;
      ASSERT_EQ(D88({"rm", disk, gone, expected[round + 3].first}).status, 0);
      expected.erase(expected.begin() + round + 3);
      expected.erase(expected.begin() + round);
      // Again: one file back under its name, one replaced in place.
      const Bytes back = PatternBytes(3000, 9), replaced = PatternBytes(sector * 2, 10);
      ASSERT_EQ(D88({"add", disk, HostFile(dir, gone, back)}).status, 0);
      ASSERT_EQ(D88({"add", disk, HostFile(dir, "r", replaced), "--as", expected[1].first}).status,
                0);
      expected[1].second = replaced;
      expected.push_back({gone, back});
      const Extracted result = Extract(ReadFileBytes(disk));
      EXPECT_EQ(result.files.size(), expected.size());
      std::size_t at = 0;
      for (const auto& [name, bytes] : expected) {
        at = result.listing.find("\n" + name + " ", at);  // in directory order
        ASSERT_NE(at, std::string::npos) << name;
        EXPECT_EQ(result.files.at(name), bytes) << name;
      }
    }
  }
}

// Replaces each "{X}" in text by with.
std::string Fill(std::string text, const std::string& x, const std::string& with) {
  for (std::size_t at; (at = text.find(x)) != std::string::npos;) text.replace(at, x.size(), with);
  return text;
}

// The arguments of line, split at '|', with {C} and {D} filled in.
std::vector<std::string> Args(const std::string& line, const std::string& c, const std::string& d) {
  std::vector<std::string> args;
  for (std::size_t from = 0, to = 0; to != std::string::npos; from = to + 1)
    args.push_back(
        Fill(Fill(line.substr(from, (to = line.find('|', from)) - from), "{C}", c), "{D}", d));
  return args;
}

// False on Windows for arguments with UTF-8 bytes (its command line is in
// the ANSI code page) or a parent that is a file (reported not found).
bool RunsHere([[maybe_unused]] const std::string& args) {
#if defined(_WIN32)
  return std::none_of(args.begin(), args.end(), [](char c) { return c & 0x80; }) &&
         args.find("x.d88") == std::string::npos;
#else
  return true;
#endif
}

// A 2HD disk of one file, READ; a 2DD one with entries bytes of directory.
Bytes OneFile() {
  DiskBuilder disk(k2HD);
  disk.AddFile("READ", Text("read me"));
  return disk.Build().Build();
}
Bytes Entries2DD(int entries, const std::string& first = "E") {
  DiskBuilder disk(k2DD);
  for (int i = 0; i < entries; ++i) disk.AddEntry(EntryBytes(i == 0 ? first : "E", 0x30, 1));
  return disk.Build().Build();
}

// Files A, B, A and C, then an end mark with bytes behind it and an entry
// GHST after it.
Bytes Twice() {
  DiskBuilder twice(k2HD);
  for (const char* name : {"A", "B", "A", "C"}) twice.AddFile(name, Text(name));
  twice.AddEntry({0, 'x', 'y', 'z', 1, 2, 3, 4, 5, 6});
  twice.AddEntry({'G', 'H', 'S', 'T', 0x20, 0, 1, 0, 0, 0});
  return twice.Build().Build();
}

// The other disk of a two-disk container, the damaged disk (TRK=00 SEC=05
// missing, SEC=06 short; TRK=01 SEC=01 bad, SEC=02 recorded twice) and the
// mislabelled one each take a file: the result is the container with
// exactly the bytes of the new file's sectors and of the directory changed.
// A file replaces the last entry of its name, in its freed sectors, and
// one added after the end mark leaves what lay behind it out; a track
// whose table entry points into a sector's data keeps that sector unused.
// rm takes every entry of a name (or the one at #N) and moves the later
// ones up in order, zeroing what follows; a 2DD disk's 154th entry moves
// up too, its size the zeros extraction read.
TEST(Edit, ChangesOnlyTheBytesOfTheFileAndTheDirectory) {
  d88check::Sandbox dir;
  const std::string path = dir.WorkDir() + "/c.d88";
  const Bytes data = PatternBytes(2500, 5);
  HostFile(dir, "NEW", data);
  HostFile(dir, "ONE", PatternBytes(7, 6));
  DiskBuilder b(k2DD), withNew(k2DD);
  b.AddFile("DATA", PatternBytes(600, 1));
  withNew.AddFile("DATA", PatternBytes(600, 1));
  withNew.AddFile("NEW", data);
  Image labelled = b.Build(), labelledNew = withNew.Build();
  labelled.mediaType = labelledNew.mediaType = 0x20;
  Image damaged = DiskBuilder(k2HD).Build();
  damaged.tracks[0].erase(damaged.tracks[0].begin() + 4);
  damaged.tracks[0][4].dataLength = 100;
  damaged.tracks[1][0].status = 0xB0;
  damaged.tracks[1].push_back(damaged.tracks[1][1]);
  for (Record& rec : damaged.tracks[1]) rec.sectorCount = 9;
  Image overlapped = DiskBuilder(k2HD).Build();
  overlapped.trackOffsetOverride[5] = 688 + 4 * 8320 + 1040 + 16 + 100;  // TRK=04 SEC=02
  HostFile(dir, "A", Text("new!"));
  HostFile(dir, "D", Text("D"));
  HostFile(dir, "BIG", PatternBytes(31 * 1024, 7));
  std::string last152 = "MEDIA TYPE=2DD\n";
  for (int i = 1; i < 153; ++i) last152 += "E    TRK=03 SEC=01 SIZE=1\n";
  const std::string twiceListing =
      "MEDIA TYPE=2HD\nA    TRK=00 SEC=04 SIZE=1\nB    TRK=00 SEC=05 SIZE=1\nA    TRK=00 SEC=06 "
      "SIZE=4\nC    TRK=00 SEC=07 SIZE=1\nD    TRK=00 SEC=08 SIZE=1\n";
  const struct {
    Bytes container, expected;
    std::string args, warning, listing;
  } rows[] = {
      {Concat({OneFile(), b.Build().Build()}), Concat({OneFile(), withNew.Build().Build()}),
       "add|-i|1|{C}|{D}/NEW", "", ""},
      {labelled.Build(), labelledNew.Build(), "add|{C}|{D}/NEW",
       "d88: image 0: media byte 0x20, records are 2DD\n", ""},
      {damaged.Build(),
       {},
       "add|{C}|{D}/NEW|{D}/ONE",
       "",
       "MEDIA TYPE=2HD\nNEW  TRK=01 SEC=03 SIZE=2500\nONE  TRK=00 SEC=04 SIZE=7\n"},
      {Twice(), {}, "add|{C}|{D}/A|{D}/D", "", twiceListing},
      {overlapped.Build(),
       {},
       "add|{C}|{D}/BIG",
       "",
       "MEDIA TYPE=2HD\nBIG  TRK=06 SEC=01 SIZE=31744\n"},
      {OneFile(),
       {},
       "add|{C}|{D}/ONE|--as|\u8868",
       "",
       "MEDIA TYPE=2HD\nREAD TRK=00 SEC=04 SIZE=7\n\x95\x5c   TRK=00 SEC=05 SIZE=7\n"},
      {Twice(),
       {},
       "rm|{C}|A",
       "",
       "MEDIA TYPE=2HD\nB    TRK=00 SEC=05 SIZE=1\nC    TRK=00 SEC=07 SIZE=1\n"},
      {Twice(),
       {},
       "rm|{C}|#3|B",
       "",
       "MEDIA TYPE=2HD\nA    TRK=00 SEC=04 SIZE=1\nA    TRK=00 SEC=06 SIZE=1\n"},
      {Entries2DD(2, " X"), {}, "rm|{C}|#0", "", "MEDIA TYPE=2DD\nE    TRK=03 SEC=01 SIZE=1\n"},
      {Entries2DD(154, "F"), {}, "rm|{C}|F", "", last152 + "E    TRK=03 SEC=01 SIZE=0\n"},
  };
  for (const auto& row : rows) {
    if (!RunsHere(row.args)) continue;
    WriteFileBytes(path, row.container);
    const Ran ran = D88(Args(row.args, path, dir.WorkDir()));
    EXPECT_EQ(ran.status, 0);
    EXPECT_EQ(ran.err, row.warning);
    if (!row.expected.empty()) {
      EXPECT_EQ(ReadFileBytes(path), row.expected);
    }
    if (row.listing.empty()) continue;
    const Bytes after = ReadFileBytes(path);
    const Extracted result = Extract(after);
    EXPECT_EQ(result.listing, row.listing);
    // rm zeroes a 2HD directory (data at 1744 and 2784) after its last entry.
    Bytes directory(after.begin() + 1744, after.begin() + 2768);
    directory.insert(directory.end(), after.begin() + 2784, after.begin() + 3808);
    if (row.args[0] == 'r' && after[27] == 0x20) {
      const long entries = std::count(row.listing.begin(), row.listing.end(), '\n') - 1;
      EXPECT_EQ(Bytes(directory.begin() + 10 * entries, directory.end()),
                Bytes(2048 - 10 * std::size_t(entries), 0));
    }
    for (const auto& [name, bytes] : result.files) {
      if (row.args[0] == 'a' && fs::exists(dir.WorkDir() + "/" + name)) {
        EXPECT_EQ(bytes, ReadFileBytes(dir.WorkDir() + "/" + name)) << name;
      }
    }
  }
}

// Each refusal says why, exits 1 and leaves the container byte for byte
// as it was, with nothing beside it.  {C} is the container, {D} its
// directory, where a 100-byte host file of each name given waits.
TEST(Edit, RefusalsChangeNothing) {
  const std::string nothing = "; nothing written\n";
  Image badDirectory = DiskBuilder(k2HD).Build();
  badDirectory.tracks[0][1].status = 0xB0;
  const std::string notOne =
      "is not one every system can extract (empty, a space, a control "
      "byte, . or .., < > : \" / \\ | ? *, a trailing dot, a device name)";
  const struct {
    std::string args;
    Bytes container;
    std::string err;
  } rows[] = {
      {"add|{C}|{D}/hello", OneFile(), "the name \"hello\" is longer than 4 bytes in Shift_JIS"},
      {"add|{C}|{D}/x|--as|\u8868\u8868\u8868", OneFile(),
       "the name \"\u8868\u8868\u8868\" is longer"},
      {"add|{C}|{D}/x|--as|\u00e9", OneFile(), "the name \"\u00e9\" has no Shift_JIS form"},
      {"add|{C}|{D}/x|--as|\u00a5", OneFile(), "the name \"\u00a5\" " + notOne + nothing},
      {"add|{C}|{D}/x|--as|CON", OneFile(), "the name \"CON\" is not one"},
      {"add|{C}|{D}/x|--as|X.", OneFile(), "the name \"X.\" is not one"},
      {"add|{C}|{D}/x|--as|A B", OneFile(), "the name \"A B\" is not one"},
      {"add|{C}|{D}/none", OneFile(), "cannot open {D}/none: No such file or directory" + nothing},
      {"add|{C}|{D}/x", Entries2DD(153), "image 0: the directory is full (153 entries)" + nothing},
      {"add|{C}|{D}/x", Entries2DD(2, " X"),
       "image 0: entry #0 \"\" stops extraction, and no file after it would come out; remove it "
       "with rm '#0'" +
           nothing},
      {"add|{C}|{D}/x", badDirectory.Build(), "image 0: the directory is damaged" + nothing},
      {"add|{C}|{D}/x", Image{"", 0, {}, {}}.Build(),
       "image 0: medium unknown (media byte 0x00)" + nothing},
      {"add|-o|{C}|{C}|{D}/x", OneFile(), "cannot write {C}: File exists" + nothing},
      {"add|-o|{C}/x.d88|{C}|{D}/x", OneFile(), "cannot write {C}/x.d88: Not a directory"},
      {"rm|{C}|NOPE", OneFile(), "image 0 holds no file \"NOPE\"" + nothing},
      {"rm|{C}|#1", OneFile(), "image 0 has no entry #1 (it holds 1)" + nothing},
      {"rm|{C}|#0x", OneFile(), "image 0 holds no file \"#0x\"" + nothing},
      {"new|-m|2HD|{C}", OneFile(), "cannot make {C}: File exists\n"},
  };
  for (const auto& row : rows) {
    d88check::Sandbox dir;
    const std::string container = dir.WorkDir() + "/c.d88";
    WriteFileBytes(container, row.container);
    if (!RunsHere(row.args)) continue;
    for (const char* name : {"hello", "x"}) HostFile(dir, name, PatternBytes(100, 1));
    const Ran ran = D88(Args(row.args, container, dir.WorkDir()));
    SCOPED_TRACE(ran.err);
    EXPECT_EQ(ran.status, 1);
    const std::string err = Fill(Fill(row.err, "{C}", container), "{D}", dir.WorkDir());
    EXPECT_EQ(ran.err.rfind("d88: " + err, 0), 0u);
    EXPECT_EQ(ReadFileBytes(container), row.container);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.WorkDir()), {}), 3);
  }
}

#if !defined(_WIN32)
// A container reached by a symbolic or a second hard link is refused
// (-o writes elsewhere instead); a file-size limit fails the copy of add
// and the blank disk of new: every file stays as it was, none is left.
TEST(Edit, LinksAndAFullFileSystemChangeNothing) {
  d88check::Sandbox dir;
  const std::string at = dir.WorkDir() + "/", container = at + "c.d88";
  WriteFileBytes(container, OneFile());
  HostFile(dir, "x", PatternBytes(3000, 2));
  // The replaced container keeps its permission bits.
  const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_write;
  fs::permissions(container, mode);
  ASSERT_EQ(D88({"rm", container, "READ"}).status, 0);
  EXPECT_EQ(fs::status(container).permissions(), mode);
  WriteFileBytes(container, OneFile());
  ASSERT_EQ(symlink("c.d88", (at + "s.d88").c_str()), 0);
  ASSERT_EQ(link(container.c_str(), (at + "h.d88").c_str()), 0);
  EXPECT_EQ(D88({"add", at + "s.d88", at + "x"}).err,
            "d88: " + at +
                "s.d88 is a symbolic link, which replacing would cut; write the "
                "result with -o OUT; nothing written\n");
  EXPECT_EQ(D88({"rm", at + "h.d88", "READ"}).err,
            "d88: " + at +
                "h.d88 has 2 hard links, which replacing would part; write the "
                "result with -o OUT; nothing written\n");
  EXPECT_EQ(ReadFileBytes(container), OneFile());
  EXPECT_EQ(D88({"rm", "-o", at + "o.d88", at + "s.d88", "READ"}).status, 0);
  EXPECT_EQ(Extract(ReadFileBytes(at + "o.d88")).listing, "MEDIA TYPE=2HD\n");
  for (const char* gone : {"h.d88", "o.d88"}) fs::remove(at + gone);
  // A container that changes while add copies it, growing or in place, is
  // left as its other writer makes it.
  // A run the writer never got to change, or changed only after the last
  // look (a busy machine's scheduling), is no verdict, and is run again:
  // an editor that never looks succeeds every time.
  for (const char* mode : {"ab", "r+b"}) {
    Ran changed;
    for (int attempt = 0; attempt < 20; ++attempt) {
      std::atomic<bool> done{false};
      std::atomic<int> writes{0};
      std::thread writer([&] {
        std::FILE* other = std::fopen(container.c_str(), mode);
        for (int b = 0; !done && std::fseek(other, -1, SEEK_END) == 0; ++b) {
          if (std::fputc(b & 1, other) == EOF || std::fflush(other) != 0) break;
          ++writes;
        }
        std::fclose(other);
      });
      while (writes == 0) std::this_thread::yield();
      const int before = writes;
      changed = D88({"add", container, at + "x"});
      const bool raced = writes != before;
      done = true;
      writer.join();
      if (changed.status != 0 && raced) break;
      WriteFileBytes(container, OneFile());
    }
    SCOPED_TRACE(mode);
    EXPECT_EQ(changed.status, 1);
    EXPECT_NE(changed.err.find("; nothing written"), std::string::npos) << changed.err;
    const Bytes before = OneFile(), now = ReadFileBytes(container);
    ASSERT_GE(now.size(), before.size());
    EXPECT_TRUE(std::equal(before.begin(), before.end() - 1, now.begin()));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.WorkDir()), {}), 3);  // c, s, x
    WriteFileBytes(container, OneFile());
  }
#if defined(D88_COVERAGE_BUILD)
  return;  // its counts, written at exit, would break the limit
#endif
  const struct {
    std::string args, err;
  } rows[] = {{"add c.d88 x", "d88: cannot write c.d88: File too large; nothing written\n"},
              {"new -m 2DD n.d88", "d88: cannot write n.d88: File too large\n"}};
  for (const auto& row : rows) {
    const int status = std::system(
        ("cd '" + at + "' && ulimit -f 1000 && '" D88_BINARY "' " + row.args + " 2>err").c_str());
    EXPECT_EQ(status, 256);
    EXPECT_EQ(ReadFileBytes(at + "err"), Text(row.err));
    EXPECT_EQ(ReadFileBytes(container), OneFile());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.WorkDir()), {}), 4);  // c, s, x, err
  }
}
// Runs command in the shell; its exit status.
int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The names in dir, sorted, separated by spaces.
std::string Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  std::string text;
  for (const std::string& name : names) text += name + " ";
  return text;
}

// Another editor's lock, a FIFO, a container replaced by an identical copy
// while add waits in its flush, its directory changed in place (its time
// put back) before the copy, an OUT made by another program while add
// waits in its flush, and a -o whose file system knows neither
// renameat2 nor links (under strace, where a leak check cannot run): each refused with the
// container as it was and nothing beside it, or done with exactly the names expected.  {B} is the
// d88 binary, {S} "strace -f -o /dev/null".
TEST(Edit, OneEditorOnTheSameFileThroughout) {
  const bool traced = Shell("strace -o /dev/null true 2>/dev/null") == 0;
  const struct {
    std::string setup, command;
    int status;
    std::string err, names;
  } rows[] = {
      {"", "{B} add -o o.d88 c.d88 x", 0, "", "c.d88 o.d88 x "},
      {"", "flock -n c.d88 {B} add c.d88 x", 1,
       "d88: c.d88 is being edited by another d88; nothing written\n", "c.d88 x "},
      {"&& mkfifo p.d88", "timeout 5 {B} add p.d88 x", 1,
       "d88: p.d88 is not a regular file (a pipe, a device or a socket); nothing written\n",
       "c.d88 p.d88 x "},
      {"&& cp -p c.d88 r",
       "{S} -e inject=fsync:delay_enter=2000000:when=1 {B} add c.d88 x & sleep 1; mv r c.d88; "
       "wait $!",
       1, "d88: cannot write c.d88: the container changed during the run; nothing written\n",
       "c.d88 x "},
      {"&& cp -p c.d88 r",
       "{S} -e inject=fcntl:delay_enter=2000000:when=3 {B} add c.d88 x & sleep 1; printf Z | dd "
       "of=c.d88 bs=1 seek=1744 conv=notrunc 2>/dev/null; touch -r r c.d88; wait $!; s=$?; mv r "
       "c.d88; exit $s",
       1, "d88: cannot write c.d88: the container changed during the run; nothing written\n",
       "c.d88 x "},
      {"",
       "{S} -e inject=fsync:delay_enter=2000000:when=1 {B} add -o o.d88 c.d88 x & sleep 1; echo "
       "made >o.d88; wait $!",
       1, "d88: cannot write o.d88: File exists; nothing written\n", "c.d88 o.d88 x "},
      {"",
       "{S} -e inject=renameat2:error=ENOSYS -e inject=link:error=EPERM {B} add -o o.d88 c.d88 x",
       0, "", "c.d88 o.d88 x "},
  };
  for (const auto& row : rows) {
    if (!traced && row.command.find("{S}") != std::string::npos) continue;
    d88check::Sandbox dir;
    const std::string at = dir.WorkDir() + "/";
    WriteFileBytes(at + "c.d88", OneFile());
    HostFile(dir, "x", PatternBytes(3000, 2));
    const std::string command = Fill(Fill(row.command, "{B}", D88_BINARY), "{S}",
                                     "ASAN_OPTIONS=detect_leaks=0 strace -f -o /dev/null");
    ASSERT_EQ(Shell("cd '" + at + "' && true " + row.setup), 0);
    SCOPED_TRACE(command);
    EXPECT_EQ(Shell("cd '" + at + "' && (" + command + ") 2>err"), row.status);
    EXPECT_EQ(ReadFileBytes(at + "err"), Text(row.err));
    fs::remove(at + "err");
    EXPECT_EQ(Names(at), row.names);
    EXPECT_EQ(ReadFileBytes(at + "c.d88"), OneFile());
    if (row.status == 0) {
      EXPECT_EQ(Extract(ReadFileBytes(at + "o.d88")).files.at("x"), ReadFileBytes(at + "x"));
    }
  }
}

// A new disk killed while written leaves no OUT, and its temporary file
// is named by test (which still exits 0) and by the next edit beside it;
// a message that cannot be written after the container is replaced ends
// the run with status 3.
TEST(Edit, LeftoversAreNamedAndLostReportsSayTheContainerChanged) {
  d88check::Sandbox dir;
  const std::string at = dir.WorkDir() + "/";
  if (Shell("strace -o /dev/null true 2>/dev/null") != 0) GTEST_SKIP() << "no strace";
  EXPECT_EQ(Shell("cd '" + at +
                  "' && strace -f -o /dev/null -e inject=write:signal=SIGKILL:when=9 '" D88_BINARY
                  "' new -m 2HD n.d88 2>/dev/null"),
            128 + 9);
  EXPECT_FALSE(fs::exists(at + "n.d88"));
  ASSERT_EQ(D88({"new", "-m", "2HD", at + "n.d88"}).status, 0);
  std::string leftover;
  for (const auto& entry : fs::directory_iterator(at)) {
    if (entry.path().filename() != "n.d88") leftover = entry.path();
  }
  EXPECT_EQ(Shell("'" D88_BINARY "' test '" + at + "' >'" + at + "out'"), 0);
  EXPECT_EQ(ReadFileBytes(at + "out"),
            Text(leftover + ": left by an interrupted edit; remove it\n1 container: 1 intact, 0 "
                            "damaged, 0 unreadable; 0 files: 0 intact, 0 damaged\n"));
  HostFile(dir, "x", PatternBytes(3000, 2));
  EXPECT_EQ(D88({"add", at + "n.d88", at + "x"}).err,
            "d88: " + leftover + ": left by an interrupted edit; remove it\n");
  EXPECT_EQ(Shell("'" D88_BINARY "' rm '" + at + "n.d88' x 2>/dev/full"), 3);
  EXPECT_EQ(Extract(ReadFileBytes(at + "n.d88")).listing, "MEDIA TYPE=2HD\n");
}

// Owned by another user with both set-ID bits, a container replaced by
// root keeps its owner and mode; a copy written with -o is root's and
// loses the set-ID bits.  A container whose name is near the name limit is
// edited in place.
TEST(Edit, KeepsTheOwnerAndTakesLongNames) {
  d88check::Sandbox dir;
  const std::string at = dir.WorkDir() + "/", container = at + std::string(250, 'c') + ".d88";
  WriteFileBytes(container, OneFile());
  ASSERT_EQ(D88({"rm", container, "READ"}).status, 0);
  EXPECT_EQ(Names(at), container.substr(at.size()) + " ");
  if (geteuid() != 0) GTEST_SKIP() << "not root";
  ASSERT_EQ(chown(container.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod(container.c_str(), 06755), 0);
  ASSERT_EQ(D88({"add", container, HostFile(dir, "x", Text("x"))}).status, 0);
  ASSERT_EQ(D88({"add", "-o", at + "o.d88", container, at + "x"}).status, 0);
  struct stat kept, copy;
  ASSERT_EQ(stat(container.c_str(), &kept), 0);
  ASSERT_EQ(stat((at + "o.d88").c_str(), &copy), 0);
  EXPECT_EQ(kept.st_uid, 65534u);
  EXPECT_EQ(kept.st_gid, 65534u);
  EXPECT_EQ(kept.st_mode & 07777, 06755u);
  EXPECT_EQ(copy.st_uid, 0u);
  EXPECT_EQ(copy.st_mode & 07777, 0755u);
}
#endif

}  // namespace
