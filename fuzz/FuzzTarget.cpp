// The whole tool's fuzz entry: each input is a container, run through the
// tool in a sandbox (testing/CheckedRun.h).  A broken rule aborts, which
// libFuzzer reports as a crash; the sanitizers catch the rest.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "testing/CheckedRun.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static d88check::Sandbox sandbox;
  const d88check::RunReport report = sandbox.Run(data, size, false);
  if (!report.fault.empty()) {
    std::fprintf(stderr, "d88fuzz: %s\n", report.fault.c_str());
    std::abort();
  }
  return 0;
}
