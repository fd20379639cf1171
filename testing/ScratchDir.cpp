#include "testing/ScratchDir.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace fs = std::filesystem;

namespace d88test {

namespace {

// Tests spell file names as bytes; on Windows, where names are wide
// characters, as UTF-8.
fs::path NamePath(const std::string& name) {
#if defined(_WIN32)
  return fs::u8path(name);
#else
  return fs::path(name);
#endif
}

std::string NameString(const fs::path& path) {
#if defined(_WIN32)
  return path.u8string();
#else
  return path.string();
#endif
}

}  // namespace

ScratchDir::ScratchDir(const std::string& parent) {
  static std::mt19937_64 random{std::random_device{}()};
  const fs::path base = parent.empty() ? fs::temp_directory_path() : NamePath(parent);
  for (;;) {
    fs::path candidate = base / ("d88extract-test-" + std::to_string(random()));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      path_ = NameString(candidate);
      return;
    }
  }
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  // Directories made read-only by a test must become writable to go.
  fs::permissions(NamePath(path_), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(NamePath(path_), ec);
}

std::string ScratchDir::Name() const { return NameString(NamePath(path_).filename()); }

std::string ScratchDir::File(const std::string& name) const {
  return NameString(NamePath(path_) / NamePath(name));
}

std::vector<std::string> ScratchDir::List() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(NamePath(path_))) {
    names.push_back(NameString(entry.path().filename()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

Bytes ScratchDir::Read(const std::string& name) const {
  std::ifstream in(NamePath(path_) / NamePath(name), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace d88test
