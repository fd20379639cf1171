// The reader's fuzz entry: each input is a container, read through the
// reader's own calls without the tool around it (testing/CheckedRun.h),
// writing no file but the container.  A broken promise aborts, which
// libFuzzer reports as a crash; the sanitizers catch the rest.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "testing/CheckedRun.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const d88check::Sandbox sandbox;
  std::FILE* file = std::fopen(sandbox.ContainerPath().c_str(), "wb");
  const bool written = file != nullptr && std::fwrite(data, 1, size, file) == size && std::fclose(file) == 0;
  const std::string fault = written ? d88check::CheckReader(sandbox.ContainerPath()) : "cannot write the container";
  if (!fault.empty()) {
    std::fprintf(stderr, "d88fuzz_reader: %s\n", fault.c_str());
    std::abort();
  }
  return 0;
}
