// Image-level operations of DiskImage: opening, indexing and selecting.
#include "diskimage/DiskImage.h"

#include <sys/stat.h>
#include <sys/types.h>

#if defined(_WIN32)
#include <io.h>
#elif !defined(__wasi__)
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace diskimage {

DiskImage::~DiskImage() { Open(nullptr); }

void DiskImage::Close() {
  if (file != nullptr) {
    std::fclose(file);
    file = nullptr;
  }
  window.Reset();
  imageCount = 0;
  fileSize = -1;
}

bool DiskImage::Open(const char* path) {
  Close();
  if (path == nullptr) {
    mediaType = -1;
    return true;
  }
  file = std::fopen(path, "rb");
  return IndexImages();
}

#if defined(_WIN32)
bool DiskImage::OpenDescriptor(int fd) {
  Close();
  const int own = fd >= 0 ? _dup(fd) : -1;
  file = own >= 0 ? _fdopen(own, "rb") : nullptr;
  if (file == nullptr && own >= 0) _close(own);
  return IndexImages();
}
#elif !defined(__wasi__)  // the page reads from memory and locks nothing
bool DiskImage::OpenDescriptor(int fd) {
  Close();
  const int own = fd >= 0 ? fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
  file = own >= 0 ? fdopen(own, "rb") : nullptr;
  if (file == nullptr && own >= 0) close(own);
  return IndexImages();
}
#endif

bool DiskImage::IndexImages() {
  if (file == nullptr) return false;
#if defined(_WIN32)
  struct _stat64 status;
  if (_fstat64(_fileno(file), &status) == 0) fileSize = status.st_size;
#else
  struct stat status;
  if (fstat(fileno(file), &status) == 0) fileSize = static_cast<std::int64_t>(status.st_size);
  // POSIX opens a directory for reading, where Windows refuses it; a
  // mistyped path must not pass for a container without images.
  if (fileSize >= 0 && S_ISDIR(status.st_mode)) {
    std::fclose(file);
    file = nullptr;
    fileSize = -1;
    errno = EISDIR;  // the reason a caller shows
    return false;
  }
#endif
  // The window does all the buffering; a second copy in the stream is waste.
  std::setvbuf(file, nullptr, _IONBF, 0);

  std::int64_t start = 0;
  std::uint8_t header[kImageHeaderSize];
  while (imageCount < kMaxImages) {
    imageOffsets[imageCount] = static_cast<std::int32_t>(start);
    if (window.ReadAt(file, start, header, sizeof header) != sizeof header) break;
    ++imageCount;
    // A size that carries the next start outside 0..INT32_MAX has no
    // meaning; the images before it are kept and indexing ends here.
    start += LoadLE32(header + kImageSizeOffset);
    if (start < 0 || start > INT32_MAX) break;
  }
  return true;
}

void DiskImage::ClearCurrentImage() {
  imageOffset = -1;
  mediaType = -1;
  diskSize = 0;
  trackLimit = 0;
  headerLength = 0;
  std::memset(name, 0, sizeof name);
}

bool DiskImage::Select(int k) {
  if (file == nullptr) return false;
  ClearCurrentImage();
  if (k < 0 || k >= imageCount) return false;

  std::uint8_t header[kImageHeaderSize];
  if (window.ReadAt(file, imageOffsets[k], header, sizeof header) != sizeof header) return false;

  imageOffset = imageOffsets[k];
  for (int t = 0; t < kTrackCount; ++t) {
    trackOffsets[t] = LoadLE32(header + kTrackTableOffset + t * kTrackEntrySize);
  }
  mediaType = header[kMediaTypeOffset];
  diskSize = LoadLE32(header + kImageSizeOffset);
  trackLimit = diskSize;
  // The name ends at its first NUL, or fills all 16 bytes.
  for (int i = 0; i < kNameSize && header[kNameOffset + i] != 0; ++i) {
    name[i] = static_cast<char>(header[kNameOffset + i]);
  }
  return true;
}

std::int32_t DiskImage::UseHeaderLength() {
  std::int32_t first = kImageHeaderSize;
  for (int t = 0; t < kTrackCount; ++t) {
    const std::int32_t offset = trackOffsets[t];
    const std::int32_t entryEnd = kTrackTableOffset + (t + 1) * kTrackEntrySize;
    if (offset >= entryEnd && offset <= trackLimit && offset < first) first = offset;
  }
  headerLength = first;
  return headerLength;
}

}  // namespace diskimage
