#include "d88/WholeDiskVerbs.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#if defined(_WIN32)
#include <direct.h>
#else
#include <unistd.h>
#endif

#include "d88/D88.h"
#include "d88/WorkDirectory.h"
#include "edit/WholeDisks.h"
#include "geometry/MediumNames.h"

namespace d88 {

namespace {

edit::Outcome outcome;

// FDI when -f says so or, without -f, when path ends in ".fdi" (either
// case); raw otherwise.
edit::SectorFile FormatOf(const Options& options, const char* path) {
  if (options.sectorFile != nullptr)
    return std::strcmp(options.sectorFile, "fdi") == 0 ? edit::SectorFile::kFdi
                                                       : edit::SectorFile::kRaw;
  const std::size_t length = std::strlen(path);
  const char* end = length >= 4 ? path + length - 4 : "";
  bool fdi = end[0] == '.';
  for (int i = 1; fdi && i < 4; ++i) fdi = (end[i] | 0x20) == "fdi"[i - 1];
  return fdi ? edit::SectorFile::kFdi : edit::SectorFile::kRaw;
}

// export --force's note of a sector, on standard error.
void NoteSector(void* err, const char* line) {
  output::Sink& sink = *static_cast<output::Sink*>(err);
  sink.Puts("d88: ");
  sink.Puts(line);
  sink.Putc('\n');
}

bool Exists(const char* path) {
  struct stat status;
  return stat(path, &status) == 0;
}

// split: the folder -C names is made when missing, and goes again, if
// empty, when nothing was written into it.
bool Split(diskimage::DiskImage& disk, const Options& options, output::Sink& err) {
  const char* folder = options.directory;
  const bool made = folder != nullptr && !Exists(folder);
  if (made && !MakeDirectories(folder)) {
    err.Puts("d88: cannot make the directory ");
    err.Escaped(folder);
    err.Printf(": %s\n", std::strerror(errno));
    return false;
  }
  const bool done = edit::SplitContainer(disk, options.container, folder, &outcome);
#if defined(_WIN32)
  if (!done && made) _rmdir(folder);
#else
  if (!done && made) rmdir(folder);
#endif
  return done;
}

}  // namespace

int RunWholeDiskVerb(diskimage::DiskImage& disk, const Options& options, output::Sink& err) {
  bool done = false;
  int noted = 0;
  if (options.verb == Verb::kSplit) {
    done = Split(disk, options, err);
  } else if (options.verb == Verb::kJoin) {
    done =
        edit::JoinContainers(disk, options.container, options.items, options.itemCount, &outcome);
  } else if (options.verb == Verb::kExport) {
    const edit::ExportRequest request{options.container, options.image, options.items[0],
                                      FormatOf(options, options.items[0]), options.force};
    done = edit::ExportDisk(disk, request, {NoteSector, &err}, &noted, &outcome);
  } else {
    geometry::DiskShape shape{};
    if (options.shape != nullptr && !geometry::ParseMediumName(options.shape, &shape)) {
      err.Puts("d88: not a disk shape (2HD, 2DD, 2DD8, 1.44M, 1.2M, 2D or C/H/S/BYTES): ");
      err.Escaped(options.shape);
      err.Putc('\n');
      return kExitFailure;
    }
    const edit::ImportRequest request{
        options.container, options.items[0], FormatOf(options, options.container),
        options.shape != nullptr ? &shape : nullptr, options.diskName};
    done = edit::ImportDisk(disk, request, &outcome);
  }
  if (!done && outcome.message[0] != '\0') err.Printf("d88: %s\n", outcome.message);
  if (!done) return outcome.changed ? kExitIncomplete : kExitFailure;
  return noted > 0 ? kExitDamaged : kExitSuccess;
}

}  // namespace d88
