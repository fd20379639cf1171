#include "diskimage/ReadWindow.h"

#include <cerrno>
#include <cstring>

namespace diskimage {

bool SeekAbsolute(std::FILE* file, std::int64_t position) {
  if (position < 0) return false;
#if defined(_WIN32)
  // long is 32 bits on Windows; the 64-bit call reaches past 2 GiB.
  return _fseeki64(file, position, SEEK_SET) == 0;
#else
  const off_t target = static_cast<off_t>(position);
  if (static_cast<std::int64_t>(target) != position) return false;
  return fseeko(file, target, SEEK_SET) == 0;
#endif
}

void ReadWindow::Reset() {
  start_ = 0;
  length_ = 0;
  error_ = 0;
}

void ReadWindow::Use(std::uint8_t* bytes, std::int64_t size) {
  const bool own = bytes == nullptr || size < kSectorHeaderSize;
  bytes_ = own ? own_ : bytes;
  size_ = own ? kSize : size;
  start_ = 0;
  length_ = 0;
}

bool ReadWindow::Fill(std::FILE* file, std::int64_t position) {
  length_ = 0;
  start_ = position;
  // After a failed read the file's bytes are unknown: a later read that
  // worked would pair them with bytes that were never read.
  if (error_ != 0) return false;
  errno = 0;
  if (!SeekAbsolute(file, position)) {
    // A position the file system cannot reach holds nothing, as one past
    // the end does; any other failed seek is the file failing.
    if (errno != 0 && errno != EINVAL && errno != EOVERFLOW) error_ = errno;
    return false;
  }
  std::clearerr(file);  // the stream's mark of a failure before a Reset
  const std::size_t got = std::fread(bytes_, 1, static_cast<std::size_t>(size_), file);
  if (std::ferror(file) != 0) {
    error_ = errno != 0 ? errno : EIO;
    return false;
  }
  length_ = static_cast<std::int64_t>(got);
  return got > 0;
}

std::int64_t ReadWindow::ReadAt(std::FILE* file, std::int64_t position, std::uint8_t* dest,
                                std::int64_t length) {
  if (file == nullptr || position < 0 || length <= 0) return 0;
  // A window shorter than its stretch ends at the end of the file: nothing
  // lies beyond it to read again.
  if (length_ > 0 && length_ < size_ && position >= start_ + length_) return 0;
  std::int64_t copied = 0;
  while (copied < length) {
    const std::int64_t at = position + copied;
    if (at < start_ || at >= start_ + length_) {
      if (!Fill(file, at)) break;
    }
    const std::int64_t available = start_ + length_ - at;
    const std::int64_t wanted = length - copied;
    const std::int64_t n = available < wanted ? available : wanted;
    std::memcpy(dest + copied, bytes_ + (at - start_), static_cast<std::size_t>(n));
    copied += n;
    // A window shorter than its stretch ends at the end of the file.
    if (copied < length && length_ < size_) break;
  }
  return copied;
}

}  // namespace diskimage
