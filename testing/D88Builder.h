// In-memory builder of D88 containers for tests, samples and benchmarks.
//
// Image lays out sector records exactly as given, so a test can record
// IDs out of order, repeated or foreign, counts and data lengths that lie,
// and short data; DiskBuilder makes a well-formed 2DD or 2HD disk with a
// directory and files on it.
#ifndef D88EXTRACT_TESTING_D88BUILDER_H
#define D88EXTRACT_TESTING_D88BUILDER_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace d88test {

using Bytes = std::vector<std::uint8_t>;

// One sector record: its header fields and the bytes stored after it.
struct Record {
  std::uint8_t c = 0, h = 0, r = 1, n = 2;  // the recorded ID
  std::uint16_t sectorCount = 1;            // the header's sector count
  std::uint16_t dataLength = 0;             // the header's data length
  std::uint8_t status = 0;                  // header byte 8: non-zero = read error
  Bytes data;                               // what actually follows the header
};

// A record whose data length field is the size of data.
Record MakeRecord(int c, int h, int r, int n, int sectorCount, Bytes data);

// One disk image of a container.
struct Image {
  std::string name;                     // header name, at most 16 bytes used
  std::uint8_t mediaType = 0x20;        // header byte 27
  std::map<int, std::vector<Record>> tracks;        // records by track index
  std::map<int, std::uint32_t> trackOffsetOverride; // table entries to force
  std::optional<std::uint32_t> sizeField;           // default: the real size
  Bytes extra;                                      // raw bytes after the tracks

  // Returns the image's bytes: header, then the tracks in index order.
  Bytes Build() const;
};

// Returns the images' bytes back to back.
Bytes Concat(const std::vector<Bytes>& parts);

// Geometry of the media the tool knows.
struct Medium {
  std::uint8_t mediaType;
  int sizeCode;
  int sectorBytes;
  int tracks;
  int sectorsPerTrack;
  int directorySector;
  int directoryBytes;
  int locationShift;

  int DiskBytes() const { return tracks * sectorsPerTrack * sectorBytes; }
};
extern const Medium k2DD;
extern const Medium k2HD;

// Returns a formatted disk: every track recorded, sectors 1..spt in order,
// holding contents at their linear positions (zero past its end).
Image FormatDisk(const Medium& medium, const Bytes& contents);

// Returns image with only its first `count` track indexes recorded: a
// disk whose files lie on those tracks, at a fraction of its size.
Image FirstTracks(Image image, int count);

// Returns the 10 bytes of a directory entry; name is padded with spaces to
// 4 bytes (or cut to 4).
Bytes EntryBytes(const std::string& name, std::uint16_t location, std::int32_t size);

// A well-formed disk with a directory and files laid one after another.
class DiskBuilder {
 public:
  explicit DiskBuilder(const Medium& medium);

  // Stores data from the next free sector on, adds its directory entry,
  // and returns the entry's location word.
  std::uint16_t AddFile(const std::string& name, const Bytes& data);

  // Adds an entry as given, pointing wherever it says.
  void AddEntry(const Bytes& entry);

  // Returns the location word of linear sector index p.
  std::uint16_t LocationOf(int p) const;

  // The disk's bytes in linear order (directory included), to edit freely.
  Bytes& contents() { return contents_; }

  // Returns the formatted disk.
  Image Build() const { return FormatDisk(medium_, contents_); }

 private:
  Medium medium_;
  Bytes contents_;
  int nextEntry_ = 0;
  int nextSector_;
};

// Reads a whole file; empty when it cannot be read.
Bytes ReadFileBytes(const std::string& path);

// Writes bytes to path; false on failure.
bool WriteFileBytes(const std::string& path, const Bytes& bytes);

}  // namespace d88test

#endif
