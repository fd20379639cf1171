// Whole disks: split, join, export and import, each through one
// temporary file at a time that is read back before it is published.
#include "edit/WholeDisks.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "diskimage/D88Format.h"
#include "diskimage/TrackRecord.h"
#include "edit/Plan.h"
#include "platform/Platform.h"
#include "survey/Survey.h"

namespace edit {

namespace {

// The header of an Anex86 FDI file: eight 32-bit little-endian fields
// (0, drive type, header size, data size, sector bytes, sectors per
// track, heads, cylinders), zero up to its size.
constexpr int kFdiHeaderBytes = 4096;
constexpr int kFdiFields = 8;

// A record's header and the most data it can carry.
constexpr int kMostRecordBytes = diskimage::kSectorHeaderSize + 65535;

// Streams' windows: what is written, and what it is compared with.
std::uint8_t buffer[2][1 << 16];

// The disk's sectors in order, with room for an FDI header before them.
std::uint8_t sectors[kFdiHeaderBytes + survey::kDataBytes];

// A sector record's header and data, and a second copy of its ID.
std::uint8_t records[2][kMostRecordBytes];

// The container made by import, as read back.
survey::DiskSurvey readBack;

// Reads up to length bytes at position; the count read, -1 with errno
// when a read failed (the end of the file is none).
std::int64_t ReadAt(std::FILE* file, std::int64_t position, std::uint8_t* to, std::size_t length) {
  if (!platform::SeekStream(file, position)) return -1;
  const std::size_t got = std::fread(to, 1, length, file);
  if (std::ferror(file) != 0) return -1;
  return static_cast<std::int64_t>(got);
}

// A file being read, closed when it goes.
class Input {
 public:
  // Null opens nothing.
  explicit Input(const char* path)
      : file_(path != nullptr ? platform::OpenStream(path, "rb") : nullptr) {}
  ~Input() {
    if (file_ != nullptr) std::fclose(file_);
  }
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;
  std::FILE* get() const { return file_; }

