// DiskImage: read access to the disk images of one D88 container.
//
// The reader opens a container, indexes the images in it, makes one of them
// current and reads that image's sectors by their recorded ID.  It keeps all
// its state in fixed-size members, allocates nothing, throws nothing and
// prints nothing: every failure shows only in a return value.
#ifndef D88EXTRACT_DISKIMAGE_DISKIMAGE_H
#define D88EXTRACT_DISKIMAGE_DISKIMAGE_H

#include <cstdint>
#include <cstdio>

#include "diskimage/D88Format.h"
#include "diskimage/ReadWindow.h"
#include "diskimage/SectorBatch.h"
#include "diskimage/SectorRequest.h"
#include "diskimage/TrackRecord.h"

namespace diskimage {

class DiskImage {
 public:
  DiskImage() = default;
  ~DiskImage();
  DiskImage(const DiskImage&) = delete;
  DiskImage& operator=(const DiskImage&) = delete;

  // Opens the container at path for binary reading and indexes its images.
  // Returns false only when the file cannot be opened, errno saying why (a
  // directory: EISDIR); a file without a complete image header opens with
  // 0 images.  A container that was open is closed first.  With a null
  // path: closes the container, returns true.
  bool Open(const char* path);
#if !defined(__wasi__)
  // Opens the container that the descriptor fd reads (a copy of it is
  // taken; fd stays the caller's), as Open does: an editor reads the very
  // file it has locked, and d88 a path it opened wide on Windows.  A
  // negative fd fails, errno left as it is.
  bool OpenDescriptor(int fd);
#endif

  // Returns the errno of the first read of the container that failed since
  // Open, or 0 (the end of the file is no failure).  Once one failed, every
  // later read finds nothing: what the reader gave since Open is not the
  // container's, and a caller must not take it for it.
  int GetReadError() const { return window.Error(); }

  // Returns the number of images the last Open indexed (0-64).
  int GetImageCount() const { return imageCount; }

  // Makes image k current.  Returns false when no container is open, k is
  // not an indexed image or its header cannot be read; in the last two
  // cases no image is current afterwards (media type -1, size 0, no name).
  bool Select(int k);

  // Returns the current image's name: NUL-terminated, at most 16 bytes.
  const char* GetName() const { return name; }

  // Returns the current image's size field; 0 when no image is current.
  std::int32_t GetImageSize() const { return diskSize; }

  // Returns the current image's media type byte (0-255), -1 if none.
  int GetMediaType() const { return mediaType; }

  // Returns the file position of the current image; -1 when none is current.
  std::int64_t GetImageOffset() const { return imageOffset; }

  // Returns the open container's length in bytes when Open opened it; -1
  // when none is open or it cannot be told.
  std::int64_t GetFileSize() const { return fileSize; }

  // Sets the size that decides which of the current image's tracks are
  // usable (a table entry above it is not), in place of its size field
  // until the next Select.
  void SetTrackLimit(std::int32_t limit) { trackLimit = limit; }

  // Works out the current image's header length from its track table: some
  // tools write a table of fewer than 164 entries, their first track
  // following at once.  The lowest usable entry that points past its own
  // bytes starts the first track; below 0x2B0 the header ends there, and
  // the entries after it are that track's bytes.  Until the next Select,
  // an entry that lies past the header or points inside it is no track.
  // Returns the header's length (0x2B0 unless shorter); d88extract never
  // asks, and reads every table as written.
  std::int32_t UseHeaderLength();

  // Caches the container in bytes (size bytes) instead of the built-in
  // window (null: back to it).  One that holds a whole container reads it
  // from the file once, for a program that reads many.
  void SetCache(std::uint8_t* bytes, std::int64_t size) { window.Use(bytes, size); }

  // Sets the sector numbers that begin and end a track for ReadSectors.
  void SetSectorRange(int first, int last) {
    firstSector = first;
    lastSector = last;
  }

  // Reads the first sector recorded on track with ID (c, h, r, n) into
  // buffer, which holds maxLength bytes.  Returns the smaller of the
  // record's data length and maxLength; 0 when the track is unusable or no
  // such sector is recorded.  Where the file ends inside that data, the
  // bytes of buffer it does not reach keep their contents.
  int ReadSector(int track, int c, int h, int r, int n, std::uint8_t* buffer, int maxLength);

  // Reads consecutive sectors from (c, h, r, n) on track on, stepping to the
  // next head and cylinder after sector lastSector, into buffer (length
  // bytes).  Returns the bytes of the sectors read in full, stopping at the
  // first missing or short one.
  int ReadSectors(int track, int c, int h, int r, int n, std::uint8_t* buffer, int length);

  // Answers each of count requests exactly as ReadSector would (result and
  // buffer), but reads each record of the tracks at most once for all the
  // requests together, instead of walking a track once per sector.  A
  // request whose buffer is null gets its result, and no bytes.  With
  // facts (count of them), facts[i] tells of the record that answered
  // request i.
  void ReadSectorBatch(SectorRequest* requests, int count, RecordFacts* facts = nullptr);

  // Lists the IDs (C, H, R, N) of track's records in recorded order into
  // buffer, 4 bytes a record.  Returns the number of bytes written: 0 for
  // an unusable track, never more than length.
  int ReadTrackIds(int track, std::uint8_t* buffer, int length);

  // Lists track's records in recorded order, walking as ReadTrackIds does,
  // into records (room for maxRecords, at most kMaxTrackRecords are
  // ever listed).  Returns how many were listed: 0 for an unusable track.
  int ReadTrackRecords(int track, TrackRecord* records, int maxRecords);

  // Copies up to length bytes of the container from file position position
  // into buffer, for callers that look at bytes no image holds, or at a
  // record's data by its position.  Returns how many: fewer where the file
  // ends, 0 when none is open.
  std::int64_t ReadBytes(std::int64_t position, std::uint8_t* buffer, std::int64_t length) {
    return window.ReadAt(file, position, buffer, length);
  }

 private:
  // Returns the file position of track's first record, or -1 when the track
  // is unusable (no container, index out of range, table entry 0 or beyond
  // the image, or a position before the start of the file).
  std::int64_t TrackStart(int track) const;

  // Closes the container, if one is open, and forgets its images.
  void Close();

  // Indexes the images of the file just opened; false when there is none.
  bool IndexImages();

  // Forgets the current image.
  void ClearCurrentImage();

  std::FILE* file = nullptr;                    // the open container; null when none is
  std::int32_t imageCount = 0;                  // images indexed by the last Open, 0-64
  std::int64_t fileSize = -1;                   // the container's length when opened; -1 if unknown
  std::int32_t firstSector = 1;                 // sector number that begins a track
  std::int32_t lastSector = 16;                 // sector number that ends a track
  std::int32_t imageOffsets[kMaxImages] = {};   // start of image k in the file
  std::int32_t diskSize = 0;                    // size field of the current image
  std::int32_t trackLimit = 0;                  // largest usable track table entry
  std::int32_t headerLength = 0;                // the header's length; 0: the table as written
  std::int32_t imageOffset = 0;                 // start of the current image; -1 when cleared
  std::int32_t trackOffsets[kTrackCount] = {};  // current image's track table
  std::int32_t mediaType = -1;                  // current media type byte; -1 when none
  char name[kNameSize + 1] = {};                // current image's name, NUL-terminated
  ReadWindow window;                            // cached bytes of the container
  SectorBatch batch;                            // the shared walks of ReadSectorBatch
};

}  // namespace diskimage

#endif
