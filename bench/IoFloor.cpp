// The I/O floor of an extraction: read the container once, then create
// the same files with the same byte counts.  Usage: io_floor CONTAINER N SIZE
// Plain C library calls only, so that nothing but the I/O is measured.
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  std::FILE* in = std::fopen(argv[1], "rb");
  if (in == nullptr) return 1;
  std::fseek(in, 0, SEEK_END);
  const long length = std::ftell(in);
  std::rewind(in);
  unsigned char* bytes = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(length)));
  if (bytes == nullptr) return 1;
  const std::size_t got = std::fread(bytes, 1, static_cast<std::size_t>(length), in);
  std::fclose(in);
  const int files = std::atoi(argv[2]);
  const std::size_t size = static_cast<std::size_t>(std::atol(argv[3]));
  for (int i = 0; i < files; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "FIL%d", i % 1000);
    std::FILE* out = std::fopen(name, "wb");
    if (out == nullptr) return 1;
    const std::size_t from = got > size ? (static_cast<std::size_t>(i) * size) % (got - size) : 0;
    std::fwrite(bytes + from, 1, got > size ? size : got, out);
    std::fclose(out);
  }
  std::free(bytes);
  return 0;
}
