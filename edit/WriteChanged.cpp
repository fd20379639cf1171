// Carrying out a plan: the streamed copy with its patches, the check of
// the copy by the extraction tool's own load, and the atomic replace.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "edit/CopyWriter.h"
#include "edit/Plan.h"
#include "fat12/Fat12Writer.h"
#include "platform/Platform.h"


namespace edit {

namespace {

// A disk of the copy, and a disk of the original other than the edited one.
survey::DiskSurvey after;
survey::DiskSurvey other;

Patch flatPatches[survey::kSlots];
int patchCount;

std::uint8_t buffer[1 << 16];  // the stream's window on the container


// The stream's directory bytes differ from those surveyed.
bool sourceDiffers;

// Collects the data areas of the directory's sectors and the written
// ones, in file order.
void CollectPatches(const Plan& plan) {
  const tool::MediaGeometry& g = *plan.before->image.medium;
  const int firstDirectory = g.directorySector - 1;
  const int lastDirectory = firstDirectory + g.directoryBytes / g.sectorBytes;
  patchCount = 0;
  for (int p = 0; p < plan.before->slots; ++p) {
    const bool directory = p >= firstDirectory && p < lastDirectory;
    if (!directory && !plan.written[p]) continue;
    const std::uint8_t* bytes = directory
                                    ? plan.directory + (p - firstDirectory) * g.sectorBytes
                                    : plan.data + static_cast<std::int64_t>(p) * g.sectorBytes;
    const std::uint8_t* was =
        directory ? plan.before->directory + (p - firstDirectory) * g.sectorBytes : nullptr;
    flatPatches[patchCount++] = Patch{plan.dataPosition[p], g.sectorBytes, bytes, was};
  }
  std::sort(flatPatches, flatPatches + patchCount,
            [](const Patch& a, const Patch& b) { return a.position < b.position; });
}

// Lays the count patches over the length bytes of chunk, which start at
// file position at, noting a byte under a patch that is not as surveyed.
void ApplyPatches(const Patch* patches, int count, std::int64_t at, std::uint8_t* chunk,
                  std::int64_t length) {
  for (int i = 0; i < count; ++i) {
    const Patch& patch = patches[i];
    const std::int64_t from = std::max(at, patch.position);
    const std::int64_t to = std::min(at + length, patch.position + patch.length);
    if (from >= to) continue;
    if (patch.was != nullptr &&
        std::memcmp(chunk + (from - at), patch.was + (from - patch.position),
                    static_cast<std::size_t>(to - from)) != 0)
      sourceDiffers = true;
    std::memcpy(chunk + (from - at), patch.bytes + (from - patch.position),
                static_cast<std::size_t>(to - from));
  }
}

}  // namespace

std::int64_t StreamWithPatches(std::FILE* source, int fd, const Patch* patches, int count,
                               bool* differs) {
  sourceDiffers = false;
  std::int64_t at = 0;
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, source);
    if (got == 0) {
      *differs = sourceDiffers;
      return std::ferror(source) ? -1 : at;
    }
    ApplyPatches(patches, count, at, buffer, static_cast<std::int64_t>(got));
    if (!WriteAll(fd, buffer, got)) return -1;
    at += static_cast<std::int64_t>(got);
  }
}

const char* StreamPatchedCopy(std::FILE* source, int fd, const Patch* patches, int count,
                              std::int64_t fileSize) {
  bool differs = false;
  const std::int64_t copied = StreamWithPatches(source, fd, patches, count, &differs);
  if (copied < 0) return std::strerror(errno);
  if (copied != fileSize) return "the container changed size during the run";
  if (differs) return "the container changed during the run";
  return nullptr;
}

bool SameDisk(const survey::DiskSurvey& a, const survey::DiskSurvey& b) {
  return a.image.medium == b.image.medium && a.slots == b.slots && a.fileCount == b.fileCount &&
         a.strayRecords == b.strayRecords && a.directoryDamage.count == b.directoryDamage.count &&
         std::memcmp(a.directory, b.directory, sizeof a.directory) == 0 &&
         std::memcmp(a.data, b.data, sizeof a.data) == 0 &&
         std::equal(a.sectors, a.sectors + a.slots, b.sectors);
}

