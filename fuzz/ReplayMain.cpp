// Runs the fuzzer's entry once on each file named on the command line, or
// on each file of each directory named: the corpus as a test, built with
// any compiler and without libFuzzer.  Fails when it ran nothing.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "testing/D88Builder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<std::string> inputs;
  for (int i = 1; i < argc; ++i) {
    if (!fs::is_directory(argv[i])) {
      inputs.push_back(argv[i]);
      continue;
    }
    for (const auto& entry : fs::directory_iterator(argv[i])) {
      if (entry.is_regular_file()) inputs.push_back(entry.path().string());
    }
  }
  std::sort(inputs.begin(), inputs.end());
  for (const std::string& path : inputs) {
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
    const d88test::Bytes bytes = d88test::ReadFileBytes(path);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::printf("replayed %zu inputs\n", inputs.size());
  return inputs.empty() ? 1 : 0;
}
