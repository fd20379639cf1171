#include "testing/CheckedRun.h"

#include <cstring>
#include <random>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#include "diskimage/DiskImage.h"
#include "tool/Messages.h"
#include "tool/Tool.h"

namespace fs = std::filesystem;

namespace d88check {

namespace {

// The reader of every run; closed again after each.
diskimage::DiskImage disk;

// The entries of dir by the names the directory entries spell: on Windows
// the tool creates files by their names decoded from code page 932, so
// they are encoded back; elsewhere the bytes are the name.
std::map<std::string, fs::path> Entries(const std::string& dir) {
  std::map<std::string, fs::path> entries;
  for (const auto& entry : fs::directory_iterator(dir)) {
#if defined(_WIN32)
    const std::wstring wide = entry.path().filename().wstring();
    char bytes[64];
    const int n = WideCharToMultiByte(932, 0, wide.c_str(), static_cast<int>(wide.size()), bytes,
                                      64, nullptr, nullptr);
    entries[std::string(bytes, n > 0 ? static_cast<std::size_t>(n) : 0)] = entry.path();
#else
    entries[entry.path().filename().string()] = entry.path();
#endif
  }
  return entries;
}

// Returns what was written to stream since it was last rewound, and
// rewinds it for the next run.
std::string Drain(std::FILE* stream) {
  std::fflush(stream);
  std::string text(static_cast<std::size_t>(std::ftell(stream)), '\0');
  std::rewind(stream);
  text.resize(std::fread(text.data(), 1, text.size(), stream));
  std::rewind(stream);
  return text;
}

// Returns a fresh directory in the system's temporary directory.
std::string MakeRoot() {
  static std::mt19937_64 random{std::random_device{}()};
  fs::path root;
  for (std::error_code ec; !fs::create_directory(
           root = fs::temp_directory_path() / ("d88-test-" + std::to_string(random())), ec);) {
  }
  return root.string();
}

}  // namespace

Sandbox::Sandbox()
    : root_(MakeRoot()), in_(root_ + "/in"), out_(root_ + "/out"), container_(in_ + "/disk.d88") {
  fs::create_directory(in_);
  fs::create_directory(out_);
  outStream_ = std::tmpfile();
  errStream_ = std::tmpfile();
}

Sandbox::~Sandbox() {
  std::fclose(outStream_);
  std::fclose(errStream_);
  std::error_code ec;
  fs::remove_all(root_, ec);
}

RunReport Sandbox::Run(const std::uint8_t* data, std::size_t size, bool readFiles,
                       const Prepare& prepare) {
  RunReport r;
  if (!d88test::WriteFileBytes(container_, Bytes(data, data + size)))
    r.fault = "cannot write the container";
  if (prepare) prepare(out_);
  const std::map<std::string, fs::path> before = Entries(out_);
  const fs::path home = fs::current_path();
  fs::current_path(out_);
  const char* const argv[] = {"d88extract", container_.c_str(), nullptr};
  r.status = tool::RunTool(disk, 2, argv, tool::Console{outStream_, errStream_});
  disk.Open(nullptr);
  fs::current_path(home);
  r.out = Drain(outStream_);
  r.err = Drain(errStream_);
  const bool beforeMedium = r.err == tool::msg::kCannotOpen || r.err == tool::msg::kWrongMedium;
  const bool readFailed = r.err == tool::msg::kCannotRead;
  const bool mediaLine =
      r.out.rfind("MEDIA TYPE=2DD\n", 0) == 0 || r.out.rfind("MEDIA TYPE=2HD\n", 0) == 0;
  if (r.status != (r.err.empty() ? tool::kExitSuccess : tool::kExitFailure))
    r.fault += "status " + std::to_string(r.status);
  if (!r.err.empty() && !beforeMedium && !readFailed && r.err != tool::msg::kWriteFailed)
    r.fault += "not one failure message: " + r.err;
  const bool listed = r.out.size() > std::strlen("MEDIA TYPE=2HD\n");
  if (readFailed ? listed || (!r.out.empty() && !mediaLine) : beforeMedium == mediaLine)
    r.fault += "unexpected output: " + r.out;
  for (const auto& [name, path] : Entries(out_)) {
    // Files made by the run only; the listing pads a name to four characters.
    const std::string line =
        "\n" + name + std::string(name.size() < 4 ? 4 - name.size() : 0, ' ') + " TRK=";
    const bool made = before.count(name) == 0;
    if (made && r.out.find(line) == std::string::npos) r.fault += "a file not listed: " + name;
    if (made && !fs::is_regular_file(fs::symlink_status(path)))
      r.fault += "not a plain file: " + name;
    if (made && fs::file_size(path) > static_cast<std::uintmax_t>(tool::kLargestDiskBytes))
      r.fault += "too large: " + name;
    r.files[name] = made && readFiles ? d88test::ReadFileBytes(path) : Bytes();
    fs::remove_all(path);
  }
  if (Entries(root_).size() != 2 || Entries(in_).size() != 1)
    r.fault += "something was written beside the working directory";
  return r;
}

namespace {

// Reads every track of the current image as CheckReader says.  Kept
// small per track, so that the reader's fuzzer runs fast: eight listed
// IDs, those of the next track, one that the track lacks and one that no
// record can carry.
std::string CheckTracks() {
  static std::vector<diskimage::SectorRequest> requests, answers;
  static Bytes single, batch;
  requests.clear();
  std::uint8_t ids[4 * 8 + 3];  // not a whole number of IDs
  for (int t = -1; t <= diskimage::kTrackCount; ++t) {
    const int listed = disk.ReadTrackIds(t, ids, sizeof ids);
    if (listed < 0 || listed > 4 * 8 || listed % 4 != 0)
      return "ReadTrackIds gave " + std::to_string(listed);
    // The track before asks for these IDs too: in a run of tracks they lie
    // past the end of its walk, so that only its counts keep them out.
    for (int i = 0; i < listed; i += 4) {
      requests.push_back({t, ids[i], ids[i + 1], ids[i + 2], ids[i + 3], nullptr, 0, 0});
      requests.push_back({t - 1, ids[i], ids[i + 1], ids[i + 2], ids[i + 3], nullptr, 0, 0});
    }
    requests.push_back({t, t >> 1, t & 1, 0xF7, 3, nullptr, 0, 0});
    requests.push_back({t, t >> 1, t & 1, 1, 256, nullptr, 0, 0});
  }
  std::size_t total = 0;
  for (std::size_t i = 0; i < requests.size(); ++i) {
    total += static_cast<std::size_t>(requests[i].maxLength =
                                          i % 8 == 0 ? 1100 : static_cast<int>(i * 37 % 160));
  }
  single.assign(total, 0xEE);
  batch = single;
  for (std::size_t i = 0, at = 0; i < requests.size();
       at += static_cast<std::size_t>(requests[i++].maxLength)) {
    diskimage::SectorRequest& q = requests[i];
    q.result = disk.ReadSector(q.track, q.c, q.h, q.r, q.n, single.data() + at, q.maxLength);
    if (q.result < 0 || q.result > q.maxLength)
      return "ReadSector gave " + std::to_string(q.result);
    q.buffer = batch.data() + at;
  }
  answers = requests;
  disk.ReadSectorBatch(requests.data(), static_cast<int>(requests.size()));
  for (std::size_t i = 0; i < requests.size(); ++i) {
    if (requests[i].result != answers[i].result)
      return "the batch differs at request " + std::to_string(i);
  }
  return single == batch ? "" : "the batch leaves other bytes";
}

}  // namespace

std::string CheckReader(const std::string& path) {
  if (!disk.Open(path.c_str())) return "the reader cannot open the container";
  const int images = disk.GetImageCount();
  std::string fault =
      images < 0 || images > diskimage::kMaxImages ? "image count " + std::to_string(images) : "";
  for (int k = -1; k <= images && fault.empty(); ++k) {
    const bool selected = disk.Select(k);
    const int type = disk.GetMediaType();
    if (selected != (k >= 0 && k < images) || (selected ? type < 0 || type > 255 : type != -1))
      fault = "Select(" + std::to_string(k) + ")";
    if (std::strlen(disk.GetName()) > static_cast<std::size_t>(diskimage::kNameSize))
      fault = "a name of more than 16 bytes";
    if (fault.empty() && selected && (k == 0 || k == images - 1)) fault = CheckTracks();
  }
  // A plain file ends; it does not fail.
  if (fault.empty() && disk.GetReadError() != 0)
    fault = std::string("a read error: ") + std::strerror(disk.GetReadError());
  disk.Open(nullptr);
  return fault;
}

}  // namespace d88check