namespace {

// True when the edited disk of the copy (in after) reads as planned: the
// planned directory, the written sectors intact with their new bytes,
// every other sector's bytes and state as they were.
bool ReadsAsPlanned(const Plan& plan) {
  const survey::DiskSurvey& was = *plan.before;
  if (after.image.medium != was.image.medium || after.slots != was.slots ||
      after.directoryDamage.count != 0 || after.strayRecords != was.strayRecords)
    return false;
  const tool::MediaGeometry& g = *was.image.medium;
  if (std::memcmp(after.directory, plan.directory, static_cast<std::size_t>(g.directoryBytes)) != 0)
    return false;
  const int firstDirectory = g.directorySector - 1;
  for (int p = 0; p < was.slots; ++p) {
    const std::int64_t at = static_cast<std::int64_t>(p) * g.sectorBytes;
    const bool directory =
        p >= firstDirectory && p < firstDirectory + g.directoryBytes / g.sectorBytes;
    const std::uint8_t* expected = directory ? plan.directory + (p - firstDirectory) * g.sectorBytes
                                             : (plan.written[p] ? plan.data : was.data) + at;
    const survey::SectorState state =
        plan.written[p] ? survey::SectorState::kIntact : was.sectors[p];
    if (after.sectors[p] != state ||
        std::memcmp(after.data + at, expected, static_cast<std::size_t>(g.sectorBytes)) != 0)
      return false;
  }
  return true;
}

}  // namespace

bool ReadBack(diskimage::DiskImage& original, diskimage::DiskImage& check, const char* path, int k,
              std::int64_t fileSize, survey::DiskSurvey* edited, bool (*judge)(void* context),
              void* context) {
#if defined(_WIN32)
  if (!OpenContainerFile(check, path)) return false;
#else
  if (!check.Open(path)) return false;
#endif
  const int images = survey::CountImages(original);
  bool same = check.GetFileSize() == fileSize && survey::CountImages(check) == images;
  for (int j = 0; same && j < images; ++j) {
    same = survey::SurveyDisk(check, j, edited);
    if (j == k) {
      same = same && judge(context);
    } else {
      same = same && survey::SurveyDisk(original, j, &other) && SameDisk(other, *edited);
    }
  }
  // What failed to read was compared as nothing.
  same = same && check.GetReadError() == 0 && original.GetReadError() == 0;
  check.Open(nullptr);
  return same;
}


namespace {

// The edit being written, for the copy's producer.
struct PatchedCopy {
  diskimage::DiskImage* original;
  diskimage::DiskImage* check;
  int image;
  const Plan* plan;
};

const char* WritePatched(void* context, std::FILE* source, int fd) {
  return StreamPatchedCopy(source, fd, flatPatches, patchCount,
                           static_cast<PatchedCopy*>(context)->plan->fileSize);
}

const char* CheckPatched(void* context, const char* path) {
  const PatchedCopy& copy = *static_cast<PatchedCopy*>(context);
  const auto judge = [](void* plan) { return ReadsAsPlanned(*static_cast<const Plan*>(plan)); };
  if (!ReadBack(*copy.original, *copy.check, path, copy.image, copy.plan->fileSize, &after, judge,
                const_cast<Plan*>(copy.plan)))
    return "the copy does not read back as planned";
  return nullptr;
}

}  // namespace

bool WriteChanged(diskimage::DiskImage& original, diskimage::DiskImage& check,
                  const EditRequest& request, const Plan& plan, Outcome* outcome) {
  CollectPatches(plan);
  PatchedCopy copy{&original, &check, request.image, &plan};
  return WriteProducedCopy(original, request.container, request.output,
                           CopyProducer{WritePatched, CheckPatched, &copy}, outcome);
}

