// Writes two sample containers, sample-2hd.d88 and sample-2dd.d88, into the
// directory given as the argument:  make_samples DIR  Each
// holds a few files of this project's own making: a text, a binary and one
// that runs from one track into the next.
#include <cstdio>
#include <string>

#include "testing/D88Builder.h"

using namespace d88test;

namespace {

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// 256 rows of a 16-byte pattern: every byte value, in a recognisable order.
Bytes Table() {
  Bytes b;
  for (int row = 0; row < 256; ++row) {
    for (int col = 0; col < 16; ++col) b.push_back(static_cast<std::uint8_t>(row ^ (col * 17)));
  }
  return b;
}

// Numbered lines of text, long enough to cross a track.
Bytes Lines(int count) {
  std::string s;
  for (int i = 1; i <= count; ++i) s += "line " + std::to_string(i) + " of a file that crosses a track\r\n";
  return Text(s);
}

bool WriteSample(const std::string& path, const Medium& medium, const char* label) {
  DiskBuilder disk(medium);
  disk.AddFile("READ", Text(std::string("This is the ") + label +
                            " sample disk of d88extract.\r\nEvery file on it was made by the project.\r\n"));
  disk.AddFile("TBL", Table());
  disk.AddFile("LONG", Lines(300));
  Image image = disk.Build();
  image.name = std::string("SAMPLE ") + label;
  return WriteFileBytes(path, image.Build());
}

}  // namespace

int main(int argc, char** argv) {
  // No silent default: the samples land only where they are asked for.
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_samples DIR\n  writes sample-2hd.d88 and sample-2dd.d88 into DIR\n");
    return 1;
  }
  const std::string dir = std::string(argv[1]) + "/";
  if (!WriteSample(dir + "sample-2hd.d88", k2HD, "2HD") || !WriteSample(dir + "sample-2dd.d88", k2DD, "2DD")) {
    std::fprintf(stderr, "make_samples: cannot write the samples into %s\n", argv[1]);
    return 1;
  }
  std::printf("wrote %ssample-2hd.d88 and %ssample-2dd.d88\n", dir.c_str(), dir.c_str());
  return 0;
}
