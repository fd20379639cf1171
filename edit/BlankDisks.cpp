// Blank disks: every track recorded in order, the system area of a
// formatted volume, written whole beside the target and then moved there.
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

std::uint8_t buffer[1 << 16];  // a run of records on their way to the file

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
  change::Begin(outcome);
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
  TempFile temp;
  const int fd = temp.Create(path, 0666);
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
    temp.Drop();
    return Fail(outcome, "cannot write %s: %s", Shown(path), std::strerror(error));
  }
  if (!temp.Publish(path, outcome, "make")) return false;
  outcome->changed = true;
  temp.Release();
  return !FlushFailed(path, outcome);
}

// The D88 media byte of a disk's family: 2HD (1.2 MB and 1.44 MB too)
// by the bytes of a track, 2D by its 40 cylinders, else 2DD.
int FamilyMediaType(const geometry::DiskShape& shape) {
  if (shape.sectors * shape.sectorBytes > 5120) return 0x20;
  return shape.cylinders <= 42 ? 0x00 : 0x10;
}

}  // namespace

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
