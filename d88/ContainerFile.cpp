#include "d88/ContainerFile.h"

#include <cerrno>

#include "platform/Platform.h"

namespace d88 {

bool OpenContainerFile(diskimage::DiskImage& disk, const char* path) {
  const int fd = platform::OpenForReading(path);
  const bool opened = disk.OpenDescriptor(fd);
  // The reader keeps a copy of the descriptor; the reason of a failure stays.
  const int error = errno;
  if (fd >= 0) platform::Close(fd);
  errno = error;
  return opened;
}

}  // namespace d88
