// The built tool end to end: the directory listing and the extracted files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "tests/support/TestSupport.h"
#include "tool/Messages.h"

using namespace d88test;

namespace {

// What a run must leave: its streams, its status and the files in its
// working directory, name by name.
struct Outcome {
  std::string out;
  std::string err;
  int status;
  std::map<std::string, Bytes> files;
  std::vector<std::string> alsoPresent = {};  // entries made before the run
};

class ExtractionTest : public ::testing::Test {
 protected:
  // Runs the tool on container in a fresh working directory (after
  // prepare has set it up) and checks every part of the outcome.  The
  // working directory lies beside the container, so a file that escaped it
  // would show up there.
  void Check(const Bytes& container, const Outcome& expected,
             const std::function<void(const ScratchDir&)>& prepare = {}) {
    ScratchDir cwd(input.path());
    if (prepare) prepare(cwd);
    const std::string path = input.File("disk.d88");
    ASSERT_TRUE(WriteFileBytes(path, container));
    const RunResult r = RunToolProcess({path}, cwd.path());
    EXPECT_EQ(r.status, expected.status);
    EXPECT_BYTES_EQ(Lines(expected.out), r.out);
    EXPECT_BYTES_EQ(Lines(expected.err), r.err);
    std::vector<std::string> names = expected.alsoPresent;
    for (const auto& [name, bytes] : expected.files) {
      names.push_back(name);
      EXPECT_BYTES_EQ(bytes, cwd.Read(name)) << "file " << name;
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(cwd.List(), names);
    std::vector<std::string> beside = {"disk.d88", cwd.Name()};
    std::sort(beside.begin(), beside.end());
    EXPECT_EQ(input.List(), beside);
  }

  ScratchDir input;
};

Bytes Text(const std::string& s) { return ToBytes(s); }

// A 2HD disk holding "OK", then a file of the given name, then "LATE".
#if defined(_WIN32)
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

Bytes DiskWithNameBetween(const std::string& name) {
  DiskBuilder disk(k2HD);
  disk.AddFile("OK", Text("ok"));
  disk.AddFile(name, Text("x"));
  disk.AddFile("LATE", Text("late"));
  return disk.Build().Build();
}

TEST_F(ExtractionTest, Extracts2HD) {
  DiskBuilder disk(k2HD);
  const Bytes text = Text("HELLO FROM A 2HD DISK\r\n");
  const Bytes binary = PatternBytes(3000, 1);
  const Bytes crossing = PatternBytes(9000, 2);  // from track 0 sector 7 into track 1
  disk.AddFile("TEXT", text);
  disk.AddFile("BIN", binary);
  disk.AddFile("XTRK", crossing);
  Check(disk.Build().Build(),
        {"MEDIA TYPE=2HD\n"
         "TEXT TRK=00 SEC=04 SIZE=23\n"
         "BIN  TRK=00 SEC=05 SIZE=3000\n"
         "XTRK TRK=00 SEC=08 SIZE=9000\n",
         "", 0, {{"TEXT", text}, {"BIN", binary}, {"XTRK", crossing}}});
}

TEST_F(ExtractionTest, Extracts2DD) {
  DiskBuilder disk(k2DD);
  const Bytes text = Text("2DD text\n");
  const Bytes crossing = PatternBytes(5 * 512, 3);  // sectors 7-9 and track 1 sectors 1-2
  disk.AddFile("note", text);
  disk.AddFile("\x83\x41\x83\x43", crossing);
#if defined(_WIN32)
  const std::string onDisk = u8"\u30a2\u30a4";  // the Shift_JIS name decoded
#else
  const std::string onDisk = "\x83\x41\x83\x43";
#endif
  Check(disk.Build().Build(),
        {"MEDIA TYPE=2DD\n"
         "note TRK=00 SEC=06 SIZE=9\n"
         "\x83\x41\x83\x43 TRK=00 SEC=07 SIZE=2560\n",
         "", 0, {{"note", text}, {onDisk, crossing}}});
}

TEST_F(ExtractionTest, NamesEndAtASpaceOrZeroByte) {
  DiskBuilder disk(k2HD);
  const Bytes data = Text("x");
  const std::uint16_t at = disk.AddFile("AB  ", data);
  Bytes spaceInside = EntryBytes("A BC", at, 1);
  Bytes zeroInside = EntryBytes("QRST", at, 1);
  zeroInside[1] = 0;
  disk.AddEntry(spaceInside);
  disk.AddEntry(zeroInside);
  Check(disk.Build().Build(),
        {"MEDIA TYPE=2HD\n"
         "AB   TRK=00 SEC=04 SIZE=1\n"
         "A    TRK=00 SEC=04 SIZE=1\n"
         "Q    TRK=00 SEC=04 SIZE=1\n",
         "", 0, {{"AB", data}, {"A", data}, {"Q", data}}});
}

TEST_F(ExtractionTest, LaterEntryOfTheSameNameReplacesTheFile) {
  DiskBuilder disk(k2HD);
  disk.AddFile("SAME", PatternBytes(2000, 4));
  disk.AddFile("SAME", Text("second"));
  disk.AddFile("ZERO", {});
  Check(disk.Build().Build(),
        {"MEDIA TYPE=2HD\n"
         "SAME TRK=00 SEC=04 SIZE=2000\n"
         "SAME TRK=00 SEC=06 SIZE=6\n"
         "ZERO TRK=00 SEC=07 SIZE=0\n",
         "", 0, {{"SAME", Text("second")}, {"ZERO", {}}}});
}

// Entries that point anywhere: the data is what lies in the loaded disk
// (zeros beyond a 2DD disk's area), cut off at the end of the largest disk.
TEST_F(ExtractionTest, LocationsAndSizesAnywhere) {
  DiskBuilder dd(k2DD);
  Bytes& c = dd.contents();
  const Bytes wrapped = PatternBytes(700, 5);
  std::copy(wrapped.begin(), wrapped.end(), c.begin() + 10 * 512);  // track 1 sector 2
  const Bytes tail = PatternBytes(512, 6);
  std::copy(tail.begin(), tail.end(), c.end() - 512);  // track 159 sector 9
  dd.AddEntry(EntryBytes("WRAP", 0x000A, 700));  // sector 11 of track 0
  dd.AddEntry(EntryBytes("LAST", 0x09F8, 512));  // track 0x9f sector 9
  dd.AddEntry(EntryBytes("AREA", 0x0A00, 100));  // track 160: beyond the disk
  dd.AddEntry(EntryBytes("FAR", 0xFFF0, 100));   // track 0xfff: beyond the buffer
  dd.AddEntry(EntryBytes("NEG", 0x0000, -5));
  dd.AddEntry(EntryBytes("HUGE", 0x09F8, 0x7FFFFFFF));
  const std::size_t hugeLength = 154 * 8 * 1024 - (159 * 9 + 8) * 512;
  Bytes huge(hugeLength, 0);
  std::copy(tail.begin(), tail.end(), huge.begin());
  Check(dd.Build().Build(),
        {"MEDIA TYPE=2DD\n"
         "WRAP TRK=00 SEC=0b SIZE=700\n"
         "LAST TRK=9f SEC=09 SIZE=512\n"
         "AREA TRK=a0 SEC=01 SIZE=100\n"
         "FAR  TRK=fff SEC=01 SIZE=100\n"
         "NEG  TRK=00 SEC=01 SIZE=-5\n"
         "HUGE TRK=9f SEC=09 SIZE=2147483647\n",
         "", 0,
         {{"WRAP", wrapped}, {"LAST", tail}, {"AREA", Bytes(100, 0)}, {"FAR", {}}, {"NEG", {}},
          {"HUGE", huge}}});
}

TEST_F(ExtractionTest, FourDigitTrackIndexesOn2HD) {
  DiskBuilder hd(k2HD);
  const Bytes last = PatternBytes(1024, 7);
  std::copy(last.begin(), last.end(), hd.contents().end() - 1024);
  hd.AddEntry(EntryBytes("T999", 0x04CF, 5000));  // track 0x99 sector 8: cut at the end
  hd.AddEntry(EntryBytes("BIG", 0x8000, 10));     // track 0x1000
  hd.AddEntry(EntryBytes("MAX", 0xFFFF, 10));     // track 0x1fff sector 8
  Check(hd.Build().Build(),
        {"MEDIA TYPE=2HD\n"
         "T999 TRK=99 SEC=08 SIZE=5000\n"
         "BIG  TRK=1000 SEC=01 SIZE=10\n"
         "MAX  TRK=1fff SEC=08 SIZE=10\n",
         "", 0, {{"T999", last}, {"BIG", {}}, {"MAX", {}}}});
}

TEST_F(ExtractionTest, AFullDirectoryListsEveryEntry) {
  for (const Medium* medium : {&k2HD, &k2DD}) {
    SCOPED_TRACE(medium->mediaType);
    DiskBuilder disk(*medium);
    Outcome expected{medium == &k2HD ? "MEDIA TYPE=2HD\n" : "MEDIA TYPE=2DD\n", "", 0, {}};
    const int entries = medium->directoryBytes / 10;  // 204 or 153 whole entries
    for (int i = 0; i < entries; ++i) {
      const std::string name = "F" + std::to_string(1000 + i).substr(1);
      disk.AddEntry(EntryBytes(name, 0x0010, 1));
      char line[64];
      std::snprintf(line, sizeof line, "%s TRK=%02x SEC=01 SIZE=1\n", name.c_str(),
                    0x10 >> medium->locationShift);
      expected.out += line;
      expected.files[name] = Bytes(1, 0);
    }
    if (medium == &k2DD) {
      // Entry 153 straddles the end of the 1536 bytes read: its size comes
      // from the zero tail of the directory buffer.
      const std::size_t at = 2 * 512 + 1530;
      const Bytes partial = EntryBytes("LAST", 0x0010, -1);
      std::copy(partial.begin(), partial.begin() + 6, disk.contents().begin() + static_cast<std::ptrdiff_t>(at));
      expected.out += "LAST TRK=01 SEC=01 SIZE=0\n";
      expected.files["LAST"] = {};
    }
    Check(disk.Build().Build(), expected);
  }
}

TEST_F(ExtractionTest, MissingOrShortDirectorySectors) {
  DiskBuilder disk(k2DD);
  disk.AddFile("ONE", Text("1"));
  disk.AddFile("TWO", Text("2"));
  Image missing = disk.Build();
  missing.tracks[0].erase(missing.tracks[0].begin() + 2);  // sector 3
  Check(missing.Build(), {"MEDIA TYPE=2DD\n", "", 0, {}});

  // Recorded short, the sector's bytes are kept and the read stops there.
  Image shortSector = disk.Build();
  shortSector.tracks[0][2].data.resize(10);
  shortSector.tracks[0][2].dataLength = 10;
  Check(shortSector.Build(), {"MEDIA TYPE=2DD\nONE  TRK=00 SEC=06 SIZE=1\n", "", 0, {{"ONE", Text("1")}}});
}

TEST_F(ExtractionTest, AnEmptyDirectoryListsNothing) {
  Check(DiskBuilder(k2HD).Build().Build(), {"MEDIA TYPE=2HD\n", "", 0, {}});
}

// A name that would leave the working directory, or that names no file,
// is refused like a file that cannot be created, and ends the run; names
// that merely look odd are plain files.
TEST_F(ExtractionTest, NamesThatCannotBeCreatedEndTheRun) {
  struct Case {
    const char* what;
    std::string name;
    std::string line;
    bool refused;
  };
  const Case cases[] = {
      {"leading space: empty name", " ABC", "     TRK=00 SEC=05 SIZE=1\n", true},
      {"a separator", "a/b", "a/b  TRK=00 SEC=05 SIZE=1\n", true},
      {"up and out", "../x", "../x TRK=00 SEC=05 SIZE=1\n", true},
      {"absolute", "/abs", "/abs TRK=00 SEC=05 SIZE=1\n", true},
      {"parent directory", "..", "..   TRK=00 SEC=05 SIZE=1\n", true},
      {"this directory", ".", ".    TRK=00 SEC=05 SIZE=1\n", true},
      {"an existing directory", "SUB", "SUB  TRK=00 SEC=05 SIZE=1\n", true},
      // Windows drops a trailing dot, so there the name is refused.
      {"three dots", "...", "...  TRK=00 SEC=05 SIZE=1\n", kWindows},
      {"dot first", ".x", ".x   TRK=00 SEC=05 SIZE=1\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string listed = "MEDIA TYPE=2HD\nOK   TRK=00 SEC=04 SIZE=2\n" + c.line;
    const Outcome refused{listed, msg::kWriteFailed, 1, {{"OK", Text("ok")}}, {"SUB"}};
    const Outcome written{listed + "LATE TRK=00 SEC=06 SIZE=4\n", "", 0,
                          {{"OK", Text("ok")}, {c.name, Text("x")}, {"LATE", Text("late")}}, {"SUB"}};
    Check(DiskWithNameBetween(c.name), c.refused ? refused : written,
          [](const ScratchDir& cwd) { std::filesystem::create_directory(cwd.File("SUB")); });
  }
}

#if defined(_WIN32)
// On Windows the name bytes are Shift_JIS whatever the ANSI code page, and a
// name Windows would take for a device, drive, stream or path is refused
// like one that cannot be created.
TEST_F(ExtractionTest, WindowsNamesAreShiftJis) {
  struct Case {
    const char* what;
    std::string name;        // the 4 bytes of the entry, as listed
    const wchar_t* created;  // the file's name; nullptr: refused
  };
  const Case cases[] = {
      {"katakana", "\x83\x41\x83\x43", L"\u30a2\u30a4"},
      {"second byte 0x5C", "\x95\x5c  ", L"\u8868"},
      {"second byte 0x5C before a letter", "\x95\x5c" "A ", L"\u8868" L"A"},
      {"half-width katakana", "\xb1\xb2  ", L"\uff71\uff72"},
      {"lone lead byte at the end", "AB\x81 ", nullptr},
      {"lead byte before a byte that cannot follow it", "\x81\x7f  ", nullptr},
      {"NUL", "NUL ", nullptr},
      {"lower-case con", "con ", nullptr},
      {"device name and a dot", "Aux.", nullptr},
      {"PRN", "PRN ", nullptr},
      {"COM1", "COM1", nullptr},
      {"lpt9", "lpt9", nullptr},
      {"drive", "C:AB", nullptr},
      {"backslash", "A\\B ", nullptr},
      {"trailing dot", "AB. ", nullptr},
      {"wildcards", "A*?B", nullptr},
      {"redirection", "<A> ", nullptr},
      {"quote and bar", "\"A| ", nullptr},
      {"control character", "A\x01" "B ", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string listing =
        "MEDIA TYPE=2HD\nOK   TRK=00 SEC=04 SIZE=2\n" + c.name + " TRK=00 SEC=05 SIZE=1\n";
    if (c.created == nullptr) {
      Check(DiskWithNameBetween(c.name), {listing, msg::kWriteFailed, 1, {{"OK", Text("ok")}}});
    } else {
      const std::string created = std::filesystem::path(c.created).u8string();
      Check(DiskWithNameBetween(c.name),
            {listing + "LATE TRK=00 SEC=06 SIZE=4\n", "", 0,
             {{"OK", Text("ok")}, {created, Text("x")}, {"LATE", Text("late")}}});
    }
  }
}
#endif

#if !defined(_WIN32)
// Only a space or a zero byte ends a name; control bytes and bytes
// 0x7F-0xFF reach the file system as they are.  Forty names of four bytes
// hold each of them once.
TEST_F(ExtractionTest, EveryOtherNameByteReachesTheFileSystemUnchanged) {
  std::string bytes;
  for (int b = 0x01; b < 0x20; ++b) bytes += static_cast<char>(b);
  for (int b = 0x7F; b <= 0xFF; ++b) bytes += static_cast<char>(b);
  DiskBuilder disk(k2HD);
  Outcome expected{"MEDIA TYPE=2HD\n", "", 0, {}};
  for (std::size_t at = 0; at < bytes.size(); at += 4) {
    const std::string name = bytes.substr(at, 4);
    const Bytes data = Text(std::to_string(at));
    const std::uint16_t location = disk.AddFile(name, data);
    char line[32];
    std::snprintf(line, sizeof line, "%s TRK=%02x SEC=%02x SIZE=%zu\n", name.c_str(), location >> 3,
                  (location & 7) + 1, data.size());
    expected.out += line;
    expected.files[name] = data;
  }
  Check(disk.Build().Build(), expected);
}

TEST_F(ExtractionTest, AFileThatCannotBeWrittenInFullIsAFailure) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  // A small file fails only when the stream's buffer is flushed at close.
  for (int size : {5000, 10}) {
    SCOPED_TRACE(size);
    DiskBuilder disk(k2HD);
    disk.AddFile("FULL", PatternBytes(static_cast<std::size_t>(size), 8));
    disk.AddFile("LATE", Text("late"));
    // The user's own link in the working directory leads to a full device.
    Check(disk.Build().Build(),
          {"MEDIA TYPE=2HD\nFULL TRK=00 SEC=04 SIZE=" + std::to_string(size) + "\n", msg::kWriteFailed, 1, {},
           {"FULL"}},
          [](const ScratchDir& cwd) { std::filesystem::create_symlink("/dev/full", cwd.File("FULL")); });
  }
}
#endif

TEST_F(ExtractionTest, OnlyTheFirstImageIsExtracted) {
  DiskBuilder first(k2DD);
  first.AddFile("ONE", Text("first"));
  DiskBuilder second(k2HD);
  second.AddFile("TWO", Text("second"));
  Check(Concat({first.Build().Build(), second.Build().Build()}),
        {"MEDIA TYPE=2DD\nONE  TRK=00 SEC=06 SIZE=5\n", "", 0, {{"ONE", Text("first")}}});
}

}  // namespace
