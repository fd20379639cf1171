// The whole tool on disks of every kind: the bytes on both streams, the
// status and the files left in the working directory.  In-process, and as
// a process of its own for its arguments and real streams.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>

#include "testing/CheckedRun.h"
#include "tool/Messages.h"
#include "tool/WindowsName.h"

using namespace d88test;
using Files = std::map<std::string, Bytes>;

namespace {

constexpr bool kWindows = std::filesystem::path::preferred_separator == '\\';
#if defined(D88_COVERAGE_BUILD)
constexpr bool kCoverageBuild = true;
#else
constexpr bool kCoverageBuild = false;
#endif

// Runs the tool on container and expects its streams and the files in its
// working directory, by the names the entries spell; the status must be 1
// where there is an error message, 0 otherwise.
void Check(const Bytes& container, const std::string& out, const std::string& err,
           const Files& files, const d88check::Sandbox::Prepare& prepare = {}) {
  static d88check::Sandbox sandbox;
  const d88check::RunReport r = sandbox.Run(container.data(), container.size(), true, prepare);
  EXPECT_EQ(r.fault, "");
  EXPECT_EQ(r.status, err.empty() ? 0 : 1);
  EXPECT_EQ(r.out, out);
  EXPECT_EQ(r.err, err);
  EXPECT_TRUE(r.files == files) << out;
}

Bytes HeaderOnly(std::uint8_t mediaType) { return Image{"", mediaType, {}, {}}.Build(); }

TEST(Tool, IdentifiesTheMediumOfTheFirstImage) {
  for (const Bytes& wrong : {Bytes(), Bytes(687, 0), HeaderOnly(0x00), HeaderOnly(0x30),
                             HeaderOnly(0x11), Concat({HeaderOnly(0x00), HeaderOnly(0x20)})})
    Check(wrong, "", tool::msg::kWrongMedium, {});
  Check(HeaderOnly(0x10), "MEDIA TYPE=2DD\n", "", {});
  Check(HeaderOnly(0x20), "MEDIA TYPE=2HD\n", "", {});
  Check(Concat({HeaderOnly(0x10), HeaderOnly(0x20)}), "MEDIA TYPE=2DD\n", "", {});
}

// A disk of the medium holding files one after another, then entries as
// given; edit may change its records.
Bytes Disk(const Medium& medium, const Files& files, const std::vector<Bytes>& entries = {},
           void (*edit)(Image&) = nullptr) {
  DiskBuilder disk(medium);
  for (const auto& [name, data] : files) disk.AddFile(name, data);
  for (const Bytes& entry : entries) disk.AddEntry(entry);
  Image image = disk.Build();
  if (edit) edit(image);
  return image.Build();
}

TEST(Tool, ListsAndExtractsEveryEntry) {
  const Bytes a = PatternBytes(3000, 1), b = PatternBytes(9000, 2), c = PatternBytes(512, 3);
  // 2HD: files by name order, one from sector 7 of track 0 into track 1;
  // entries anywhere, cut at the end of the disk.
  Check(
      Disk(k2HD, {{"AB  ", a}, {"XTRK", b}},
           {EntryBytes("A BC", 3, 5), EntryBytes(std::string("Z\0BC", 4), 0x1F, 0),
            EntryBytes("AB", 6, 1), EntryBytes("T999", 0x04CF, 5000), EntryBytes("BIG", 0x8000, 10),
            EntryBytes("MAX", 0xFFFF, 10), EntryBytes("LOC", 0x0123, 1)},
           [](Image& i) { i.tracks[153][7].data.assign(1024, 7); }),
      "MEDIA TYPE=2HD\nAB   TRK=00 SEC=04 SIZE=3000\nXTRK TRK=00 SEC=07 SIZE=9000\nA    TRK=00 "
      "SEC=04 SIZE=5\n"
      "Z    TRK=03 SEC=08 SIZE=0\nAB   TRK=00 SEC=07 SIZE=1\nT999 TRK=99 SEC=08 SIZE=5000\nBIG  "
      "TRK=1000 SEC=01 SIZE=10\n"
      "MAX  TRK=1fff SEC=08 SIZE=10\nLOC  TRK=24 SEC=04 SIZE=1\n",
      "",
      {{"AB", {b[0]}},
       {"XTRK", b},
       {"A", Bytes(a.begin(), a.begin() + 5)},
       {"Z", {}},
       {"T999", Bytes(1024, 7)},
       {"BIG", {}},
       {"MAX", {}},
       {"LOC", {0}}});
  // 2DD: a Shift_JIS name crossing into track 1; sector 11 of track 0 is
  // sector 2 of track 1; zeros beyond the disk; cut at the buffer's end.
  Bytes huge(154 * 8 * 1024 - (159 * 9 + 8) * 512, 0);  // from track 159 sector 9 on
  std::copy(c.begin(), c.end(), huge.begin());
  Check(Disk(k2DD, {{"\x83\x41\x83\x43", b}},
             {EntryBytes("WRAP", 0x000A, 700), EntryBytes("LAST", 0x09F8, 512),
              EntryBytes("AREA", 0x0A00, 100), EntryBytes("FAR", 0xFFF0, 100),
              EntryBytes("NEG", 0x0123, -5), EntryBytes("HUGE", 0x09F8, 0x7FFFFFFF)},
             [](Image& i) { i.tracks[159][8].data = PatternBytes(512, 3); }),
        "MEDIA TYPE=2DD\n\x83\x41\x83\x43 TRK=00 SEC=06 SIZE=9000\nWRAP TRK=00 SEC=0b "
        "SIZE=700\nLAST TRK=9f SEC=09 SIZE=512\n"
        "AREA TRK=a0 SEC=01 SIZE=100\nFAR  TRK=fff SEC=01 SIZE=100\nNEG  TRK=12 SEC=04 SIZE=-5\n"
        "HUGE TRK=9f SEC=09 SIZE=2147483647\n",
        "",
        {{"\x83\x41\x83\x43", b},
         {"WRAP", Bytes(b.begin() + 5 * 512, b.begin() + 5 * 512 + 700)},
         {"LAST", c},
         {"AREA", Bytes(100, 0)},
         {"FAR", {}},
         {"NEG", {}},
         {"HUGE", huge}});
  // Directory sector 3 missing: nothing listed; cut to 10 bytes: the
  // first entry only.  Only the first image counts.
  Check(Disk(k2DD, {{"ONE", {1}}, {"TWO", {2}}}, {},
             [](Image& i) { i.tracks[0].erase(i.tracks[0].begin() + 2); }),
        "MEDIA TYPE=2DD\n", "", {});
  Check(
      Concat(
          {Disk(
               k2DD, {{"ONE", {1}}, {"TWO", {2}}}, {},
               [](Image& i) {
                 i.tracks[0][2] = MakeRecord(0, 0, 3, 2, 9, {'O', 'N', 'E', ' ', 5, 0, 1, 0, 0, 0});
               }),
           Disk(k2HD, {{"HD", {3}}})}),
      "MEDIA TYPE=2DD\nONE  TRK=00 SEC=06 SIZE=1\n", "", {{"ONE", {1}}});
}

// Every slot of the directory is read: 204 entries on 2HD, whose last 8
// bytes would begin a 205th; 153 on 2DD, where a 154th straddles the end
// of the 1536 bytes read and takes its size from the zero tail.
TEST(Tool, AFullDirectoryListsEveryEntry) {
  for (const auto& [medium, out] : {std::pair{&k2HD, std::string("MEDIA TYPE=2HD\n")},
                                    {&k2DD, std::string("MEDIA TYPE=2DD\n")}}) {
    std::vector<Bytes> entries(static_cast<std::size_t>(medium->directoryBytes / 10 + 1),
                               EntryBytes("F", 0x0010, -1));
    const std::string line =
        medium == &k2HD ? "F    TRK=02 SEC=01 SIZE=-1\n" : "F    TRK=01 SEC=01 SIZE=-1\n";
    std::string listing = out;
    for (std::size_t i = 1; i < entries.size(); ++i) listing += line;
    Check(Disk(*medium, {}, entries),
          medium == &k2HD ? listing : listing + "F    TRK=01 SEC=01 SIZE=0\n", "", {{"F", {}}});
  }
}

// A name that would leave the working directory or names no file there is
// refused like a file that cannot be created, and ends the run; a name
// that only looks odd is a plain file.  On Windows the name bytes are
// Shift_JIS, and a name Windows takes for a device, drive, stream or path
// is refused too.
TEST(Tool, NamesThatCannotBeCreatedEndTheRun) {
  const std::pair<std::string, bool> names[] = {
    {" ABC", true},
    {"a/b", true},
    {"../x", true},
    {"/abs", true},
    {"..", true},
    {".", true},
    {"SUB", true},
    {"...", kWindows},
    {".x", false},
    {"\x83\x41\x83\x43", false},
    {"\x95\x5c", false},  // 表: second byte 0x5C
#if defined(_WIN32)
    {"\x95\x5c\x41", false},  // 表A
    {"\xb1\xb2", false},
    {"AB\x81", true},
    {"\x81\x7f", true},
    {"NUL", true},
    {"con", true},
    {"Aux.", true},
    {"COM1", true},
    {"lpt9", true},
    {"C:AB", true},
    {"A\\B", true},
    {"AB.", true},
    {"A*?B", true},
    {"<A>", true},
    {"\"A|", true},
    {"A\x01\x42", true},
#else
    {".\x01", false},  // "." with a byte after it is an ordinary name
    {"..\x01", false},
    {"\x01\x1f\x7f\xff", false},
    {"\x80\x9f\xe0\xfc", false},  // only a space or a zero byte ends a name
#endif
  };
  for (const auto& [name, refused] : names) {
    char line[64];
    std::snprintf(line, sizeof line, "%-4s TRK=00 SEC=05 SIZE=1\n",
                  name[0] == ' ' ? "" : name.c_str());
    Files files = {{"OK", Text("ok")}, {"SUB", {}}};
    if (!refused) files.insert({{name, Text("x")}, {"~", Text("late")}});
    Check(Disk(k2HD, {{"OK", Text("ok")}}, {EntryBytes(name, 4, 1), EntryBytes("~", 5, 4)},
               [](Image& i) {
                 i.tracks[0][4].data[0] = 'x', std::copy_n("late", 4, i.tracks[0][5].data.begin());
               }),
          "MEDIA TYPE=2HD\nOK   TRK=00 SEC=04 SIZE=2\n" + std::string(line) +
              (refused ? "" : "~    TRK=00 SEC=06 SIZE=4\n"),
          refused ? tool::msg::kWriteFailed : "", files,
          [](const std::string& out) { std::filesystem::create_directory(out + "/SUB"); });
  }
}

// The names Windows would take for something other than a plain file, on
// every system: the check works on decoded names.
TEST(Tool, WindowsNamesOfPlainFiles) {
  for (const wchar_t* name :
       {L"ABCD", L"\u30a2\u30a4", L"\u8868", L"a.b", L".ab", L"CONX", L"NULL", L"COM0", L"LPT",
        L"COMA", L"XCON", L"\uff23\uff2f\uff2e", L"A\x7f", L"A B"}) {
    EXPECT_TRUE(tool::IsPlainWindowsName(name)) << testing::PrintToString(std::wstring(name));
  }
  for (const wchar_t* name :
       {L"",     L".",         L"..",        L"AB.",         L"AB ",     L"CON",    L"con",
        L"PRN",  L"aUx",       L"NUL",       L"NUL.",        L"nul.txt", L"NUL .x", L"COM1",
        L"com9", L"COM\u00b9", L"COM\u00b2", L"LPT\u00b3.x", L"LPT1",    L"Lpt9",   L"C:AB",
        L"A\\B", L"A/B",       L"A<",        L"A>",          L"A\"",     L"A|",     L"A?",
        L"A*",   L"A\x01",     L"\x1f",      L"A\tB"}) {
    EXPECT_FALSE(tool::IsPlainWindowsName(name)) << testing::PrintToString(std::wstring(name));
  }
}

#if !defined(_WIN32)
// An output name that is a link is refused like a file that cannot be
// created: nothing is written through it, and the link and its target stay.
TEST(Tool, AnOutputNameThatIsALinkIsRefused) {
  d88check::Sandbox elsewhere;
  const std::string target = elsewhere.WorkDir() + "/target";
  ASSERT_TRUE(WriteFileBytes(target, Text("mine")));
  Check(Disk(k2HD, {{"LINK", Text("link")}, {"MORE", {}}}),
        "MEDIA TYPE=2HD\nLINK TRK=00 SEC=04 SIZE=4\n", tool::msg::kWriteFailed, {{"LINK", {}}},
        [&](const std::string& out) { std::filesystem::create_symlink(target, out + "/LINK"); });
  EXPECT_EQ(ReadFileBytes(target), Text("mine"));
}
#endif

// The built tool as a process: the usage line names it as invoked; text
// on the real streams has the platform's line ends.  A directory is no
// container; output that cannot be stored in full (a file over the size
// limit, found out during the write or only at the close, or a listing
// sent to a full device) fails the run, and so does a container that
// fails to read (strace makes its reads fail).
TEST(Tool, AsAProcess) {
  const std::string tool = std::filesystem::path(D88EXTRACT_BINARY).make_preferred().string(),
                    usage = "Usage: " + tool + " image\n";
  const std::string listing = "MEDIA TYPE=2HD\nHI   TRK=00 SEC=04 SIZE=2\n",
                    big = "TOP  TRK=00 SEC=05 SIZE=";
  struct Row {
    std::string args, out, err;
    std::string before = "";       // shell commands before the tool's
    std::string stdoutTo = "out";  // where standard output goes
    std::size_t bigSize = 1030;    // bytes of the file TOP
  };
  std::vector<Row> rows = {{"", "", usage},
                           {"disk.d88 disk.d88", "", usage},
                           {"nothing.d88", "", tool::msg::kCannotOpen},
                           {".", "", tool::msg::kCannotOpen},
                           {"disk.d88", listing + big + "1030\n", ""}};
  if (!kWindows) {
    // The shell's limit is in blocks of 512 bytes; the signal it would send
    // is ignored, so the write itself fails.  A coverage build's counts,
    // written at exit, would break the limit too.
    for (const std::size_t size : {5000u, 1030u}) {
      if (kCoverageBuild) break;
      rows.push_back({"disk.d88", listing + big + std::to_string(size) + "\n",
                      tool::msg::kWriteFailed, "trap '' XFSZ; ulimit -f 2; ", "out", size});
    }
    rows.push_back({"disk.d88", "", tool::msg::kWriteFailed, "", "/dev/full"});
    // A read that fails, while the images are indexed or the disk loads,
    // is no end of the file: the run ends before any file is written.
    // (LeakSanitizer cannot work under strace.)
    const std::string fail =
        "ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=0 strace -o /dev/null -P \"$PWD/disk.d88\" "
        "-e inject=read:error=EIO:when=";
    if (std::system("strace -o /dev/null true 2>/dev/null") == 0) {
      rows.push_back({"disk.d88", "", tool::msg::kCannotRead, fail + "1 "});
      rows.push_back({"disk.d88", "MEDIA TYPE=2HD\n", tool::msg::kCannotRead, fail + "5 "});
    }
  }
  for (Row& row : rows) {
    d88check::Sandbox box;
    ASSERT_TRUE(
        WriteFileBytes(box.WorkDir() + "/disk.d88",
                       Disk(k2HD, {{"HI", Text("hi")}, {"TOP", PatternBytes(row.bigSize, 4)}})));
    const std::string dir = std::filesystem::path(box.WorkDir()).make_preferred().string();
    const int status =
        std::system(((kWindows ? "cd /d \"" : "cd \"") + dir + "\" && " + row.before + "\"" + tool +
                     "\" " + row.args + " >" + row.stdoutTo + " 2>err")
                        .c_str());
    for (std::string* text : {&row.out, &row.err}) {
      for (std::size_t at = text->find('\n'); kWindows && at != std::string::npos;
           at = text->find('\n', at + 2))
        text->insert(at, "\r");
    }
    EXPECT_EQ(status, kWindows          ? !row.err.empty()
                      : row.err.empty() ? 0
                                        : 256)
        << row.before << row.args;  // a POSIX wait status
    EXPECT_EQ(row.stdoutTo == "out" ? ReadFileBytes(box.WorkDir() + "/out") : Bytes(),
              Text(row.out))
        << row.before << row.args;
    EXPECT_EQ(ReadFileBytes(box.WorkDir() + "/err"), Text(row.err)) << row.before << row.args;
    // Files listed before a failure stay; none is written unlisted.
    const bool listed = row.stdoutTo != "out" || row.out.find("\nHI ") != std::string::npos;
    EXPECT_EQ(std::filesystem::exists(box.WorkDir() + "/HI"), listed) << row.before << row.args;
    if (listed) {
      EXPECT_EQ(ReadFileBytes(box.WorkDir() + "/HI"), Text("hi"));
    }
  }
}

}  // namespace