 private:
  std::FILE* file_;
};

bool CannotRead(const char* path, int error, Outcome* outcome) {
  return Fail(outcome, "cannot read %s: %s; nothing written", Shown(path),
              std::strerror(error != 0 ? error : EIO));
}

// Opens the container at path into disk; false after the message when it
// cannot be opened or read.
bool OpenContainer(diskimage::DiskImage& disk, const char* path, Outcome* outcome) {
  if (!OpenContainerFile(disk, path))
    return Fail(outcome, "cannot open %s: %s", Shown(path), std::strerror(errno));
  if (disk.GetReadError() != 0) return CannotRead(path, disk.GetReadError(), outcome);
  if (disk.GetImageCount() == 0) return Fail(outcome, "%s holds no disk image", Shown(path));
  return true;
}

// Where image k of a container lies.
struct Span {
  std::int64_t start;
  std::int64_t length;
};
Span spans[diskimage::kMaxImages];

// Finds the images of the open container at path, which must lie back to
// back up to the end of the file; their count, 0 after the message.
int TileImages(diskimage::DiskImage& disk, const char* path, Outcome* outcome) {
  const std::int64_t fileSize = disk.GetFileSize();
  std::int64_t end = 0;
  int k = 0;
  for (; k < disk.GetImageCount() && end < fileSize; ++k) {
    if (!disk.Select(k)) break;
    const std::uint32_t size = static_cast<std::uint32_t>(disk.GetImageSize());
    if (size < diskimage::kImageHeaderSize || disk.GetImageOffset() + size > fileSize) {
      Fail(outcome, "%s: image %d's size field (%lu) %s; it is no whole container; nothing written",
           Shown(path), k, static_cast<unsigned long>(size),
           size < diskimage::kImageHeaderSize ? "is below a header" : "runs past the end");
      return 0;
    }
    spans[k] = Span{disk.GetImageOffset(), size};
    end = disk.GetImageOffset() + size;
  }
  if (disk.GetReadError() != 0) {
    CannotRead(path, disk.GetReadError(), outcome);
    return 0;
  }
  if (end != fileSize) {
    Fail(outcome, "%s: %lld bytes after image %d are no image%s; nothing written", Shown(path),
         static_cast<long long>(fileSize - end), k - 1,
         k == diskimage::kMaxImages ? " (d88 reads 64 images at most)" : "");
    return 0;
  }
  return k;
}

// Copies length bytes from position of from into the temporary file fd,
// or compares them with those of check (from its start) when check is
// given.  False with errno when a read or write failed or, comparing,
// with errno 0 when the bytes differ.
bool CopySpan(std::FILE* from, Span span, int fd, std::FILE* check, std::int64_t checkAt) {
  for (std::int64_t done = 0; done < span.length;) {
    const std::int64_t left = span.length - done;
    const std::size_t chunk = left < static_cast<std::int64_t>(sizeof buffer[0])
                                  ? static_cast<std::size_t>(left)
                                  : sizeof buffer[0];
    errno = 0;
    if (ReadAt(from, span.start + done, buffer[0], chunk) != static_cast<std::int64_t>(chunk)) {
      if (errno == 0) errno = EIO;  // shorter than it was indexed
      return false;
    }
    if (check == nullptr) {
      if (!WriteAll(fd, buffer[0], chunk)) return false;
    } else {
      const std::int64_t got = ReadAt(check, checkAt + done, buffer[1], chunk);
      if (got < 0) return false;
      if (got != static_cast<std::int64_t>(chunk) ||
          std::memcmp(buffer[0], buffer[1], chunk) != 0) {
        errno = 0;
        return false;
      }
    }
    done += static_cast<std::int64_t>(chunk);
  }
  return true;
}

// Makes the temporary file of target, which must not exist; its
// descriptor, -1 after the message.
int StartOutput(TempFile& temp, const char* target, Outcome* outcome) {
  const int existing = LookAt(target);
  if (existing != ENOENT) {
    Fail(outcome, "cannot write %s: %s; nothing written", Shown(target), std::strerror(existing));
    return -1;
  }
  IgnoreFileSizeSignal();
  const int fd = temp.Create(target, 0666);
  if (fd < 0)
    Fail(outcome, "cannot write %s: %s; nothing written", Shown(target), std::strerror(errno));
  return fd;
}

// Publishes the temporary file of target when it was written without
// error and read back the same; else removes it, the message saying why
// (mismatch when it read back otherwise).  False after the message.
bool FinishOutput(TempFile& temp, const char* target, int error, bool same, const char* mismatch,
                  Outcome* outcome) {
  if (error != 0 || !same) {
    temp.Drop();
    return Fail(outcome, "cannot write %s: %s; nothing written", Shown(target),
                error != 0 ? std::strerror(error) : mismatch);
  }
  if (!temp.Publish(target, outcome, "write")) return false;
  outcome->changed = true;
  temp.Release();
  return true;
}

// Writes the spans of the files at paths (spanCount[i] spans each, in
// order from spanList) into a temporary file beside target, reads it back
// against them and publishes it.  False after the message, nothing left.
bool WriteSpans(const char* target, const char* const* paths, const Span* const* spanList,
                const int* spanCount, int files, Outcome* outcome) {
  TempFile temp;
  const int fd = StartOutput(temp, target, outcome);
  if (fd < 0) return false;
  // Write, then compare the whole temporary file with the sources again.
  std::int64_t total = 0;
  int error = 0;
  bool same = true;
  for (int pass = 0; pass < 2 && error == 0 && same; ++pass) {
    Input written(pass == 1 ? temp.Path() : nullptr);
    if (pass == 1 && written.get() == nullptr) error = errno;
    std::int64_t at = 0;
    for (int i = 0; i < files && error == 0 && same; ++i) {
      Input source(paths[i]);
      if (source.get() == nullptr) {
        error = errno;
        break;
      }
      for (int s = 0; s < spanCount[i] && error == 0 && same; ++s) {
        if (!CopySpan(source.get(), spanList[i][s], fd, written.get(), at)) {
          error = errno;
          same = error != 0;
        }
        at += spanList[i][s].length;
      }
    }
    if (pass == 0) {
      total = at;
      if (error == 0 && !Flush(fd)) error = errno;
      if (!platform::Close(fd) && error == 0) error = errno;
    } else if (error == 0 && same && platform::StreamSize(written.get()) != total) {
      same = false;
    }
  }
  return FinishOutput(temp, target, error, same, "the copy does not read back as its sources",
                      outcome);
}

// The outputs of split.
char splitPaths[diskimage::kMaxImages][kPathBytes];

// Makes the path of image k's container; false when it does not fit.
bool SplitPath(const char* container, const char* folder, int k, char (&path)[kPathBytes]) {
  const char* base = BaseName(container);
  const char* dot = std::strrchr(base, '.');
  if (dot == nullptr || dot == base) dot = base + std::strlen(base);
  int written = 0;
  if (folder == nullptr) {
    written = std::snprintf(path, sizeof path, "%.*s%.*s-%d%s", static_cast<int>(base - container),
                            container, static_cast<int>(dot - base), base, k, dot);
  } else {
    const std::size_t length = std::strlen(folder);
    const bool ends = length > 0 && (folder[length - 1] == '/'
#if defined(_WIN32)
                                     || folder[length - 1] == '\\'
#endif
                                    );
    written = std::snprintf(path, sizeof path, "%s%s%.*s-%d%s", folder, ends ? "" : "/",
                            static_cast<int>(dot - base), base, k, dot);
  }
  return written > 0 && written < static_cast<int>(sizeof path);
}

// --- Sector files --------------------------------------------------------

// True when the disk fits the survey that checks it: 164 tracks of up to
// 26 sectors of up to 1024 bytes, its data within kDataBytes.
bool ShapeFits(const geometry::DiskShape& s) {
  const int lastTrack = s.heads == 2 ? s.cylinders * 2 - 1 : (s.cylinders - 1) * 2;
  return s.heads >= 1 && s.heads <= 2 && s.cylinders >= 1 && lastTrack < survey::kMostTracks &&
         s.sectors >= 1 && s.sectors <= survey::kMostSectorsPerTrack && s.sectorBytes >= 128 &&
         s.sectorBytes <= 1024 &&
         static_cast<std::int64_t>(s.cylinders) * s.heads * s.sectors * s.sectorBytes <=
             survey::kDataBytes;
}

bool RefuseShape(const geometry::DiskShape& s, Outcome* outcome) {
  return Fail(outcome,
              "a disk of %d/%d/%d/%d is outside what d88 handles (%d tracks of up to %d sectors of "
              "up to 1024 bytes, %ld bytes in all); nothing written",
              s.cylinders, s.heads, s.sectors, s.sectorBytes, survey::kMostTracks,
              survey::kMostSectorsPerTrack, static_cast<long>(survey::kDataBytes));
}

std::int64_t DataBytes(const geometry::DiskShape& s) {
  return static_cast<std::int64_t>(s.cylinders) * s.heads * s.sectors * s.sectorBytes;
}

int SizeCode(int sectorBytes) {
  int n = 0;
  while ((128 << n) < sectorBytes) ++n;
  return n;
}

// The track index of cylinder c, head h: a one-sided disk uses the even
// ones.
int TrackOf(const geometry::DiskShape& s, int c, int h) { return s.heads == 2 ? c * 2 + h : c * 2; }

// The family's byte of a D88 header, and an FDI header's drive type: by
// the bytes a track holds, 1.44 MB, then the 1 MB (1.2 MB drive) disks,
// then 2D by its 40 cylinders, else 2DD.
void MediaBytes(const geometry::DiskShape& s, std::uint8_t* d88, std::uint32_t* fdi) {
  const int trackBytes = s.sectors * s.sectorBytes;
  if (trackBytes >= 18 * 512) {
    *d88 = 0x20;
    *fdi = 0x30;
  } else if (trackBytes >= 15 * 512) {
    *d88 = 0x20;
    *fdi = 0x90;
  } else if (s.cylinders <= 42) {
    *d88 = 0x00;
    *fdi = 0x50;
  } else {
    *d88 = 0x10;
    *fdi = 0x10;
  }
}

void PutLE32(std::uint8_t* at, std::uint32_t value) {
  for (int b = 0; b < 4; ++b) at[b] = static_cast<std::uint8_t>(value >> (8 * b));
}

std::uint32_t LoadU32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(diskimage::LoadLE32(at));
}

// Fills the FDI header of a disk of shape s at header.
void MakeFdiHeader(const geometry::DiskShape& s, std::uint8_t* header) {
  std::memset(header, 0, kFdiHeaderBytes);
  std::uint8_t media = 0;
  std::uint32_t drive = 0;
  MediaBytes(s, &media, &drive);
  const std::uint32_t fields[kFdiFields] = {0,
                                            drive,
                                            kFdiHeaderBytes,
                                            static_cast<std::uint32_t>(DataBytes(s)),
                                            static_cast<std::uint32_t>(s.sectorBytes),
                                            static_cast<std::uint32_t>(s.sectors),
                                            static_cast<std::uint32_t>(s.heads),
                                            static_cast<std::uint32_t>(s.cylinders)};
  for (int i = 0; i < kFdiFields; ++i) PutLE32(header + 4 * i, fields[i]);
}

// Writes length bytes of bytes to a temporary file beside target, reads it
// back and compares, and publishes it.  False after the message.
bool WriteChecked(const char* target, const std::uint8_t* bytes, std::size_t length,
                  Outcome* outcome) {
  TempFile temp;
  const int fd = StartOutput(temp, target, outcome);
  if (fd < 0) return false;
  int error = WriteAll(fd, bytes, length) ? 0 : errno;
  if (error == 0 && !Flush(fd)) error = errno;
  if (!platform::Close(fd) && error == 0) error = errno;
  bool same = false;
  if (error == 0) {
    Input written(temp.Path());
    if (written.get() == nullptr) error = errno;
    same = error == 0 && platform::StreamSize(written.get()) == static_cast<std::int64_t>(length);
    for (std::size_t at = 0; same && at < length; at += sizeof buffer[1]) {
      const std::size_t chunk = length - at < sizeof buffer[1] ? length - at : sizeof buffer[1];
      const std::int64_t got =
          ReadAt(written.get(), static_cast<std::int64_t>(at), buffer[1], chunk);
      if (got < 0) error = errno;
      same =
          got == static_cast<std::int64_t>(chunk) && std::memcmp(buffer[1], bytes + at, chunk) == 0;
    }
  }
  return FinishOutput(temp, target, error, same, "the file does not read back as written", outcome);
}

// --- Export ----------------------------------------------------------------

// What export found of one place on the disk, for the refusal or a note.
char line[kMessageBytes];

// Tells of the place in line: refused without force (false), noted with it.
bool Trouble(const ExportRequest& request, NoteSink notes, int* noted, Outcome* outcome,
             const char* forced) {
  if (!request.force)
    return Fail(outcome, "image %d: %s; nothing written (--force writes it anyway)", request.image,
                line);
  const std::size_t length = std::strlen(line);
  std::snprintf(line + length, sizeof line - length, ", %s", forced);
  notes.note(notes.context, line);
  ++*noted;
  return true;
}

// Reads the record (header and data) into to; its data bytes the file
// holds (negative when it ends inside the header), below -16 with errno
// when a read failed.
std::int64_t ReadRecord(std::FILE* file, const diskimage::TrackRecord& record, std::uint8_t* to) {
  const std::int64_t got =
      ReadAt(file, record.position, to,
             static_cast<std::size_t>(diskimage::kSectorHeaderSize + record.dataLength));
  return got < 0 ? -diskimage::kSectorHeaderSize - 1 : got - diskimage::kSectorHeaderSize;
}

// Judges the first record of a sector, read into bytes with held data
// bytes: false with line saying what is wrong.
bool Sound(const diskimage::TrackRecord& record, const std::uint8_t* bytes, std::int64_t held,
           int sectorBytes, const char* place) {
  const std::uint8_t status = bytes[diskimage::kStatusOffset];
  if (held < record.dataLength) {
    std::snprintf(line, sizeof line, "%s: cut off by the end of the file", place);
  } else if (status != 0 && status != 0x10) {
    char text[survey::kStatusTextBytes];
    survey::DescribeStatus(status, text);
    std::snprintf(line, sizeof line, "%s: %s", place, text);
  } else if (record.dataLength != sectorBytes) {
    std::snprintf(line, sizeof line, "%s: %s (%d bytes, not %d)", place,
                  record.dataLength < sectorBytes ? "short" : "long", record.dataLength,
                  sectorBytes);
  } else if (status == 0x10 || bytes[diskimage::kDeletedMarkOffset] == 0x10) {
    std::snprintf(line, sizeof line, "%s: marked deleted", place);
  } else {
    return true;
  }
  return false;
}

// Gathers the sectors of track (c, h) into to.  False after the refusal.
bool GatherTrack(diskimage::DiskImage& disk, std::FILE* file, const geometry::DiskShape& s, int c,
                 int h, std::uint8_t* to, const ExportRequest& request, NoteSink notes, int* noted,
                 Outcome* outcome) {
  const int t = TrackOf(s, c, h);
  const int n = SizeCode(s.sectorBytes);
  diskimage::TrackRecord list[diskimage::kMaxTrackRecords];
  int count = disk.ReadTrackRecords(t, list, diskimage::kMaxTrackRecords);
  if (disk.GetReadError() != 0) return CannotRead(request.container, disk.GetReadError(), outcome);
  // A count of 0 ends the walk before its own ID is looked at.
  for (int i = 0; i < count; ++i) {
    if (list[i].sectorCount == 0) count = i;
  }
  int distinct = 0;
  int foreign = -1;
  for (int i = 0; i < count; ++i) {
    bool repeated = false;
    for (int j = 0; j < i; ++j) repeated = repeated || std::memcmp(list[i].id, list[j].id, 4) == 0;
    if (!repeated) ++distinct;
    const bool ours = list[i].id[0] == c && list[i].id[1] == h && list[i].id[3] == n &&
                      list[i].id[2] >= 1 && list[i].id[2] <= s.sectors;
    if (!ours && foreign < 0) foreign = i;
  }
  char place[96];
  std::snprintf(place, sizeof place, "track %d (cylinder %d, head %d)", t, c, h);
  if (count == 0) {
    std::snprintf(line, sizeof line, "%s is not recorded", place);
    if (!request.force) return Trouble(request, notes, noted, outcome, "");
  } else if (distinct != s.sectors) {
    std::snprintf(line, sizeof line, "%s holds %d sectors, not %d like the disk's others", place,
                  distinct, s.sectors);
    if (!request.force) return Trouble(request, notes, noted, outcome, "");
  } else if (foreign >= 0) {
    const std::uint8_t* id = list[foreign].id;
    std::snprintf(line, sizeof line, "%s holds sector C %d H %d R %d N %d, foreign to its shape",
                  place, id[0], id[1], id[2], id[3]);
    if (!request.force) return Trouble(request, notes, noted, outcome, "");
  }
  for (int i = 0; i < count; ++i) {
    const std::uint8_t* id = list[i].id;
    if (id[0] == c && id[1] == h && id[3] == n && id[2] >= 1 && id[2] <= s.sectors) continue;
    std::snprintf(line, sizeof line, "track %d (C %d H %d R %d N %d): not of the disk's shape", t,
                  id[0], id[1], id[2], id[3]);
    Trouble(request, notes, noted, outcome, "left out");
  }
  for (int r = 1; r <= s.sectors; ++r) {
    std::uint8_t* sector =
        to + static_cast<std::size_t>(r - 1) * static_cast<std::size_t>(s.sectorBytes);
    std::memset(sector, 0, static_cast<std::size_t>(s.sectorBytes));
    char where[128];
    std::snprintf(where, sizeof where, "track %d (C %d H %d R %d)", t, c, h, r);
    int first = -1;
    for (int i = 0; i < count && first < 0; ++i) {
      if (list[i].id[0] == c && list[i].id[1] == h && list[i].id[2] == r && list[i].id[3] == n)
        first = i;
    }
    if (first < 0) {
      std::snprintf(line, sizeof line, "%s: missing", where);
      if (!Trouble(request, notes, noted, outcome, "written as zeros")) return false;
      continue;
    }
    const std::int64_t held = ReadRecord(file, list[first], records[0]);
    if (held < -diskimage::kSectorHeaderSize) return CannotRead(request.container, errno, outcome);
    // A header the file no longer holds in full gives no data.
    const std::int64_t copied = held < 0 ? 0 : held < s.sectorBytes ? held : s.sectorBytes;
    std::memcpy(sector, records[0] + diskimage::kSectorHeaderSize,
                static_cast<std::size_t>(copied));
    if (!Sound(list[first], records[0], held, s.sectorBytes, where) &&
        !Trouble(request, notes, noted, outcome, "written as recorded"))
      return false;
    for (int i = first + 1; i < count; ++i) {
      if (std::memcmp(list[i].id, list[first].id, 4) != 0) continue;
      const std::int64_t other = ReadRecord(file, list[i], records[1]);
      if (other < -diskimage::kSectorHeaderSize)
        return CannotRead(request.container, errno, outcome);
      if (other == held && list[i].dataLength == list[first].dataLength &&
          std::memcmp(records[0] + diskimage::kStatusOffset, records[1] + diskimage::kStatusOffset,
                      1) == 0 &&
          std::memcmp(records[0] + diskimage::kSectorHeaderSize,
                      records[1] + diskimage::kSectorHeaderSize,
                      static_cast<std::size_t>(held)) == 0)
        continue;
      std::snprintf(line, sizeof line, "%s: recorded twice with different data", where);
      if (!Trouble(request, notes, noted, outcome, "the first copy written")) return false;
      break;
    }
  }
  return true;
}

// Works out the shape of image k from its records: the sectors and size
// most tracks show, the cylinders up to the last track recorded.
bool ShapeOfImage(diskimage::DiskImage& disk, const ExportRequest& request, geometry::DiskShape* s,
                  Outcome* outcome) {
  survey::ImageSummary summary;
  survey::SummarizeImage(disk, request.image, &summary);
  int lastTrack = -1;
  bool oddTrack = false;
  diskimage::TrackRecord list[diskimage::kMaxTrackRecords];
  for (int t = 0; t < diskimage::kTrackCount; ++t) {
    if (disk.ReadTrackRecords(t, list, diskimage::kMaxTrackRecords) == 0) continue;
    lastTrack = t;
    oddTrack = oddTrack || (t & 1) != 0;
  }
  if (disk.GetReadError() != 0) return CannotRead(request.container, disk.GetReadError(), outcome);
  if (!summary.geometry.Known() || lastTrack < 0)
    return Fail(outcome, "image %d records no sector of a known size; nothing written",
                request.image);
  s->heads = oddTrack || lastTrack == 0 ? 2 : 1;
  s->cylinders = lastTrack / 2 + 1;
  s->sectors = summary.geometry.shape.sectorsPerTrack;
  s->sectorBytes = summary.geometry.sectorBytes;
  return ShapeFits(*s) || RefuseShape(*s, outcome);
}

bool ExportOpen(diskimage::DiskImage& disk, const ExportRequest& request, NoteSink notes,
                int* noted, Outcome* outcome) {
  if (!OpenContainer(disk, request.container, outcome)) return false;
  const int images = survey::CountImages(disk);
  if (disk.GetReadError() != 0) return CannotRead(request.container, disk.GetReadError(), outcome);
  if (request.image >= images || !disk.Select(request.image))
    return Fail(outcome, "%s has no image %d (it holds %d)", Shown(request.container),
                request.image, images);
  geometry::DiskShape s{};
  if (!ShapeOfImage(disk, request, &s, outcome)) return false;
  Input file(request.container);
  if (file.get() == nullptr)
    return Fail(outcome, "cannot open %s: %s", Shown(request.container), std::strerror(errno));
  const std::size_t header = request.format == SectorFile::kFdi ? kFdiHeaderBytes : 0;
  if (header > 0) MakeFdiHeader(s, sectors);
  const std::size_t trackBytes = static_cast<std::size_t>(s.sectors * s.sectorBytes);
  std::uint8_t* to = sectors + header;
  for (int c = 0; c < s.cylinders; ++c) {
    for (int h = 0; h < s.heads; ++h, to += trackBytes) {
      if (!GatherTrack(disk, file.get(), s, c, h, to, request, notes, noted, outcome)) return false;
    }
  }
  return WriteChecked(request.output, sectors, header + static_cast<std::size_t>(DataBytes(s)),
                      outcome);
}

// --- Import ----------------------------------------------------------------

// Reads the geometry of an FDI file from its header into s; its header
// size into *header.  False after the message.
bool ReadFdiHeader(std::FILE* file, const ImportRequest& request, std::int64_t size,
                   geometry::DiskShape* s, std::int64_t* header, Outcome* outcome) {
  std::uint8_t fields[4 * kFdiFields];
  const std::int64_t got = ReadAt(file, 0, fields, sizeof fields);
  if (got < 0) return CannotRead(request.input, errno, outcome);
  std::uint32_t value[kFdiFields] = {};
  for (int i = 0; got == static_cast<std::int64_t>(sizeof fields) && i < kFdiFields; ++i)
    value[i] = LoadU32(fields + 4 * i);
  *s =
      geometry::DiskShape{static_cast<int>(value[7] & 0xFFFF), static_cast<int>(value[6] & 0xFF),
                          static_cast<int>(value[5] & 0xFFFF), static_cast<int>(value[4] & 0xFFFF)};
  *header = value[2];
  const bool whole = got == static_cast<std::int64_t>(sizeof fields) && value[2] >= sizeof fields &&
                     value[7] <= 0xFFFF && value[6] <= 0xFF && value[5] <= 0xFFFF &&
                     value[4] <= 0xFFFF && value[3] == DataBytes(*s) &&
                     size == static_cast<std::int64_t>(value[2]) + value[3];
  if (!whole)
    return Fail(outcome,
                "%s is no FDI file: its header's sizes do not add up to its %lld bytes; nothing "
                "written",
                Shown(request.input), static_cast<long long>(size));
  return true;
}

// Works out the disk's shape and where its sectors begin in the file;
// false after the message.
bool ImportShape(std::FILE* file, const ImportRequest& request, geometry::DiskShape* s,
                 std::int64_t* start, Outcome* outcome) {
  const std::int64_t size = platform::StreamSize(file);
  if (size < 0) return CannotRead(request.input, errno, outcome);
  *start = 0;
  if (request.format == SectorFile::kFdi) {
    if (!ReadFdiHeader(file, request, size, s, start, outcome)) return false;
    const geometry::DiskShape& g = *s;
    if (request.shape != nullptr &&
        (request.shape->cylinders != g.cylinders || request.shape->heads != g.heads ||
         request.shape->sectors != g.sectors || request.shape->sectorBytes != g.sectorBytes))
      return Fail(outcome, "%s is a disk of %d/%d/%d/%d, not the one -g names; nothing written",
                  Shown(request.input), g.cylinders, g.heads, g.sectors, g.sectorBytes);
  } else if (request.shape != nullptr) {
    *s = *request.shape;
    if (DataBytes(*s) != size)
      return Fail(
          outcome, "%s holds %lld bytes, not the %lld of a disk of %d/%d/%d/%d; nothing written",
          Shown(request.input), static_cast<long long>(size), static_cast<long long>(DataBytes(*s)),
          s->cylinders, s->heads, s->sectors, s->sectorBytes);
  } else if (!geometry::ShapeFromRawSize(size, s)) {
    return Fail(outcome,
                "%s holds %lld bytes, the size of no disk d88 knows; name its shape with -g; "
                "nothing written",
                Shown(request.input), static_cast<long long>(size));
  }
  return ShapeFits(*s) || RefuseShape(*s, outcome);
}

// True when the container just written at path reads back, through the
// survey, as a disk of shape s whose sectors hold data.
bool ReadsBack(diskimage::DiskImage& check, const char* path, const geometry::DiskShape& s,
               const std::uint8_t* data) {
  if (!OpenContainerFile(check, path) || survey::CountImages(check) != 1 ||
      !survey::SurveyDisk(check, 0, &readBack) || check.GetReadError() != 0)
    return false;
  const survey::DiskShape& g = readBack.shape;
  const geometry::Geometry& shown = readBack.image.geometry;
  const int tracks = s.cylinders * s.heads;
  if (readBack.slots == 0 || g.sectorsPerTrack != s.sectors || g.sectorBytes != s.sectorBytes ||
      shown.tracksRecorded != tracks || shown.tracksOfShape != tracks)
    return false;
  const std::size_t bytes = static_cast<std::size_t>(s.sectorBytes);
  for (int c = 0; c < s.cylinders; ++c) {
    for (int h = 0; h < s.heads; ++h) {
      const int t = TrackOf(s, c, h);
      const int row = g.heads == 2 ? t : t / 2;
      if (row >= g.rows) return false;
      for (int r = 0; r < s.sectors; ++r) {
        const std::size_t slot = static_cast<std::size_t>(row * g.sectorsPerTrack + r);
        if (readBack.sectors[slot] != survey::SectorState::kIntact ||
            std::memcmp(readBack.data + slot * bytes, data, bytes) != 0)
          return false;
        data += bytes;
      }
    }
  }
  return true;
}

// Writes the container of the disk of shape s with the sectors data,
// named name (Shift_JIS bytes), into the temporary file fd.  False with
// errno.
bool WriteContainer(int fd, const geometry::DiskShape& s, const std::uint8_t* data,
                    const char* name) {
  std::uint8_t header[diskimage::kImageHeaderSize] = {};
  std::memcpy(header + diskimage::kNameOffset, name, std::strlen(name));
  std::uint32_t drive = 0;
  MediaBytes(s, &header[diskimage::kMediaTypeOffset], &drive);
  const int recordBytes = diskimage::kSectorHeaderSize + s.sectorBytes;
  const int trackBytes = s.sectors * recordBytes;
  const int tracks = s.cylinders * s.heads;
  PutLE32(header + diskimage::kImageSizeOffset,
          static_cast<std::uint32_t>(diskimage::kImageHeaderSize + tracks * trackBytes));
  for (int i = 0; i < tracks; ++i) {
    const int t = TrackOf(s, i / s.heads, i % s.heads);
    PutLE32(header + diskimage::kTrackTableOffset + diskimage::kTrackEntrySize * t,
            static_cast<std::uint32_t>(diskimage::kImageHeaderSize + i * trackBytes));
  }
  if (!WriteAll(fd, header, sizeof header)) return false;
  const int n = SizeCode(s.sectorBytes);
  static std::uint8_t track[survey::kMostSectorsPerTrack * (diskimage::kSectorHeaderSize + 1024)];
  for (int i = 0; i < tracks; ++i) {
    std::memset(track, 0, static_cast<std::size_t>(trackBytes));
    for (int r = 0; r < s.sectors; ++r) {
      std::uint8_t* record = track + r * recordBytes;
      record[diskimage::kIdCylinderOffset] = static_cast<std::uint8_t>(i / s.heads);
      record[diskimage::kIdHeadOffset] = static_cast<std::uint8_t>(i % s.heads);
      record[diskimage::kIdSectorOffset] = static_cast<std::uint8_t>(r + 1);
      record[diskimage::kIdSizeCodeOffset] = static_cast<std::uint8_t>(n);
      record[diskimage::kSectorCountOffset] = static_cast<std::uint8_t>(s.sectors);
      record[diskimage::kDataLengthOffset] = static_cast<std::uint8_t>(s.sectorBytes);
      record[diskimage::kDataLengthOffset + 1] = static_cast<std::uint8_t>(s.sectorBytes >> 8);
      std::memcpy(record + diskimage::kSectorHeaderSize, data,
                  static_cast<std::size_t>(s.sectorBytes));
      data += s.sectorBytes;
    }
    if (!WriteAll(fd, track, static_cast<std::size_t>(trackBytes))) return false;
  }
  return true;
}

bool ImportOpen(diskimage::DiskImage& check, const ImportRequest& request, Outcome* outcome) {
  char name[diskimage::kNameSize + 1] = {};
  const Conversion conversion = request.diskName != nullptr
                                    ? ToShiftJis(request.diskName, name, sizeof name)
                                    : Conversion::kDone;
  if (conversion == Conversion::kNoConverter)
    return Fail(outcome, "cannot convert names to Shift_JIS: the system has no converter");
  if (conversion == Conversion::kNoForm)
    return Fail(outcome, "the disk name \"%s\" has no Shift_JIS form of at most 16 bytes",
                Shown(request.diskName));
  Input file(request.input);
  if (file.get() == nullptr)
    return Fail(outcome, "cannot open %s: %s", Shown(request.input), std::strerror(errno));
  geometry::DiskShape s{};
  std::int64_t start = 0;
  if (!ImportShape(file.get(), request, &s, &start, outcome)) return false;
  const std::size_t length = static_cast<std::size_t>(DataBytes(s));
  const std::int64_t got = ReadAt(file.get(), start, sectors, length);
  if (got < 0) return CannotRead(request.input, errno, outcome);
  if (got != static_cast<std::int64_t>(length) || std::fgetc(file.get()) != EOF)
    return Fail(outcome, "%s changed while it was read; nothing written", Shown(request.input));
  TempFile temp;
  const int fd = StartOutput(temp, request.output, outcome);
  if (fd < 0) return false;
  int error = WriteContainer(fd, s, sectors, name) ? 0 : errno;
  if (error == 0 && !Flush(fd)) error = errno;
  if (!platform::Close(fd) && error == 0) error = errno;
  const bool same = error == 0 && ReadsBack(check, temp.Path(), s, sectors);
  check.Open(nullptr);
  return FinishOutput(temp, request.output, error, same,
                      "the container does not read back as the disk", outcome);
}

}  // namespace

