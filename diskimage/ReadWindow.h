// A fixed-size cache of one stretch of the container file.
//
// The reader looks at the same few kilobytes over and over: every sector
// read starts again at the first record of its track.  Serving those bytes
// from a window of our own, refilled by one absolute seek and one read,
// keeps the number of system calls proportional to the bytes read rather
// than to the number of records visited.
#ifndef D88EXTRACT_DISKIMAGE_READWINDOW_H
#define D88EXTRACT_DISKIMAGE_READWINDOW_H

#include <cstdint>
#include <cstdio>

#include "diskimage/D88Format.h"

// The build sets the window size for the library and every user of it (the
// CMake cache variable of the same name), so all see one class layout.
#ifndef D88_READ_WINDOW_BYTES
#define D88_READ_WINDOW_BYTES 131072
#endif

namespace diskimage {

class ReadWindow {
 public:
  // Size of the built-in stretch.  Reads longer than it take several fills;
  // a small window (fuzz builds) makes reads cross its edges often.
  static constexpr std::int64_t kSize = D88_READ_WINDOW_BYTES;
  static_assert(kSize >= kSectorHeaderSize, "the window holds at least one record header");

  ReadWindow() = default;
  ReadWindow(const ReadWindow&) = delete;
  ReadWindow& operator=(const ReadWindow&) = delete;

  // Forgets the cached bytes and the read error; call whenever the file
  // changes.
  void Reset();

  // Caches into bytes (size bytes, at least kSectorHeaderSize) from now on
  // instead of the built-in stretch, which null brings back; forgets the
  // cached bytes.  A stretch that holds a whole container reads it once.
  void Use(std::uint8_t* bytes, std::int64_t size);

  // Copies up to length bytes at file position `position` into dest.
  // Returns the number of bytes copied: fewer than length only where the
  // file ends or a read fails first; 0 for a negative position.  Once a
  // read has failed, every later one copies nothing until Reset.
  std::int64_t ReadAt(std::FILE* file, std::int64_t position, std::uint8_t* dest,
                      std::int64_t length);

  // Returns the errno of the first read or seek that failed since Reset,
  // or 0.  The end of the file is no failure.
  int Error() const { return error_; }

 private:
  // Refills the window with the file's bytes from position on; false
  // when nothing could be read there.
  bool Fill(std::FILE* file, std::int64_t position);

  std::uint8_t own_[kSize];     // the built-in stretch
  std::uint8_t* bytes_ = own_;  // the cached file bytes
  std::int64_t size_ = kSize;   // bytes bytes_ holds
  std::int64_t start_ = 0;      // file position of bytes_[0]
  std::int64_t length_ = 0;     // how many bytes of bytes_ are valid
  int error_ = 0;               // errno of the first failed read; 0 when none failed
};

// Seeks file to an absolute 64-bit position; false when the seek fails.  A
// position beyond what the platform's offsets hold fails without a call,
// errno untouched.
bool SeekAbsolute(std::FILE* file, std::int64_t position);

}  // namespace diskimage

#endif
