#include "testing/CheckedRun.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#include "diskimage/DiskImage.h"
#include "tool/Directory.h"
#include "tool/MediaGeometry.h"
#include "tool/Messages.h"
#include "tool/Tool.h"

namespace fs = std::filesystem;

namespace d88check {

namespace {

constexpr char kContainerName[] = "disk.d88";

// The tool's reader; closed again after every run.
DiskImage disk;

// Returns a file's name as the directory entry spells it: on Windows the
// tool creates files by their names decoded from code page 932, so they
// are encoded back; elsewhere the bytes are the name.
std::string EntryName(const fs::path& file) {
#if defined(_WIN32)
  const std::wstring wide = file.filename().wstring();
  char bytes[64];
  const int n = WideCharToMultiByte(932, 0, wide.c_str(), static_cast<int>(wide.size()), bytes,
                                    static_cast<int>(sizeof bytes), nullptr, nullptr);
  return std::string(bytes, n > 0 ? static_cast<std::size_t>(n) : 0);
#else
  return file.filename().string();
#endif
}

// The entries of dir, by the names the tool would have given them, sorted.
std::vector<std::pair<std::string, fs::path>> Entries(const std::string& dir) {
  std::vector<std::pair<std::string, fs::path>> entries;
  for (const auto& entry : fs::directory_iterator(dir)) entries.emplace_back(EntryName(entry.path()), entry.path());
  std::sort(entries.begin(), entries.end());
  return entries;
}

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : Entries(dir)) names.push_back(entry.first);
  return names;
}

// Returns what was written to stream since it was last rewound, and
// rewinds it for the next run.
std::string Drain(std::FILE* stream) {
  std::fflush(stream);
  const long length = std::ftell(stream);
  std::rewind(stream);
  std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), stream));
  std::rewind(stream);
  return text;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool StartsWithMediaLine(const std::string& out) {
  for (int type : {0x10, 0x20}) {
    if (StartsWith(out, FindMediaGeometry(type)->mediaLine)) return true;
  }
  return false;
}

// The first rule the report breaks, or empty.
std::string BrokenRule(const RunReport& r, const std::vector<std::string>& files) {
  if (r.status != kExitSuccess && r.status != kExitFailure) return "status " + std::to_string(r.status);
  if (r.status == kExitSuccess && !r.err.empty()) return "status 0 with an error message: " + r.err;
  const bool beforeMedium = r.err == msg::kCannotOpen || r.err == msg::kWrongMedium;
  if (r.status == kExitFailure && !beforeMedium && r.err != msg::kWriteFailed) {
    return "status 1 without exactly one failure message: " + r.err;
  }
  if (beforeMedium ? !r.out.empty() : !StartsWithMediaLine(r.out)) return "unexpected output: " + r.out;
  for (const std::string& name : files) {
    // The listing pads a name to four characters.
    std::string line = "\n" + name;
    line.resize(std::max<std::size_t>(line.size(), 1 + kEntryNameBytes), ' ');
    if (r.out.find(line + " TRK=") == std::string::npos) return "a file that was not listed: " + name;
  }
  return "";
}

}  // namespace

Sandbox::Sandbox()
    : in_(root_.File("in")), out_(root_.File("out")), container_((fs::path(in_) / kContainerName).string()) {
  fs::create_directory(in_);
  fs::create_directory(out_);
  outStream_ = std::tmpfile();
  errStream_ = std::tmpfile();
}

Sandbox::~Sandbox() {
  std::fclose(outStream_);
  std::fclose(errStream_);
}

RunReport Sandbox::Run(const std::uint8_t* data, std::size_t size, bool readFiles) {
  RunReport report;
  if (!d88test::WriteFileBytes(container_, Bytes(data, data + size))) {
    report.fault = "cannot write the container";
    return report;
  }
  const fs::path home = fs::current_path();
  fs::current_path(out_);
  const char* const argv[] = {"d88extract", container_.c_str(), nullptr};
  report.status = RunTool(disk, 2, argv, Console{outStream_, errStream_});
  disk.Open(nullptr);
  fs::current_path(home);
  report.out = Drain(outStream_);
  report.err = Drain(errStream_);

  const auto entries = Entries(out_);
  report.fault = BrokenRule(report, Names(out_));
  for (const auto& [name, path] : entries) {
    if (report.fault.empty() && !fs::is_regular_file(fs::symlink_status(path))) {
      report.fault = "not a plain file: " + name;
    }
    if (report.fault.empty() && fs::file_size(path) > static_cast<std::uintmax_t>(kLargestDiskBytes)) {
      report.fault = "a file larger than any disk: " + name;
    }
    report.files[name] = readFiles ? d88test::ReadFileBytes(path.string()) : Bytes();
    fs::remove_all(path);
  }
  if (report.fault.empty() && Names(root_.path()) != std::vector<std::string>{"in", "out"}) {
    report.fault = "something was written beside the working directory";
  }
  if (report.fault.empty() && Names(in_) != std::vector<std::string>{kContainerName}) {
    report.fault = "something was written beside the container";
  }
  return report;
}

}  // namespace d88check
