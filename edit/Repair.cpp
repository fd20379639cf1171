// d88 fix: a container rewritten where its headers contradict its records.
//
// The copy is the original's bytes in order, but each image's header
// rebuilt at 0x2B0 bytes, some record header fields patched, and byte-
// identical second copies of a sector cut out.  No sector data changes.
// A position moves only by its header's growth and the cuts before it, so
// every track table entry still names the very record it named.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "edit/CopyWriter.h"
#include "edit/HeaderEdits.h"
#include "edit/Plan.h"
#include "platform/Platform.h"

namespace edit {

namespace {

constexpr int kMostCuts = 4096;
constexpr int kMostFieldPatches = 16384;
constexpr int kHeader = diskimage::kImageHeaderSize;

// Bytes of the original left out of the copy: a second copy of a record.
struct Cut {
  std::int64_t position, length;
};
// A 16-bit field of a record header, rewritten.
struct FieldPatch {
  std::int64_t position;
  std::uint16_t value;
};

// One image as the copy holds it.
struct ImagePlan {
  std::int64_t start;            // its position in the original
  std::int64_t bodyStart;        // where its records begin: start + its header's length
  std::int64_t end;              // where it ends in the original
  std::uint8_t header[kHeader];  // its new header
  bool recordsOutside;           // a record of its tracks lies outside body..end
};

ImagePlan plans[diskimage::kMaxImages];
int planCount;
Cut cuts[kMostCuts];
int cutCount;
FieldPatch fields[kMostFieldPatches];
int fieldCount;
std::int64_t fileEnd;
bool tooMany;
Repairs* told;

std::uint8_t chunk[1 << 16];
std::uint8_t other[1 << 16];
survey::DiskSurvey was, now;

// Why a seek of the container failed, 0 when none did: a failed seek sets
// no error on the stream, and is no end of file.
int seekError;

bool ReadAt(std::FILE* file, std::int64_t position, std::uint8_t* bytes, std::size_t length) {
  if (!platform::SeekStream(file, position)) {
    if (seekError == 0) seekError = errno != 0 ? errno : EIO;
    return false;
  }
  return std::fread(bytes, 1, length, file) == length;
}

void Say(bool repair, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Adds a line to the repairs (or to the notes of what was left).
void Say(bool repair, const char* format, ...) {
  int& count = repair ? told->count : told->noteCount;
  char(*lines)[kRepairLineBytes] = repair ? told->lines : told->notes;
  if (count < kMostRepairLines) {
    std::va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(lines[count], kRepairLineBytes, format, arguments);
    va_end(arguments);
  }
  ++count;
}

void PatchField(std::int64_t position, int value) {
  if (fieldCount == kMostFieldPatches) {
    tooMany = true;
    return;
  }
  fields[fieldCount++] = FieldPatch{position, static_cast<std::uint16_t>(value)};
}

// A record of a track's walk: where it lies and its header.
struct Step {
  std::int64_t position;
  std::uint8_t header[diskimage::kSectorHeaderSize];
  int length;  // data bytes it is taken to hold
};
Step steps[diskimage::kMaxTrackRecords];

// Walks the records from start, each taken to hold its data length field
// (with nominal, 128 << N where N is 0-7); returns how many lead exactly
// to end, or -1 when they do not.
int Walk(std::FILE* file, std::int64_t start, std::int64_t end, bool nominal) {
  int n = 0;
  for (std::int64_t p = start; p != end; ++n) {
    if (p > end || n == diskimage::kMaxTrackRecords) return -1;
    Step& step = steps[n];
    if (!ReadAt(file, p, step.header, sizeof step.header)) return -1;
    const int field = diskimage::LoadLE16(step.header + diskimage::kDataLengthOffset);
    const int n3 = step.header[diskimage::kIdSizeCodeOffset];
    step.position = p;
    step.length = nominal && n3 <= 7 ? 128 << n3 : field;
    p += diskimage::kSectorHeaderSize + step.length;
  }
  return n;
}

// True when records a and b of the walk are the same bytes but for the
// count: the same ID, marks, length and data.
bool SameRecord(std::FILE* file, const Step& a, const Step& b) {
  if (a.length != b.length || std::memcmp(a.header, b.header, 4) != 0 ||
      std::memcmp(a.header + 6, b.header + 6, diskimage::kSectorHeaderSize - 6) != 0)
    return false;
  const std::size_t length = static_cast<std::size_t>(a.length);
  return ReadAt(file, a.position + diskimage::kSectorHeaderSize, chunk, length) &&
         ReadAt(file, b.position + diskimage::kSectorHeaderSize, other, length) &&
         std::memcmp(chunk, other, length) == 0;
}

// Repairs track t of image k, whose records lie from start to end.
void RepairTrack(std::FILE* file, int k, int t, std::int64_t start, std::int64_t end) {
  int count = Walk(file, start, end, false);
  bool lengthsWrong = false;
  if (count < 0) {
    count = Walk(file, start, end, true);
    lengthsWrong = count > 0;
  }
  if (count < 0) return;
  bool dropped[diskimage::kMaxTrackRecords] = {};
  int kept = count;
  for (int i = 1; i < count; ++i) {
    for (int j = 0; j < i && !dropped[i]; ++j) {
      if (dropped[j] || !SameRecord(file, steps[j], steps[i])) continue;
      dropped[i] = true;
      --kept;
      Say(true,
          "image %d: track %d: sector %d recorded twice, byte for byte; the second copy dropped", k,
          t, steps[i].header[diskimage::kIdSectorOffset]);
      if (cutCount == kMostCuts) {
        tooMany = true;
        return;
      }
      cuts[cutCount++] = Cut{steps[i].position, diskimage::kSectorHeaderSize + steps[i].length};
    }
  }
  bool countsWrong = false;
  for (int i = 0; i < count; ++i) {
    if (dropped[i]) continue;
    const Step& step = steps[i];
    const int field = diskimage::LoadLE16(step.header + diskimage::kDataLengthOffset);
    if (lengthsWrong && field != step.length) {
      Say(true, "image %d: track %d: sector %d: data length %d made %d, where its record ends", k,
          t, step.header[diskimage::kIdSectorOffset], field, step.length);
      PatchField(step.position + diskimage::kDataLengthOffset, step.length);
    }
    if (diskimage::LoadLE16(step.header + diskimage::kSectorCountOffset) != kept) {
      countsWrong = true;
      PatchField(step.position + diskimage::kSectorCountOffset, kept);
    }
  }
  if (countsWrong)
    Say(true, "image %d: track %d: sector counts made %d, the records it holds", k, t, kept);
}

// Notes track t when the walk of its records finds counts or data
// lengths that disagree and no repair could prove which is right.
void NoteTrack(int k, int t, const diskimage::TrackRecord* records, int count) {
  for (int i = 0; i < count; ++i) {
    const int nominal = records[i].id[3] <= 7 ? 128 << records[i].id[3] : -1;
    if (records[i].sectorCount != count || records[i].dataLength != nominal) {
      Say(false,
          "image %d: track %d: its records do not end where the next track begins; their "
          "counts and data lengths are left as they are",
          k, t);
      return;
    }
  }
}

// Plans image k of disk's container in plans[k].
void PlanImage(diskimage::DiskImage& disk, std::FILE* file, int k) {
  survey::ImageSummary summary;
  disk.Select(k);
  survey::SummarizeImage(disk, k, &summary);
  ImagePlan& plan = plans[k];
  plan.start = disk.GetImageOffset();
  const int headerBytes = summary.headerBytes;
  const std::int64_t length =
      summary.sizeFieldBroken || summary.cutShort ? fileEnd - plan.start : summary.size;
  plan.bodyStart = plan.start + headerBytes;
  plan.end = plan.start + length;
  plan.recordsOutside = false;
  std::memset(plan.header, 0, sizeof plan.header);
  std::uint8_t table[kHeader] = {};
  ReadAt(file, plan.start, table, static_cast<std::size_t>(headerBytes));
  std::memcpy(plan.header, table, diskimage::kTrackTableOffset);

  // The tracks by their place, each ending where the next begins.
  struct Place {
    std::int32_t offset;
    int track;
  } places[diskimage::kTrackCount];
  int placeCount = 0;
  diskimage::TrackRecord records[diskimage::kMaxTrackRecords];
  for (int t = 0; t < diskimage::kTrackCount; ++t) {
    const int count = disk.ReadTrackRecords(t, records, diskimage::kMaxTrackRecords);
    if (count == 0) continue;
    for (int i = 0; i < count; ++i) {
      if (records[i].position < plan.bodyStart ||
          records[i].position + diskimage::kSectorHeaderSize + records[i].dataLength > plan.end)
        plan.recordsOutside = true;
    }
    places[placeCount++] = Place{
        diskimage::LoadLE32(table + diskimage::kTrackTableOffset + t * diskimage::kTrackEntrySize),
        t};
  }
  std::sort(places, places + placeCount,
            [](const Place& a, const Place& b) { return a.offset < b.offset; });
  const int firstCut = cutCount;
  for (int i = 0; i < placeCount; ++i) {
    const bool shared = (i > 0 && places[i - 1].offset == places[i].offset) ||
                        (i + 1 < placeCount && places[i + 1].offset == places[i].offset);
    const std::int64_t start = plan.start + places[i].offset;
    const std::int64_t end = i + 1 < placeCount ? plan.start + places[i + 1].offset : plan.end;
    const int fieldsBefore = fieldCount, cutsBefore = cutCount, notesBefore = told->noteCount;
    if (!shared && start < end) RepairTrack(file, k, places[i].track, start, end);
    if (fieldsBefore == fieldCount && cutsBefore == cutCount && notesBefore == told->noteCount &&
        Walk(file, start, end, false) < 0 && Walk(file, start, end, true) < 0) {
      const int count =
          disk.ReadTrackRecords(places[i].track, records, diskimage::kMaxTrackRecords);
      NoteTrack(k, places[i].track, records, count);
    }
  }
  std::int64_t cutBytes = 0;
  for (int c = firstCut; c < cutCount; ++c) cutBytes += cuts[c].length;

  // The new table: each track's entry moved as its record moves.
  for (int i = 0; i < placeCount; ++i) {
    std::int64_t moved = places[i].offset - headerBytes + kHeader;
    for (int c = firstCut; c < cutCount; ++c) {
      if (cuts[c].position < plan.start + places[i].offset) moved -= cuts[c].length;
    }
    const std::uint32_t entry = static_cast<std::uint32_t>(moved);
    for (int b = 0; b < 4; ++b)
      plan.header[diskimage::kTrackTableOffset + places[i].track * diskimage::kTrackEntrySize + b] =
          static_cast<std::uint8_t>(entry >> (8 * b));
  }
  if (headerBytes != kHeader)
    Say(true, "image %d: header of %d bytes made %d; the records follow %d bytes later", k,
        headerBytes, kHeader, kHeader - headerBytes);
  const std::int64_t size = length - headerBytes + kHeader - cutBytes;
  if (length != summary.size)
    Say(true, "image %d: size field %lu made %lld, the image's length", k,
        static_cast<unsigned long>(summary.size), static_cast<long long>(size));
  for (int b = 0; b < 4; ++b)
    plan.header[diskimage::kImageSizeOffset + b] = static_cast<std::uint8_t>(size >> (8 * b));
  if (summary.mediumFromRecords) {
    const int byte = summary.recordMedium->mediaType;
    Say(true, "image %d: media byte 0x%02x made 0x%02x, the records' %s", k, summary.mediaByte,
        byte, survey::MediumName(*summary.recordMedium));
    plan.header[diskimage::kMediaTypeOffset] = static_cast<std::uint8_t>(byte);
  }
}

// Writes the original's bytes from..to into fd, patched and cut.
bool StreamPart(std::FILE* source, int fd, std::int64_t from, std::int64_t to) {
  for (std::int64_t at = from; at < to;) {
    const std::int64_t room = static_cast<std::int64_t>(sizeof chunk);
    const std::size_t length = static_cast<std::size_t>(to - at < room ? to - at : room);
    if (!ReadAt(source, at, chunk, length)) {
      if (!std::ferror(source)) errno = EIO;
      return false;
    }
    const std::int64_t stop = at + static_cast<std::int64_t>(length);
    for (int i = 0; i < fieldCount; ++i) {
      for (int b = 0; b < 2; ++b) {
        const std::int64_t p = fields[i].position + b;
        if (p >= at && p < stop)
          chunk[p - at] = static_cast<std::uint8_t>(fields[i].value >> (8 * b));
      }
    }
    std::int64_t kept = at;
    for (int c = 0; c < cutCount && kept < stop; ++c) {
      const std::int64_t cutEnd = cuts[c].position + cuts[c].length;
      if (cutEnd <= kept || cuts[c].position >= stop) continue;
      if (cuts[c].position > kept &&
          !WriteAll(fd, chunk + (kept - at), static_cast<std::size_t>(cuts[c].position - kept)))
        return false;
      kept = cutEnd;
    }
    if (kept < stop && !WriteAll(fd, chunk + (kept - at), static_cast<std::size_t>(stop - kept)))
      return false;
    at = stop;
  }
  return true;
}

const char* WriteRepaired(void*, std::FILE* source, int fd) {
  for (int k = 0; k < planCount; ++k) {
    if (!WriteAll(fd, plans[k].header, kHeader) ||
        !StreamPart(source, fd, plans[k].bodyStart, plans[k].end))
      return std::strerror(errno);
  }
  // What follows the last image is not this verb's to judge.
  if (!StreamPart(source, fd, plans[planCount - 1].end, fileEnd)) return std::strerror(errno);
  return nullptr;
}

// The readers of the original and of the copy for the check.
struct Readers {
  diskimage::DiskImage* original;
  diskimage::DiskImage* check;
};

// The copy must hold the same files, the same bytes and the same sector
// data as the original, with no header warning left.
const char* CheckRepaired(void* context, const char* path) {
  Readers& readers = *static_cast<Readers*>(context);
  diskimage::DiskImage& check = *readers.check;
  bool same = OpenContainerFile(check, path) && survey::CountImages(check) == planCount;
  for (int k = 0; same && k < planCount; ++k) {
    same = survey::SurveyDisk(*readers.original, k, &was) && survey::SurveyDisk(check, k, &now) &&
           was.slots == now.slots && was.fileCount == now.fileCount &&
           std::memcmp(was.directory, now.directory, sizeof was.directory) == 0 &&
           now.image.headerBytes == kHeader && !now.image.sizeFieldBroken && !now.image.cutShort &&
           !now.image.mediumFromRecords;
    // A sector the original's records failed to give may now be read in
    // full; every other is still read well, with its bytes, and no file
    // becomes damaged.
    const std::size_t bytes = static_cast<std::size_t>(was.shape.sectorBytes);
    for (int p = 0; same && p < was.slots; ++p) {
      const std::size_t at = static_cast<std::size_t>(p) * bytes;
      same = survey::DamagesData(was.sectors[p]) ||
             (!survey::DamagesData(now.sectors[p]) &&
              std::memcmp(was.data + at, now.data + at, bytes) == 0);
    }
    for (int i = 0; same && i < was.fileCount; ++i)
      same = !was.files[i].Intact() || now.files[i].Intact();
  }
  same = same && check.GetReadError() == 0 && readers.original->GetReadError() == 0;
  check.Open(nullptr);
  return same ? nullptr : "the copy does not read back as the original";
}

bool FixLocked(diskimage::DiskImage& original, diskimage::DiskImage& check, ContainerLock& lock,
               const char* container, const char* output, Outcome* outcome) {
  if (!OpenLocked(original, lock, container, outcome)) return false;
  planCount = survey::CountImages(original);
  fileEnd = original.GetFileSize();
  if (planCount == 0) return Fail(outcome, "%s holds no disk image", Shown(container));
  std::FILE* file = platform::OpenStream(container, "rb");
  if (file == nullptr)
    return Fail(outcome, "cannot open %s: %s", Shown(container), std::strerror(errno));
  cutCount = fieldCount = 0;
  tooMany = false;
  seekError = 0;
  for (int k = 0; k < planCount; ++k) PlanImage(original, file, k);
  const int error = original.GetReadError() != 0 ? original.GetReadError()
                    : seekError != 0             ? seekError
                    : std::ferror(file)          ? EIO
                                                 : 0;
  std::fclose(file);
  if (error != 0)
    return Fail(outcome, "cannot read %s: %s; nothing written", Shown(container),
                std::strerror(error));
  if (tooMany) return Fail(outcome, "more repairs than fix can hold; nothing written");
  if (told->count == 0) return true;
  bool moves = cutCount > 0;
  for (int k = 0; k < planCount; ++k)
    moves = moves || plans[k].bodyStart - plans[k].start != kHeader;
  for (int k = 0; moves && k < planCount; ++k) {
    if (plans[k].recordsOutside)
      return Fail(outcome,
                  "image %d: records of its tracks lie outside the image, and moving the records "
                  "would lose them; nothing written",
                  k);
  }
  std::sort(fields, fields + fieldCount,
            [](const FieldPatch& a, const FieldPatch& b) { return a.position < b.position; });
  std::sort(cuts, cuts + cutCount,
            [](const Cut& a, const Cut& b) { return a.position < b.position; });
  Readers readers{&original, &check};
  return WriteProducedCopy(original, lock, container, output,
                           CopyProducer{WriteRepaired, CheckRepaired, &readers}, outcome);
}

}  // namespace

bool FixContainer(diskimage::DiskImage& original, diskimage::DiskImage& check,
                  const char* container, const char* output, Repairs* repairs, Outcome* outcome) {
  change::Begin(outcome);
  repairs->count = repairs->noteCount = 0;
  told = repairs;
  ContainerLock lock;
  if (!lock.Take(container, outcome)) return false;
  const bool done = FixLocked(original, check, lock, container, output, outcome);
  original.Open(nullptr);
  return done;
}

}  // namespace edit
