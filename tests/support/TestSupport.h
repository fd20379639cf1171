// Helpers shared by the tests: scratch directories, running the built
// tool as a process, and byte comparisons that show a hex dump.
#ifndef D88EXTRACT_TESTS_SUPPORT_TESTSUPPORT_H
#define D88EXTRACT_TESTS_SUPPORT_TESTSUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/D88Builder.h"
#include "testing/ScratchDir.h"

namespace d88test {

// What a run of the tool left on its streams.
struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Returns the path of the built tool, as the tests invoke it.
std::string ToolBinaryPath();

// Runs the built tool with args in directory cwd and captures its streams;
// with stdoutPath, standard output goes there instead and out stays empty.
RunResult RunToolProcess(const std::vector<std::string>& args, const std::string& cwd,
                         const std::string& stdoutPath = "");

// Text lines as the tool writes them on this platform ("\r\n" on Windows).
std::string Lines(const std::string& text);

// Equality of two byte strings that, on failure, shows where they differ
// as a hex dump of both around the first difference.
::testing::AssertionResult BytesEqual(const char* expectedExpr, const char* actualExpr,
                                      const Bytes& expected, const Bytes& actual);
::testing::AssertionResult BytesEqual(const char* expectedExpr, const char* actualExpr,
                                      const std::string& expected, const std::string& actual);

// Bytes of a string, and the other way round.
Bytes ToBytes(const std::string& s);

// Bytes of length n following a simple pattern seeded by seed.
Bytes PatternBytes(std::size_t n, unsigned seed);

}  // namespace d88test

#define EXPECT_BYTES_EQ(expected, actual) \
  EXPECT_PRED_FORMAT2(::d88test::BytesEqual, expected, actual)

#endif
