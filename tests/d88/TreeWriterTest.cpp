// Writing a file system's tree: nothing outside the folder written into,
// whatever the names and the links already there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>
#if !defined(_WIN32)
#include <sys/resource.h>

#include <csignal>
#endif

#include "d88/TreeWriter.h"
#include "testing/D88Builder.h"
#include "testing/FolderTree.h"

namespace {

namespace stdfs = std::filesystem;

using d88test::FolderTree;

// Runs WriteTree with dir as the working directory; the messages of what
// was not written go to *messages.
d88::TreeResult WriteInto(const stdfs::path& dir, const filesystem::FileSystem& fs,
                          std::string* messages) {
  char buffer[256];
  output::Sink err(buffer, sizeof buffer,
                   {[](void* text, const char* bytes, std::size_t length) {
                      static_cast<std::string*>(text)->append(bytes, length);
                    },
                    messages});
  const auto cwd = stdfs::current_path();
  stdfs::current_path(dir);
  const d88::TreeResult result = d88::WriteTree(fs, {d88::PrintNotWritten, &err});
  stdfs::current_path(cwd);
  err.Flush();
  return result;
}

// A folder of each test's own, rows too: ctest runs them at once.
stdfs::path FreshDir(const std::string& name) {
  std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  std::replace(test.begin(), test.end(), '/', '-');
  const auto dir = stdfs::temp_directory_path() / (name + "-" + test);
  stdfs::remove_all(dir);
  stdfs::create_directories(dir);
  return dir;
}

// Entries made by hand, for names and trees no disk reader lets through.
struct FakeEntry {
  std::string name;
  int parent;
  bool folder;
  std::string bytes;
};

class FakeFileSystem final : public filesystem::FileSystem {
 public:
  explicit FakeFileSystem(const std::vector<FakeEntry>& entries) : fakes_(entries) {
    for (const FakeEntry& fake : fakes_) {
      filesystem::Entry e;
      e.kind = fake.folder ? filesystem::EntryKind::kFolder : filesystem::EntryKind::kFile;
      e.parent = fake.parent;
      e.nameText = fake.name.c_str();
      e.size = static_cast<std::uint32_t>(fake.bytes.size());
      entries_.push_back(e);
    }
  }
  const char* Name() const override { return "fake"; }
  bool Recognise(const filesystem::SectorSource&, filesystem::Reason&) override { return true; }
  void Read(const filesystem::SectorSource&) override {}
  int EntryCount() const override { return static_cast<int>(entries_.size()); }
  const filesystem::Entry& EntryAt(int i) const override { return entries_[std::size_t(i)]; }
  filesystem::Faults RootFaults() const override { return 0; }
  filesystem::Faults DiskFaults() const override { return 0; }
  std::uint32_t FileSectors(int, std::uint32_t*, std::uint32_t, std::uint32_t*) const override {
    return 0;
  }
  std::size_t ReadFile(int i, std::uint64_t offset, std::uint8_t* out,
                       std::size_t length) const override {
    const std::string& bytes = fakes_[std::size_t(i)].bytes;
    const std::size_t n = std::min<std::size_t>(length, bytes.size() - offset);
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), n, out);
    return n;
  }

 private:
  std::vector<FakeEntry> fakes_;
  std::vector<filesystem::Entry> entries_;
};

using TreeText = std::map<std::string, std::string>;

struct HostileRow {
  const char* what;
  std::vector<FakeEntry> entries;
  // Makes what stands in work/ and outside/ before the run; false to skip.
  std::function<bool(const stdfs::path& dir)> setup;
  TreeText tree;  // work/ and outside/ afterwards
  int written;
  const char* messages;
  int firstError;
};

bool Nothing(const stdfs::path&) { return true; }

bool Link(const stdfs::path& link, const stdfs::path& target) {
  std::error_code error;
  stdfs::create_symlink(target, link, error);
  return !error;
}

const std::string kBig(10000, 'b');