namespace {

// The shape and contents of a blank disk: its sectors are zeros but for
// the first systemBytes, which come from system.
struct BlankDisk {
  int mediaType;
  int cylinders, heads, sectorsPerTrack, sizeCode, sectorBytes;
  const std::uint8_t* system;
  std::size_t systemBytes;
};

// Writes disk to path, which must not exist, named name: every track
// recorded in order with all its sectors, through a temporary file moved
// to path when whole.
bool WriteBlankDisk(const char* path, const BlankDisk& disk, const char* name, Outcome* outcome) {
  outcome->surveyed = false;
  outcome->changed = false;
  outcome->message[0] = '\0';
  outcome->leftover[0] = '\0';
  std::uint8_t header[diskimage::kImageHeaderSize] = {};
  char converted[diskimage::kNameSize + 1] = {};
  const Conversion conversion =
      name != nullptr ? ToShiftJis(name, converted, sizeof converted) : Conversion::kDone;
  if (conversion == Conversion::kNoConverter)
    return Fail(outcome, "cannot convert names to Shift_JIS: the system has no converter");
  if (conversion == Conversion::kNoForm)
    return Fail(outcome, "the disk name \"%s\" has no Shift_JIS form of at most 16 bytes",
                Shown(name));
  std::memcpy(header + diskimage::kNameOffset, converted, std::strlen(converted));
  header[diskimage::kMediaTypeOffset] = static_cast<std::uint8_t>(disk.mediaType);
  const std::uint32_t recordBytes =
      static_cast<std::uint32_t>(diskimage::kSectorHeaderSize + disk.sectorBytes);
  const std::uint32_t trackBytes = static_cast<std::uint32_t>(disk.sectorsPerTrack) * recordBytes;
  const std::uint32_t size = static_cast<std::uint32_t>(diskimage::kImageHeaderSize) +
                             static_cast<std::uint32_t>(disk.cylinders * disk.heads) * trackBytes;
  for (int b = 0; b < 4; ++b)
    header[diskimage::kImageSizeOffset + b] = static_cast<std::uint8_t>(size >> (8 * b));
  // Track index cylinder x 2 + head; a single-sided disk's odd ones stay empty.
  for (int t = 0; t < disk.cylinders * disk.heads; ++t) {
    const int index = disk.heads == 2 ? t : 2 * t;
    const std::uint32_t offset = static_cast<std::uint32_t>(diskimage::kImageHeaderSize) +
                                 static_cast<std::uint32_t>(t) * trackBytes;
    for (int b = 0; b < 4; ++b)
      header[diskimage::kTrackTableOffset + diskimage::kTrackEntrySize * index + b] =
          static_cast<std::uint8_t>(offset >> (8 * b));
  }
  // The blank disk is written beside path and moved there when whole, so
  // that a stopped run leaves no disk cut short under that name.
  const int existing = LookAt(path);
  if (existing != ENOENT)
    return Fail(outcome, "cannot make %s: %s", Shown(path), std::strerror(existing));
  IgnoreFileSizeSignal();
  const int fd = CreateTemp(path, 0666);
  if (fd < 0) return Fail(outcome, "cannot make %s: %s", Shown(path), std::strerror(errno));
  bool written = WriteAll(fd, header, sizeof header);
  std::size_t sectorAt = 0;  // the bytes of the disk before the sector written next
  for (int t = 0; written && t < disk.cylinders * disk.heads; ++t) {
    // A track at a time when it fits the buffer, else a sector at a time.
    std::uint32_t filled = 0;
    for (int r = 1; written && r <= disk.sectorsPerTrack; ++r) {
      if (filled + recordBytes > sizeof buffer) {
        written = WriteAll(fd, buffer, filled);
        filled = 0;
      }
      std::uint8_t* record = buffer + filled;
      std::memset(record, 0, recordBytes);
      record[diskimage::kIdCylinderOffset] = static_cast<std::uint8_t>(t / disk.heads);
      record[diskimage::kIdHeadOffset] = static_cast<std::uint8_t>(t % disk.heads);
      record[diskimage::kIdSectorOffset] = static_cast<std::uint8_t>(r);
      record[diskimage::kIdSizeCodeOffset] = static_cast<std::uint8_t>(disk.sizeCode);
      record[diskimage::kSectorCountOffset] = static_cast<std::uint8_t>(disk.sectorsPerTrack);
      record[diskimage::kSectorCountOffset + 1] =
          static_cast<std::uint8_t>(disk.sectorsPerTrack >> 8);
      record[diskimage::kDataLengthOffset] = static_cast<std::uint8_t>(disk.sectorBytes);
      record[diskimage::kDataLengthOffset + 1] = static_cast<std::uint8_t>(disk.sectorBytes >> 8);
      const std::size_t sectorBytes = static_cast<std::size_t>(disk.sectorBytes);
      if (sectorAt < disk.systemBytes) {
        const std::size_t take =
            disk.systemBytes - sectorAt < sectorBytes ? disk.systemBytes - sectorAt : sectorBytes;
        std::memcpy(record + diskimage::kSectorHeaderSize, disk.system + sectorAt, take);
      }
      sectorAt += sectorBytes;
      filled += recordBytes;
    }
    if (written) written = WriteAll(fd, buffer, filled);
  }
  int error = written ? 0 : errno;
  if (written && !Flush(fd)) error = errno;
  if (!platform::Close(fd) && error == 0) error = errno;
  if (error != 0) {
    DropTemp();
    return Fail(outcome, "cannot write %s: %s", Shown(path), std::strerror(error));
  }
  if (!PublishTemp(path, outcome, "make")) return false;
  outcome->changed = true;
  ReleaseTemp();
  return !FlushFailed(path, outcome);
}

// The D88 media byte of a disk's family: 2HD (1.2 MB and 1.44 MB too)
// by the bytes of a track, 2D by its 40 cylinders, else 2DD.
int FamilyMediaType(const geometry::DiskShape& shape) {
  if (shape.sectors * shape.sectorBytes > 5120) return 0x20;
  return shape.cylinders <= 42 ? 0x00 : 0x10;
}

}  // namespace

