// The extraction subsystem's public face: what d88extract does to a disk,
// in pieces that other programs share so that they see, list and write
// exactly what d88extract does.
//
//   MediaGeometry        the two media, keyed by the image's media byte
//   DecodeDirectoryEntry one 10-byte entry of the flat directory on track 0
//   EntryDataRange       the bytes of the loaded disk an entry's file gets
//   ReadDirectory        the directory sectors, as d88extract reads them
//   LoadDisk             every sector into its slot, as d88extract loads it
//   WriteOutputFile      one file into the working directory, safely
//   IsPlainWindowsName   the names Windows takes as plain files, on any host
//   ListAndWriteFiles    the listing-and-writing loop over the directory
//
// The directory entry:
//   +0  name, 4 bytes, space-padded; ends at the first space or zero byte;
//       a first byte of 0 ends the directory
//   +4  location, 16-bit: start track index and sector, split by the
//       medium's shift and mask
//   +6  size, 32-bit signed: length of the file's data
// A file's data runs on linearly from its start sector through the
// following sectors and tracks of the loaded disk.
#ifndef D88EXTRACT_TOOL_EXTRACTION_H
#define D88EXTRACT_TOOL_EXTRACTION_H

#include <cstdint>

#include "diskimage/DiskImage.h"
#include "tool/WindowsName.h"

namespace tool {

// --- Media ---------------------------------------------------------------

struct MediaGeometry {
  int mediaType;          // media type byte of the image header
  const char* mediaLine;  // what the tool prints once it knows the medium
  int sizeCode;           // N of every sector ID
  int sectorBytes;        // 128 << sizeCode
  int tracks;             // track indexes 0 .. tracks - 1 are loaded
  int sectorsPerTrack;    // sectors are numbered 1 .. sectorsPerTrack
  int directorySector;    // first directory sector on track 0
  int directoryBytes;     // bytes of directory read from there on
  int locationShift;      // location >> shift is the start track index
  int locationMask;       // (location & mask) + 1 is the start sector

  // Bytes the disk occupies: tracks x sectors x sector bytes.
  constexpr std::int32_t DiskBytes() const { return tracks * sectorsPerTrack * sectorBytes; }
};

// Returns the geometry for a media type byte, or null for any other value.
const MediaGeometry* FindMediaGeometry(int mediaType);

// The largest disk of the table (2HD): the size of the tool's image buffer.
constexpr std::int32_t kLargestDiskBytes = 154 * 8 * 1024;

// The most sectors a disk of the table has (2DD: 160 x 9).
constexpr int kMostDiskSectors = 160 * 9;

// The largest directory of the table: the size of the directory buffer.
constexpr int kDirectoryBufferBytes = 2048;

// --- The directory -------------------------------------------------------

constexpr int kDirectoryEntryBytes = 10;
constexpr int kMaxDirectoryEntries = 204;
constexpr int kEntryNameBytes = 4;
constexpr int kEntryLocationOffset = 4;
constexpr int kEntrySizeOffset = 6;

struct DirectoryEntry {
  char name[kEntryNameBytes + 1];  // 0-4 name bytes, NUL-terminated
  int track;                       // start track index
  int sector;                      // start sector number, from 1
  std::int32_t size;               // data length as recorded; may be negative
};

// Decodes the entry at bytes (10 bytes) with geometry's shift and mask.
// Returns false, leaving entry alone, when the entry ends the directory.
bool DecodeDirectoryEntry(const std::uint8_t* bytes, const MediaGeometry& geometry,
                          DirectoryEntry* entry);

// A stretch of the image buffer.
struct DataRange {
  std::int32_t offset;  // first byte
  std::int32_t length;  // bytes from there
};

// Returns the part of an imageBytes-long buffer that entry's data covers:
// size bytes from the start of (track, sector), clipped to the buffer.
// Empty when the start lies at or beyond the end or the size is negative.
DataRange EntryDataRange(const DirectoryEntry& entry, const MediaGeometry& geometry,
                         std::int32_t imageBytes);

// --- Reading the disk ----------------------------------------------------

// Zero-fills directory (kDirectoryBufferBytes) and reads the directory
// sectors of disk's current image into it; a missing or short directory
// sector ends the read and leaves the rest zero.  The sector range must be
// set to the medium's.
void ReadDirectory(diskimage::DiskImage& disk, const MediaGeometry& geometry,
                   std::uint8_t* directory);

// Zero-fills image (kLargestDiskBytes) and loads every sector of the disk
// into its slot, ((track x sectors per track) + sector - 1) x sector bytes,
// through requests (kMostDiskSectors).  Afterwards requests[p].result is
// what slot p received, 0 for a missing sector, and facts[p] (when facts,
// kMostDiskSectors of them, is given) tells of the record it came from.
// With a null image only the results and facts are made: no data is copied.
void LoadDisk(diskimage::DiskImage& disk, const MediaGeometry& geometry, std::uint8_t* image,
              diskimage::SectorRequest* requests, diskimage::RecordFacts* facts = nullptr);

// --- Writing files -------------------------------------------------------

// Returns true when WriteOutputFile would try to create name rather than
// refuse it outright: a name of a plain file in the working directory (not
// empty, not "." or "..", free of path separators), and on Windows one that
// decodes from code page 932 into a name IsPlainWindowsName takes.
bool IsWritableName(const char* name);

// The same for a name already decoded to UTF-8 (a FAT disk's): one a
// file or folder is created under, and on Windows valid UTF-8 that
// IsPlainWindowsName takes.
bool IsWritableTextName(const char* name);

// Creates (or truncates) the file name in the working directory and writes
// size bytes of data to it.  Returns false when the name is not writable,
// the file cannot be created, the name is a symbolic link (on Windows, any
// reparse point), which is then left as it was, or not every byte reached
// the file (a short write or a failing close): a partial file is never
// reported as written.  After a failure on a writable name, errno says why.
//
// On Windows the name bytes are Shift_JIS (code page 932) and the file gets
// the decoded name.  Elsewhere the bytes are the name as they stand.
bool WriteOutputFile(const char* name, const std::uint8_t* data, int size);

// --- The listing-and-writing loop ----------------------------------------

// An entry's listing line without its line end: the name padded to 4
// bytes, the start track index and sector number in hex (two digits at
// least), the size as recorded.
constexpr char kListingLineFormat[] = "%-4s TRK=%02x SEC=%02x SIZE=%d";

// What a program prints for each entry, before the entry's file is
// written: list(context, entry).  A plain function and its context, so
// that d88extract needs nothing of the C++ runtime library.
struct EntryListing {
  void (*list)(void* context, const DirectoryEntry& entry);
  void* context;
};

// For each entry of directory (decoded with geometry) up to its end mark:
// listing.List(entry), then the entry's file, written from image (the
// loaded disk, kLargestDiskBytes) into the working directory.  Data that
// would lie beyond the buffer is cut off there.  Stops at the first file
// that cannot be written and returns that entry's index; -1 when the
// directory ended with every file written.
int ListAndWriteFiles(const std::uint8_t* directory, const std::uint8_t* image,
                      const MediaGeometry& geometry, const EntryListing& listing);

}  // namespace tool

#endif
