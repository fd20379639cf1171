#include "tests/support/TestSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#ifndef D88EXTRACT_BINARY
#error "D88EXTRACT_BINARY must name the built tool"
#endif

namespace fs = std::filesystem;

namespace d88test {

ScratchDir::ScratchDir(const std::string& parent) {
  static std::mt19937_64 random{std::random_device{}()};
  const fs::path base = parent.empty() ? fs::temp_directory_path() : fs::path(parent);
  for (;;) {
    fs::path candidate = base / ("d88extract-test-" + std::to_string(random()));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      path_ = candidate.string();
      return;
    }
  }
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  // Directories made read-only by a test must become writable to go.
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string ScratchDir::Name() const { return fs::path(path_).filename().string(); }

std::string ScratchDir::File(const std::string& name) const { return (fs::path(path_) / name).string(); }

std::vector<std::string> ScratchDir::List() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(path_)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

namespace {

std::string Quote(const std::string& s) {
#if defined(_WIN32)
  return "\"" + s + "\"";
#else
  std::string q = "'";
  for (char ch : s) q += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  return q + "'";
#endif
}

std::string ReadText(const std::string& path) {
  const Bytes b = ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

}  // namespace

std::string ToolBinaryPath() { return D88EXTRACT_BINARY; }

RunResult RunToolProcess(const std::vector<std::string>& args, const std::string& cwd) {
  ScratchDir streams;
  const std::string outPath = streams.File("stdout");
  const std::string errPath = streams.File("stderr");
#if defined(_WIN32)
  std::string command = "cd /d " + Quote(cwd) + " && " + Quote(D88EXTRACT_BINARY);
#else
  std::string command = "cd " + Quote(cwd) + " && exec " + Quote(D88EXTRACT_BINARY);
#endif
  for (const std::string& a : args) command += " " + Quote(a);
#if defined(_WIN32)
  command += " <NUL";
#else
  command += " </dev/null";
#endif
  command += " >" + Quote(outPath) + " 2>" + Quote(errPath);
  RunResult result;
  const int raw = std::system(command.c_str());
#if defined(_WIN32)
  result.status = raw;
#else
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
#endif
  result.out = ReadText(outPath);
  result.err = ReadText(errPath);
  return result;
}

std::string Lines(const std::string& text) {
#if defined(_WIN32)
  std::string out;
  for (char ch : text) {
    if (ch == '\n') out += '\r';
    out += ch;
  }
  return out;
#else
  return text;
#endif
}

namespace {

std::string HexLine(const Bytes& b, std::size_t from) {
  std::ostringstream s;
  char buf[8];
  std::snprintf(buf, sizeof buf, "%06zx", from);
  s << buf << ":";
  for (std::size_t i = from; i < from + 16 && i < b.size(); ++i) {
    std::snprintf(buf, sizeof buf, " %02x", b[i]);
    s << buf;
  }
  return s.str();
}

}  // namespace

::testing::AssertionResult BytesEqual(const char* expectedExpr, const char* actualExpr,
                                      const Bytes& expected, const Bytes& actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  std::size_t first = 0;
  while (first < expected.size() && first < actual.size() && expected[first] == actual[first]) ++first;
  std::ostringstream s;
  s << actualExpr << " differs from " << expectedExpr << " at byte " << first << " (sizes "
    << expected.size() << " and " << actual.size() << ")\n";
  const std::size_t from = first & ~static_cast<std::size_t>(15);
  for (std::size_t row = from; row < from + 48; row += 16) {
    if (row < expected.size() || row < actual.size()) {
      s << "  expected " << HexLine(expected, row) << "\n  actual   " << HexLine(actual, row) << "\n";
    }
  }
  return ::testing::AssertionFailure() << s.str();
}

::testing::AssertionResult BytesEqual(const char* expectedExpr, const char* actualExpr,
                                      const std::string& expected, const std::string& actual) {
  return BytesEqual(expectedExpr, actualExpr, ToBytes(expected), ToBytes(actual));
}

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes PatternBytes(std::size_t n, unsigned seed) {
  Bytes b(n);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& v : b) {
    x = x * 1103515245u + 12345u;
    v = static_cast<std::uint8_t>(x >> 16);
  }
  return b;
}

}  // namespace d88test