void DosStamp(std::time_t when, std::uint16_t* date, std::uint16_t* time) {
  std::tm local{};
#if defined(_WIN32)
  if (const std::tm* converted = std::localtime(&when)) local = *converted;
#else
  localtime_r(&when, &local);
#endif
  const int year = std::min(std::max(local.tm_year + 1900, 1980), 2107);
  *date = static_cast<std::uint16_t>((year - 1980) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
  *time = static_cast<std::uint16_t>(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
}

bool MakeBlankDisk(const char* path, const tool::MediaGeometry& medium, const char* name,
                   Outcome* outcome) {
  const BlankDisk disk{medium.mediaType, medium.tracks / 2,  2,       medium.sectorsPerTrack,
                       medium.sizeCode,  medium.sectorBytes, nullptr, 0};
  return WriteBlankDisk(path, disk, name, outcome);
}

bool MakeBlankFatDisk(const char* path, const geometry::DiskShape& shape, const char* name,
                      const char* label, Outcome* outcome) {
  outcome->message[0] = '\0';
  const auto u = [](int v) { return static_cast<std::uint32_t>(v); };
  const filesystem::Geometry geometry{u(shape.cylinders), u(shape.heads), u(shape.sectors),
                                      u(shape.sectorBytes)};
  fat12::FormatParameters parameters;
  filesystem::Reason reason;
  if (!fat12::ChooseFormat(geometry, &parameters, reason))
    return Fail(outcome, "cannot format FAT12: %s", reason.text);
  std::uint8_t labelBytes[11];
  if (label != nullptr) {
    char converted[16] = {};
    const Conversion conversion = ToShiftJis(label, converted, sizeof converted);
    if (conversion == Conversion::kNoConverter)
      return Fail(outcome, "cannot convert names to Shift_JIS: the system has no converter");
    if (conversion != Conversion::kDone || !fat12::MakeLabel(converted, labelBytes))
      return Fail(outcome,
                  "the label \"%s\" is not a volume label (1-11 bytes in Shift_JIS, no . or "
                  "\" * + , / : ; < = > ? [ \\ ] |)",
                  Shown(label));
  }
  const std::time_t now = std::time(nullptr);
  std::uint16_t date = 0, time = 0;
  DosStamp(now, &date, &time);
  // The volume serial as DOS makes it: from the date and time.
  const std::uint32_t serial =
      (static_cast<std::uint32_t>(date) << 16 | time) ^ static_cast<std::uint32_t>(now);
  static std::uint8_t system[fat12::kFormatAreaBytes];
  fat12::FormatSystemArea(parameters, label != nullptr ? labelBytes : nullptr, serial, date, time,
                          system);
  int sizeCode = 0;
  while ((128 << sizeCode) < shape.sectorBytes) ++sizeCode;
  const BlankDisk disk{FamilyMediaType(shape),
                       shape.cylinders,
                       shape.heads,
                       shape.sectors,
                       sizeCode,
                       shape.sectorBytes,
                       system,
                       std::size_t{parameters.layout.dataStart} * parameters.layout.bytesPerSector};
  return WriteBlankDisk(path, disk, name, outcome);
}

}  // namespace edit
