// The reader's fuzz entry: each input is a container, read through the
// reader's own calls without the tool around it (testing/CheckedRun.h).
// On Linux the container lives in an anonymous memory file, opened by its
// /proc/self/fd path, so no file is written at all; elsewhere it is a file
// in a sandbox.  A broken promise aborts, which libFuzzer reports as a
// crash; the sanitizers catch the rest.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "testing/CheckedRun.h"

namespace {

// Stores the input as the container; returns its path, empty on failure.
std::string StoreContainer(const std::uint8_t* data, std::size_t size) {
#if defined(__linux__)
  static const int fd = memfd_create("d88fuzz_reader", MFD_CLOEXEC);
  const bool stored =
      fd >= 0 && ftruncate(fd, 0) == 0 && pwrite(fd, data, size, 0) == static_cast<ssize_t>(size);
  return stored ? "/proc/self/fd/" + std::to_string(fd) : "";
#else
  static const d88check::Sandbox sandbox;
  std::FILE* file = std::fopen(sandbox.ContainerPath().c_str(), "wb");
  const bool stored =
      file != nullptr && std::fwrite(data, 1, size, file) == size && std::fclose(file) == 0;
  return stored ? sandbox.ContainerPath() : "";
#endif
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = StoreContainer(data, size);
  const std::string fault =
      path.empty() ? "cannot store the container" : d88check::CheckReader(path);
  if (!fault.empty()) {
    std::fprintf(stderr, "d88fuzz_reader: %s\n", fault.c_str());
    std::abort();
  }
  return 0;
}
