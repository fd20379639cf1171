// The edit fuzzer's entry: each input is a container, which d88 add and
// rm (writing to a new file) either refuse, leaving no file behind, or
// change so that the file added reads back whole; export --force refuses
// it the same way or writes whole sectors (status 0, or 2 having named
// what it forced); d88 fix refuses it, finds it sound, or repairs it into
// a copy of as many images with as many files.  The container itself
// never changes.  A broken promise aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "d88/D88.h"
#include "diskimage/DiskImage.h"
#include "survey/Survey.h"
#include "testing/CheckedRun.h"
#include "testing/D88Builder.h"

namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "d88edit_fuzz: %s\n", what.c_str());
  std::abort();
}

// True when image k of the container at path gives X, intact, with
// bytes: d88 cat's verdict, on either file system.
bool HoldsAdded(const std::string& path, int k, const d88test::Bytes& bytes) {
  static diskimage::DiskImage disk;
  static std::FILE* quiet = std::fopen("/dev/null", "wb");
  std::FILE* out = std::tmpfile();
  if (out == nullptr) Fail("cannot make a temporary file");
  const std::string image = std::to_string(k);
  const char* argv[] = {"d88", "cat", "-i", image.c_str(), path.c_str(), "X"};
  const int status = d88::RunD88(disk, 6, argv, d88::Console{out, quiet});
  disk.Open(nullptr);
  d88test::Bytes got;
  std::rewind(out);
  for (int c; (c = std::fgetc(out)) != EOF;) got.push_back(static_cast<std::uint8_t>(c));
  std::fclose(out);
  return status == 0 && got == bytes;
}

// True when the containers at a and b hold as many images, each with as
// many files.
bool SameFiles(const std::string& a, const std::string& b) {
  static diskimage::DiskImage disks[2];
  static survey::DiskSurvey surveys[2];
  if (!disks[0].Open(a.c_str()) || !disks[1].Open(b.c_str())) return false;
  const int images = survey::CountImages(disks[0]);
  bool same = survey::CountImages(disks[1]) == images;
  for (int k = 0; same && k < images; ++k) {
    same = survey::SurveyDisk(disks[0], k, &surveys[0], false) &&
           survey::SurveyDisk(disks[1], k, &surveys[1], false) &&
           surveys[0].fileCount == surveys[1].fileCount;
  }
  return same;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const d88check::Sandbox sandbox;
  static const std::string dir = sandbox.WorkDir() + "/", container = dir + "c.d88",
                           out = dir + "o.d88", host = dir + "X", raw = dir + "o.img";
  static std::FILE* sink = std::fopen("/dev/null", "wb");
  static diskimage::DiskImage disk;
  const d88test::Bytes input(data, data + size);
  const d88test::Bytes added = d88test::PatternBytes(size > 0 ? data[0] * 97u : 0u, 1);
  if (!d88test::WriteFileBytes(container, input) || !d88test::WriteFileBytes(host, added))
    Fail("cannot write the input");
  const char* runs[][7] = {{"d88", "add", "-o", out.c_str(), container.c_str(), host.c_str()},
                           {"d88", "add", "-i", "1", "-o", out.c_str(), container.c_str()},
                           {"d88", "rm", "-o", out.c_str(), container.c_str(), "#0"},
                           {"d88", "export", "--force", container.c_str(), raw.c_str()}};
  runs[1][6] = host.c_str();
  for (const auto& argv : runs) {
    int argc = 0;
    while (argc < 7 && argv[argc] != nullptr) ++argc;
    const bool exports = argv[1][0] == 'e';
    std::filesystem::remove(out);
    std::filesystem::remove(raw);
    const int status = d88::RunD88(disk, argc, argv, d88::Console{sink, sink});
    disk.Open(nullptr);
    if (d88test::ReadFileBytes(container) != input) Fail("the container changed");
    if (status == 1 && std::distance(std::filesystem::directory_iterator(dir), {}) != 2)
      Fail("a refusal left a file behind");
    if (exports && status != 1) {
      // Whole sectors, of 128 bytes at least.
      if (status != 0 && status != 2) Fail("export: status " + std::to_string(status));
      if (std::filesystem::file_size(raw) % 128 != 0) Fail("export: a sector cut short");
      continue;
    }
    if (status != 0 && status != 1) Fail("status " + std::to_string(status));
    if (status == 0 && std::filesystem::file_size(out) != size) Fail("the length changed");
    if (status == 0 && argv[1][0] == 'a' && !HoldsAdded(out, argv[2][1] == 'i' ? 1 : 0, added))
      Fail("the file added does not read back");
  }
  std::filesystem::remove(out);
  const char* fix[] = {"d88", "fix", "-o", out.c_str(), container.c_str()};
  const int status = d88::RunD88(disk, 5, fix, d88::Console{sink, sink});
  disk.Open(nullptr);
  if (d88test::ReadFileBytes(container) != input) Fail("fix changed the container");
  if (status != 0 && status != 1) Fail("fix: status " + std::to_string(status));
  if (status == 1 && std::filesystem::exists(out)) Fail("fix: a refusal left a file behind");
  if (status == 0 && std::filesystem::exists(out) && !SameFiles(container, out))
    Fail("fix: the copy holds other files");
  return 0;
}
