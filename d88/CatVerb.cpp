#include "d88/CatVerb.h"

#include <cstdint>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "d88/D88.h"
#include "d88/NamedFiles.h"
#include "views/FileSystemViews.h"

namespace d88 {

namespace {

// Bytes a file goes out through, as the tree writer copies it.
constexpr std::size_t kCopyBytes = 16384;

// Writes the file as WriteTree would: up to its size, or until the file
// system gives no more (a chain that ends early).
void WriteEntryBytes(const filesystem::FileSystem& fs, int index, output::Sink& out) {
  std::uint8_t buffer[kCopyBytes];
  const std::uint64_t size = fs.EntryAt(index).size;
  for (std::uint64_t offset = 0; offset < size;) {
    const std::uint64_t left = size - offset;
    const std::size_t wanted = left < kCopyBytes ? static_cast<std::size_t>(left) : kCopyBytes;
    const std::size_t got = fs.ReadFile(index, offset, buffer, wanted);
    if (got == 0) break;
    out.Write(reinterpret_cast<const char*>(buffer), got);
    offset += got;
  }
}

}  // namespace

int CatFile(const survey::DiskSurvey& disk, survey::FileSystems& fs, const char* name,
            output::Sink& out, output::Sink& err) {
  const int index = FindFile(disk, fs, name);
  if (index < 0) {
    PrintNoSuchFile(err, disk.image.index, name);
    return kExitFailure;
  }
  if (!fs.IsFlat() && fs.chosen->EntryAt(index).kind == filesystem::EntryKind::kFolder) {
    err.Printf("d88: image %d: \"", disk.image.index);
    err.Escaped(name);
    err.Puts("\" is a folder; nothing written\n");
    return kExitFailure;
  }
#if defined(_WIN32)
  // Text mode would turn each line feed into a carriage return and one.
  if (out.Stream() != nullptr) {
    std::fflush(out.Stream());
    _setmode(_fileno(out.Stream()), _O_BINARY);
  }
#endif
  bool intact = true;
  if (fs.IsFlat()) {
    const survey::FileSurvey& file = disk.files[index];
    out.Write(reinterpret_cast<const char*>(disk.data + file.range.offset),
              static_cast<std::size_t>(file.range.length));
    intact = file.Intact();
  } else {
    WriteEntryBytes(*fs.chosen, index, out);
    intact = fs.chosen->EntryAt(index).Intact();
  }
  if (intact) return kExitSuccess;
  // The bytes come first also where both streams share one file.
  out.Flush();
  err.Puts("d88: ");
  views::PrintFileProblem(err, disk, fs, index);
  return kExitDamaged;
}

}  // namespace d88
