// A .zip archive of files stored as they are (no compression), written in
// one pass to a C stream; names are UTF-8 and flagged as such.
#ifndef D88EXTRACT_WEB_STOREDZIP_H
#define D88EXTRACT_WEB_STOREDZIP_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "filesystem/FileSystem.h"

namespace web {

class StoredZip {
 public:
  explicit StoredZip(std::FILE* out) : out_(out) {}

  // Starts a new archive.
  void Clear() {
    count_ = 0;
    namesUsed_ = 0;
    written_ = 0;
    failed_ = false;
  }

  // Adds the file name (UTF-8, NUL-terminated; a folder's ends in '/')
  // holding length bytes of data.  False when the archive is full or a
  // write failed.
  bool Add(const char* name, const std::uint8_t* data, std::uint32_t length);

  // Writes the central directory; true when every byte was written.
  bool Finish();

 private:
  struct Entry {
    std::uint32_t nameAt;  // in names_
    std::uint32_t nameLength;
    std::uint32_t crc;
    std::uint32_t length;
    std::uint32_t offset;
  };

  // Writes the header fields common to a local and a central entry.
  void PutCommon(const Entry& entry);
  void Put(std::uint32_t value, int bytes);
  void PutBytes(const void* bytes, std::size_t length);
  void PutName(const Entry& entry) { PutBytes(names_ + entry.nameAt, entry.nameLength); }

  std::FILE* out_;
  // Paths repeat their folders' names, so twice a listing's name bytes.
  char names_[2 * filesystem::kNamePoolBytes];
  Entry entries_[filesystem::kMaxEntries];
  int count_ = 0;
  std::uint32_t namesUsed_ = 0;
  std::uint32_t written_ = 0;
  bool failed_ = false;
};

}  // namespace web

#endif