bool SplitContainer(diskimage::DiskImage& disk, const char* container, const char* folder,
                    Outcome* outcome) {
  change::Begin(outcome);
  if (!OpenContainer(disk, container, outcome)) return false;
  const int images = TileImages(disk, container, outcome);
  disk.Open(nullptr);
  if (images == 0) return false;
  for (int k = 0; k < images; ++k) {
    if (!SplitPath(container, folder, k, splitPaths[k]))
      return Fail(outcome, "cannot write image %d: its name is too long; nothing written", k);
    const int existing = LookAt(splitPaths[k]);
    if (existing != ENOENT)
      return Fail(outcome, "cannot write %s: %s; nothing written", Shown(splitPaths[k]),
                  std::strerror(existing));
  }
  for (int k = 0; k < images; ++k) {
    const Span* list = &spans[k];
    const int one = 1;
    if (WriteSpans(splitPaths[k], &container, &list, &one, 1, outcome)) continue;
    // The images written so far go again: all or none.
    for (int j = 0; j < k; ++j) platform::Remove(splitPaths[j]);
    outcome->changed = false;
    return false;
  }
  for (int k = 0; k < images; ++k) {
    if (FlushFailed(splitPaths[k], outcome)) return false;
  }
  return true;
}

bool JoinContainers(diskimage::DiskImage& disk, const char* output, const char* const* containers,
                    int count, Outcome* outcome) {
  change::Begin(outcome);
  static Span joined[diskimage::kMaxImages];
  static const Span* lists[diskimage::kMaxImages];
  static int counts[diskimage::kMaxImages];
  if (count > diskimage::kMaxImages)
    return Fail(outcome, "more than %d containers; nothing written", diskimage::kMaxImages);
  int total = 0;
  std::int64_t bytes = 0;
  for (int i = 0; i < count; ++i) {
    if (!OpenContainer(disk, containers[i], outcome)) return false;
    const int images = TileImages(disk, containers[i], outcome);
    disk.Open(nullptr);
    if (images == 0) return false;
    if (total + images > diskimage::kMaxImages)
      return Fail(outcome, "the images would be more than the %d d88 reads; nothing written",
                  diskimage::kMaxImages);
    lists[i] = joined + total;
    counts[i] = images;
    for (int k = 0; k < images; ++k) {
      joined[total++] = spans[k];
      bytes += spans[k].length;
    }
  }
  if (bytes > INT32_MAX)
    return Fail(outcome,
                "the images would be %lld bytes, more than a container holds; nothing "
                "written",
                static_cast<long long>(bytes));
  return WriteSpans(output, containers, lists, counts, count, outcome) &&
         !FlushFailed(output, outcome);
}

bool ExportDisk(diskimage::DiskImage& disk, const ExportRequest& request, NoteSink notes,
                int* noted, Outcome* outcome) {
  change::Begin(outcome);
  *noted = 0;
  const bool done = ExportOpen(disk, request, notes, noted, outcome);
  disk.Open(nullptr);
  return done && !FlushFailed(request.output, outcome);
}

bool ImportDisk(diskimage::DiskImage& check, const ImportRequest& request, Outcome* outcome) {
  change::Begin(outcome);
  return ImportOpen(check, request, outcome) && !FlushFailed(request.output, outcome);
}

}  // namespace edit
