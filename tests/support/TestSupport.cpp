#include "tests/support/TestSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
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

namespace {

#if defined(_WIN32)
// A path for cmd.exe: in double quotes, where cmd.exe takes & | < > ^ as
// they stand.  Windows paths hold no double quote.
std::string QuotePath(const std::string& s) { return "\"" + s + "\""; }

// An argument quoted as the C runtime splits a command line (a run of
// backslashes doubled before a quote, the quote escaped), then with every
// character cmd.exe acts on, quotes included, escaped by ^, so that cmd.exe
// hands the line on unchanged.  Only % has no escape there: cmd.exe
// expands %NAME% wherever NAME is set.
std::string QuoteArgument(const std::string& s) {
  if (s.find('%') != std::string::npos) ADD_FAILURE() << "cmd.exe cannot pass % unchanged: " << s;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char ch : s) {
    if (ch == '\\') {
      ++backslashes;
      continue;
    }
    if (ch == '"') backslashes = backslashes * 2 + 1;
    quoted.append(backslashes, '\\');
    backslashes = 0;
    quoted += ch;
  }
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  std::string escaped;
  for (char ch : quoted) {
    if (std::strchr("()%!^\"<>&|", ch) != nullptr) escaped += '^';
    escaped += ch;
  }
  return escaped;
}
#else
// Single quotes for the POSIX shell, which takes everything in them as it
// stands but the quote itself.
std::string QuoteArgument(const std::string& s) {
  std::string q = "'";
  for (char ch : s) q += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  return q + "'";
}

std::string QuotePath(const std::string& s) { return QuoteArgument(s); }
#endif

std::string ReadText(const std::string& path) {
  const Bytes b = ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

}  // namespace

std::string ToolBinaryPath() {
#if defined(_WIN32)
  // cmd.exe wants backslashes.
  return fs::path(D88EXTRACT_BINARY).make_preferred().string();
#else
  return D88EXTRACT_BINARY;
#endif
}

RunResult RunToolProcess(const std::vector<std::string>& args, const std::string& cwd,
                         const std::string& stdoutPath) {
  ScratchDir streams;
  const std::string outPath = stdoutPath.empty() ? streams.File("stdout") : stdoutPath;
  const std::string errPath = streams.File("stderr");
#if defined(_WIN32)
  std::string command = "cd /d " + QuotePath(cwd) + " && " + QuotePath(ToolBinaryPath());
#else
  std::string command = "cd " + QuotePath(cwd) + " && exec " + QuotePath(ToolBinaryPath());
#endif
  for (const std::string& a : args) command += " " + QuoteArgument(a);
#if defined(_WIN32)
  command += " <NUL";
#else
  command += " </dev/null";
#endif
  command += " >" + QuotePath(outPath) + " 2>" + QuotePath(errPath);
  RunResult result;
  const int raw = std::system(command.c_str());
#if defined(_WIN32)
  result.status = raw;
#else
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
#endif
  if (stdoutPath.empty()) result.out = ReadText(outPath);
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
