// In-memory builder of D88 containers for tests, fuzzing, samples and
// benchmarks.
//
// Image lays out sector records exactly as given, so a test can record
// IDs out of order, repeated or foreign, counts and data lengths that lie,
// and short data; DiskBuilder makes a well-formed 2DD or 2HD disk with a
// directory and files on it.
#ifndef D88EXTRACT_TESTING_D88BUILDER_H
#define D88EXTRACT_TESTING_D88BUILDER_H

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tool/Extraction.h"

namespace d88test {

using Bytes = std::vector<std::uint8_t>;

// Stores the low `size` bytes of value little-endian at bytes[at..].
inline void PutLE(Bytes& bytes, std::size_t at, std::uint32_t value, int size = 4) {
  for (int i = 0; i < size; ++i)
    bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

// One sector record: its header fields and the bytes stored after it.
struct Record {
  std::uint8_t c = 0, h = 0, r = 1, n = 2;  // the recorded ID
  std::uint16_t sectorCount = 1;            // the header's sector count
  std::uint16_t dataLength = 0;             // the header's data length
  Bytes data;                               // what actually follows the header
  std::uint8_t status = 0;                  // header byte 8: non-zero = read error
  std::uint8_t density = 0;                 // header byte 6
  std::uint8_t deletedMark = 0;             // header byte 7: 0x10 = deleted data
};

// Returns a record whose data length field is the size of data.
inline Record MakeRecord(int c, int h, int r, int n, int sectorCount, Bytes data) {
  const auto byte = [](int v) { return static_cast<std::uint8_t>(v); };
  const auto length = static_cast<std::uint16_t>(data.size());
  return Record{byte(c), byte(h),        byte(r), byte(n), static_cast<std::uint16_t>(sectorCount),
                length,  std::move(data)};
}

// One disk image of a container.
struct Image {
  std::string name;                                  // header name, at most 16 bytes used
  std::uint8_t mediaType = 0x20;                     // header byte 27
  std::map<int, std::vector<Record>> tracks;         // records by track index 0-163
  std::map<int, std::uint32_t> trackOffsetOverride;  // table entries to force
  std::size_t headerBytes = 0x2B0;  // 0x2A0: a table of 160 entries, the first track at once

  // Returns the image's bytes: the header, whose size field is the image's
  // length, then the tracks in index order.
  Bytes Build() const {
    Bytes out(headerBytes, 0);
    std::copy(name.begin(),
              name.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(name.size(), 16)),
              out.begin());
    out[27] = mediaType;
    for (const auto& [track, records] : tracks) {
      if (32 + 4 * static_cast<std::size_t>(track) < headerBytes)
        PutLE(out, 32 + 4 * static_cast<std::size_t>(track),
              static_cast<std::uint32_t>(out.size()));
      for (const Record& rec : records) {
        out.insert(out.end(), {rec.c, rec.h, rec.r, rec.n, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
        PutLE(out, out.size() - 12, rec.sectorCount, 2);
        out[out.size() - 10] = rec.density;
        out[out.size() - 9] = rec.deletedMark;
        out[out.size() - 8] = rec.status;
        PutLE(out, out.size() - 2, rec.dataLength, 2);
        out.insert(out.end(), rec.data.begin(), rec.data.end());
      }
    }
    for (const auto& [track, offset] : trackOffsetOverride)
      PutLE(out, 32 + 4 * static_cast<std::size_t>(track), offset);
    PutLE(out, 28, static_cast<std::uint32_t>(out.size()));
    return out;
  }
};

// Returns a raw disk (cylinders x heads x sectors of 128 << n bytes, in
// track order, as mkfs.fat writes it) as one image marked mediaType.
inline Image WrapRawImage(const Bytes& raw, int cylinders, int heads, int sectors, int n,
                          std::uint8_t mediaType) {
  Image image{"D88EXTRACT TEST", mediaType, {}, {}};
  const std::size_t bytes = std::size_t{128} << n;
  std::size_t at = 0;
  for (int c = 0; c < cylinders; ++c) {
    for (int h = 0; h < heads; ++h) {
      for (int r = 1; r <= sectors; ++r, at += bytes) {
        Bytes data(bytes, 0);
        if (at < raw.size())
          std::copy(raw.begin() + static_cast<std::ptrdiff_t>(at),
                    raw.begin() + static_cast<std::ptrdiff_t>(std::min(raw.size(), at + bytes)),
                    data.begin());
        image.tracks[c * 2 + h].push_back(MakeRecord(c, h, r, n, sectors, std::move(data)));
      }
    }
  }
  return image;
}

// Returns the parts' bytes back to back.
inline Bytes Concat(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Returns an image of the first `tracks` track indexes of a disk whose
// sectors lie in logical order in `sectors`, each track recorded as
// sectors 1..sectorsPerTrack in order.
inline Image TrackImage(const Bytes& sectors, const std::string& name, std::uint8_t mediaType,
                        int tracks, int heads, int sectorsPerTrack, int sizeCode) {
  Image image{name, mediaType, {}, {}};
  const std::ptrdiff_t bytes = 128 << sizeCode;
  auto from = sectors.begin();
  for (int t = 0; t < tracks; ++t) {
    for (int r = 1; r <= sectorsPerTrack; ++r, from += bytes) {
      image.tracks[t].push_back(MakeRecord(t / heads, t % heads, r, sizeCode, sectorsPerTrack,
                                           Bytes(from, from + bytes)));
    }
  }
  return image;
}

// The two media, as the tool's own table has them; test expectations
// spell out what they must look like on the streams.
using Medium = tool::MediaGeometry;
inline const Medium& k2DD = *tool::FindMediaGeometry(0x10);
inline const Medium& k2HD = *tool::FindMediaGeometry(0x20);

// Returns the 10 bytes of a directory entry; name is padded with spaces
// to 4 bytes (or cut to 4).
inline Bytes EntryBytes(std::string name, std::uint16_t location, std::int32_t size) {
  name.resize(10, ' ');
  Bytes entry(name.begin(), name.end());
  PutLE(entry, 4, location, 2);
  PutLE(entry, 6, static_cast<std::uint32_t>(size));
  return entry;
}

// A well-formed disk with a directory and files laid one after another.
class DiskBuilder {
 public:
  explicit DiskBuilder(const Medium& medium)
      : m_(medium),
        contents_(static_cast<std::size_t>(m_.DiskBytes())),
        nextSector_(m_.directorySector - 1 + m_.directoryBytes / m_.sectorBytes) {}

  // Stores data from the next free sector on, adds its directory entry and
  // returns the entry's location word.
  std::uint16_t AddFile(const std::string& name, const Bytes& data) {
    const std::uint16_t location = LocationOf(nextSector_);
    std::copy(data.begin(), data.end(), contents_.begin() + nextSector_ * m_.sectorBytes);
    AddEntry(EntryBytes(name, location, static_cast<std::int32_t>(data.size())));
    nextSector_ += (static_cast<int>(data.size()) + m_.sectorBytes - 1) / m_.sectorBytes;
    return location;
  }

  // Returns the location word of linear sector index p.
  std::uint16_t LocationOf(int p) const {
    return static_cast<std::uint16_t>(p / m_.sectorsPerTrack << m_.locationShift |
                                      p % m_.sectorsPerTrack);
  }

  // Adds an entry as given, pointing wherever it says.
  void AddEntry(const Bytes& entry) {
    std::copy(entry.begin(), entry.end(),
              contents_.begin() + (m_.directorySector - 1) * m_.sectorBytes + 10 * entries_++);
  }

  // Returns the disk with its first `tracks` track indexes recorded (all
  // by default), sectors 1..spt in order.
  Image Build(int tracks = -1) const {
    return TrackImage(contents_, "D88EXTRACT TEST", static_cast<std::uint8_t>(m_.mediaType),
                      tracks < 0 ? m_.tracks : tracks, 2, m_.sectorsPerTrack, m_.sizeCode);
  }

 private:
  Medium m_;         // the disk's geometry
  Bytes contents_;   // every sector's bytes, in linear order
  int entries_ = 0;  // directory entries so far
  int nextSector_;   // linear index of the next free sector
};

// Returns n bytes from a simple generator seeded by seed.
inline Bytes PatternBytes(std::size_t n, unsigned seed) {
  Bytes b(n);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& v : b) v = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 16);
  return b;
}

// Returns the bytes of a string.
inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Returns a whole file; empty when it cannot be read.
inline Bytes ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes bytes to path; false on failure.
inline bool WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  return static_cast<bool>(out.write(reinterpret_cast<const char*>(bytes.data()),
                                     static_cast<std::streamsize>(bytes.size())));
}

}  // namespace d88test

#endif