const HostileRow kHostileRows[] = {
    {"names that would leave the folder",
     {{"..", -1, false, "x"},
      {"a/b", -1, false, "x"},
      {"", -1, false, "x"},
      {".", -1, true, ""},
      {"in", 3, false, "x"},
      {"ok", -1, false, "fine"}},
     Nothing,
     {{"outside", "/"}, {"work", "/"}, {"work/ok", "fine"}},
     1,
     "d88: cannot write \"..\": not a plain file name\n"
     "d88: cannot write \"a/b\": not a plain file name\n"
     "d88: cannot write \"\": not a plain file name\n"
     "d88: cannot write \".\": not a plain file name\n"
     "d88: cannot write \"./in\": not a plain file name\n",
     0},
    {"a folder that is a link out",
     {{"SUB", -1, true, ""}, {"f", 0, false, "x"}, {"top", -1, false, "t"}},
     [](const stdfs::path& dir) { return Link(dir / "work" / "SUB", "../outside"); },
     {{"outside", "/"}, {"work", "/"}, {"work/SUB", "->"}, {"work/top", "t"}},
     1,
     "d88: cannot write \"SUB\": a link or special file stands in its way\n"
     "d88: cannot write \"SUB/f\": a link or special file stands in its way\n",
     0},
    {"a file that is a link out",
     {{"f", -1, false, "new"}, {"g", -1, false, "g"}},
     [](const stdfs::path& dir) {
       return d88test::WriteFileBytes(dir / "outside" / "kept", d88test::Text("old")) &&
              Link(dir / "work" / "f", "../outside/kept");
     },
     {{"outside", "/"}, {"outside/kept", "old"}, {"work", "/"}, {"work/f", "->"}, {"work/g", "g"}},
     1,
     "d88: cannot write \"f\": a link or special file stands in its way\n",
     0},
#if defined(_WIN32)
    {"names Windows takes for devices, streams and paths",
     {{"CON", -1, false, "x"},
      {"aux.txt", -1, false, "x"},
      {"a\\b", -1, false, "x"},
      {"x:y", -1, false, "x"},
      {"ok", -1, false, "fine"}},
     Nothing,
     {{"outside", "/"}, {"work", "/"}, {"work/ok", "fine"}},
     1,
     "d88: cannot write \"CON\": not a plain file name\n"
     "d88: cannot write \"aux.txt\": not a plain file name\n"
     "d88: cannot write \"a\\b\": not a plain file name\n"
     "d88: cannot write \"x:y\": not a plain file name\n",
     0},
#elif !defined(D88_COVERAGE_BUILD)
    {"a write that fails, and the run going on",
     {{"big", -1, false, kBig}, {"small", -1, false, "s"}},
     [](const stdfs::path&) {
       std::signal(SIGXFSZ, SIG_IGN);
       struct rlimit limit;
       getrlimit(RLIMIT_FSIZE, &limit);
       limit.rlim_cur = 4096;
       return setrlimit(RLIMIT_FSIZE, &limit) == 0;
     },
     {{"outside", "/"},
      {"work", "/"},
      {"work/big", "4096 bytes #" + std::to_string(std::hash<std::string>()(kBig.substr(0, 4096)))},
      {"work/small", "s"}},
     1,
     "d88: cannot write \"big\": File too large\n",
     EFBIG},
#endif
};

class TreeWriterHostileTest : public ::testing::TestWithParam<HostileRow> {};

TEST_P(TreeWriterHostileTest, WritesNothingOutsideAndNamesWhatItRefuses) {
  const HostileRow& row = GetParam();
  const auto dir = FreshDir("treewriter-hostile");
  stdfs::create_directories(dir / "work");
  stdfs::create_directories(dir / "outside");
  if (!row.setup(dir)) GTEST_SKIP() << "cannot make the row's links here";
  FakeFileSystem fs(row.entries);
  std::string messages;
  const d88::TreeResult result = WriteInto(dir / "work", fs, &messages);
#if !defined(_WIN32)
  struct rlimit limit;
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_FSIZE, &limit);
#endif
  EXPECT_EQ(FolderTree(dir), row.tree);
  EXPECT_EQ(result.written, row.written);
  EXPECT_EQ(result.notWritten, static_cast<int>(row.entries.size()) - row.written);
  EXPECT_EQ(result.firstError, row.firstError);
  EXPECT_EQ(messages, row.messages);
  stdfs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Rows, TreeWriterHostileTest, ::testing::ValuesIn(kHostileRows),
                         [](const auto& info) {
                           std::string name = info.param.what;
                           for (char& c : name)
                             c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

}  // namespace
