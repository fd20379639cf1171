#include "fat12/Fat12Writer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "fat12/Entries.h"
#include "output/NameText.h"

namespace fat12 {

namespace {

constexpr int kMaxLongUnits = 255;

void Put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  Put16(p, v & 0xFFFF);
  Put16(p + 2, v >> 16);
}

bool IsTrailByte(std::uint8_t b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }
std::uint8_t Upper(std::uint8_t b) {
  return b >= 'a' && b <= 'z' ? static_cast<std::uint8_t>(b - 'a' + 'A') : b;
}

// A single byte a short name may hold as it is.
bool ShortNameByte(std::uint8_t b) {
  if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9')) return true;
  if (b >= 0x80 && !IsLeadByte(b)) return true;
  return b != 0 && std::strchr("$%'-_@~`!(){}^#&", b) != nullptr;
}

// The 11 bytes of a short entry as "NAME.EXT" into out (room for 13).
std::size_t ShortText(const std::uint8_t* raw, std::uint8_t* out) {
  std::size_t length = 0;
  int end = 8;
  while (end > 0 && raw[end - 1] == ' ') --end;
  for (int i = 0; i < end; ++i)
    out[length++] = i == 0 && raw[0] == kStandsForE5 ? kDeleted : raw[i];
  end = 11;
  while (end > 8 && raw[end - 1] == ' ') --end;
  if (end > 8) out[length++] = '.';
  for (int i = 8; i < end; ++i) out[length++] = raw[i];
  return length;
}

// True when a and b are the same name but for the case of ASCII letters
// outside double-byte characters.
bool SameShiftJis(const std::uint8_t* a, std::size_t aLength, const std::uint8_t* b,
                  std::size_t bLength) {
  if (aLength != bLength) return false;
  for (std::size_t i = 0; i < aLength; ++i) {
    if (IsLeadByte(a[i]) && i + 1 < aLength) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
      ++i;
    } else if (Upper(a[i]) != Upper(b[i])) {
      return false;
    }
  }
  return true;
}

bool SameUnits(const std::uint16_t* a, int aCount, const std::uint16_t* b, int bCount) {
  if (aCount != bCount) return false;
  for (int i = 0; i < aCount; ++i) {
    const auto fold = [](std::uint16_t u) {
      return u >= 'a' && u <= 'z' ? static_cast<std::uint16_t>(u - 'a' + 'A') : u;
    };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

// Decodes Shift_JIS name bytes into UTF-16 units; false when a byte is no
// character or the name is longer than a long name holds.
bool ToUnits(const char* name, std::size_t length, std::uint16_t* units, int* count) {
  char text[kMaxLongUnits * 4 + 8];
  if (length > kMaxLongUnits * 2) return false;
  output::DecodeName(name, length, text, sizeof text);
  // A byte that is no character shows as \xNN; a backslash is no name's.
  if (std::strchr(text, '\\') != nullptr) return false;
  int n = 0;
  for (const char* c = text; *c != '\0';) {
    const std::size_t bytes = output::Utf8Bytes(c);
    if (bytes == 0) return false;
    const auto b = [c](std::size_t i) { return static_cast<std::uint32_t>(c[i] & 0xFF); };
    std::uint32_t code = bytes == 1   ? b(0)
                         : bytes == 2 ? (b(0) & 0x1F) << 6 | (b(1) & 0x3F)
                         : bytes == 3 ? (b(0) & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F)
                                      : (b(0) & 0x07) << 18 | (b(1) & 0x3F) << 12 |
                                            (b(2) & 0x3F) << 6 | (b(3) & 0x3F);
    c += bytes;
    if (code >= 0x10000) {
      if (n + 2 > kMaxLongUnits) return false;
      code -= 0x10000;
      units[n++] = static_cast<std::uint16_t>(0xD800 + (code >> 10));
      units[n++] = static_cast<std::uint16_t>(0xDC00 + (code & 0x3FF));
    } else {
      if (n + 1 > kMaxLongUnits) return false;
      units[n++] = static_cast<std::uint16_t>(code);
    }
  }
  *count = n;
  return true;
}

std::uint32_t CeilDivide(std::uint32_t a, std::uint32_t b) { return (a + b - 1) / b; }

// Fills the derived fields of a layout whose counts are set.
void DeriveLayout(Layout& l) {
  l.rootStart = l.reservedSectors + l.fatCount * l.sectorsPerFat;
  l.rootSectors = CeilDivide(l.rootEntries * kDirectoryEntryBytes, l.bytesPerSector);
  l.dataStart = l.rootStart + l.rootSectors;
  l.clusterCount = (l.totalSectors - l.dataStart) / l.sectorsPerCluster;
}

struct KnownFormat {
  filesystem::Geometry shape;
  std::uint32_t sectorsPerCluster, sectorsPerFat, rootEntries, media;
};
// The parameters DOS gives the common floppies.
constexpr KnownFormat kKnownFormats[] = {
    {{77, 2, 8, 1024}, 1, 2, 192, 0xFE},  // PC-98 2HD
    {{80, 2, 9, 512}, 2, 3, 112, 0xF9},   // 720 KB
    {{80, 2, 8, 512}, 2, 2, 112, 0xFB},   // 640 KB
    {{80, 2, 18, 512}, 1, 9, 224, 0xF0},  // 1.44 MB
    {{80, 2, 15, 512}, 1, 7, 224, 0xF9},  // 1.2 MB
};

// mkfs.fat's defaults for a size in KB: the floppies it knows, else those
// of a small fixed disk.
struct SizeDefaults {
  std::uint32_t kilobytes, sectorsPerCluster, rootEntries, media;
};
constexpr SizeDefaults kSizeDefaults[] = {
    {360, 2, 112, 0xFD},  {720, 2, 112, 0xF9},  {1200, 1, 224, 0xF9},
    {1440, 1, 224, 0xF0}, {2880, 2, 224, 0xF0},
};

}  // namespace

bool ChooseFormat(const filesystem::Geometry& shape, FormatParameters* out,
                  filesystem::Reason& reason) {
  reason = {};
  FormatParameters p;
  Layout& l = p.layout;
  const std::uint32_t total = shape.SectorCount();
  if (shape.sectorBytes < 512 || shape.sectorBytes > kWriterMaxSectorBytes) {
    std::snprintf(reason.text, sizeof reason.text,
                  "FAT12 takes sectors of 512 to 4096 bytes, not %u", shape.sectorBytes);
    return false;
  }
  if (total == 0 || total > filesystem::kMaxSectors) {
    std::snprintf(reason.text, sizeof reason.text, "%u sectors: more than a FAT12 floppy holds",
                  total);
    return false;
  }
  l.hasParameterBlock = true;
  l.bytesPerSector = shape.sectorBytes;
  l.reservedSectors = 1;
  l.fatCount = 2;
  l.totalSectors = total;
  p.sectorsPerTrack = shape.sectorsPerTrack;
  p.heads = shape.heads;
  for (const KnownFormat& known : kKnownFormats) {
    const filesystem::Geometry& g = known.shape;
    if (g.cylinders != shape.cylinders || g.heads != shape.heads ||
        g.sectorsPerTrack != shape.sectorsPerTrack || g.sectorBytes != shape.sectorBytes)
      continue;
    l.sectorsPerCluster = known.sectorsPerCluster;
    l.sectorsPerFat = known.sectorsPerFat;
    l.rootEntries = known.rootEntries;
    l.media = known.media;
    DeriveLayout(l);
    *out = p;
    return true;
  }
  // As mkfs.fat: its floppy defaults by size, else 4 sectors a cluster and
  // 512 root entries, the cluster doubled until the FAT12 count fits.
  const std::uint32_t bytes = shape.sectorBytes;
  l.sectorsPerCluster = 4;
  l.rootEntries = 512;
  l.media = 0xF8;
  p.driveNumber = 0x80;
  const std::uint64_t kilobytes = std::uint64_t{total} * bytes / 1024;
  for (const SizeDefaults& d : kSizeDefaults) {
    if (d.kilobytes != kilobytes) continue;
    l.sectorsPerCluster = d.sectorsPerCluster;
    l.rootEntries = d.rootEntries;
    l.media = d.media;
    p.driveNumber = 0;
  }
  const std::uint32_t perSector = bytes / kDirectoryEntryBytes;
  l.rootEntries = CeilDivide(l.rootEntries, perSector) * perSector;
  const std::uint32_t rootSectors = l.rootEntries / perSector;
  for (; l.sectorsPerCluster <= 128; l.sectorsPerCluster *= 2) {
    if (total <= 1 + rootSectors) break;
    const std::uint64_t fatData = total - 1 - rootSectors;
    std::uint64_t clusters =
        2 * (fatData * bytes + 6) / (2 * std::uint64_t{l.sectorsPerCluster} * bytes + 6);
    const std::uint64_t fatSectors = ((clusters + 2) * 3 + 1) / 2 / bytes +
                                     ((((clusters + 2) * 3 + 1) / 2) % bytes != 0 ? 1 : 0);
    if (fatData <= 2 * fatSectors) break;
    clusters = (fatData - 2 * fatSectors) / l.sectorsPerCluster;
    std::uint64_t most = fatSectors * 2 * bytes / 3;
    if (most > kMaxClusters) most = kMaxClusters;
    if (clusters == 0 || clusters > most) continue;
    l.sectorsPerFat = static_cast<std::uint32_t>(fatSectors);
    DeriveLayout(l);
    if (std::uint64_t{l.dataStart} * bytes > kFormatAreaBytes) break;
    *out = p;
    return true;
  }
  std::snprintf(reason.text, sizeof reason.text, "no FAT12 volume fits %u sectors of %u bytes",
                total, bytes);
  return false;
}

bool MakeLabel(const char* label, std::uint8_t (&out)[11]) {
  const std::size_t length = std::strlen(label);
  if (length == 0 || length > 11 || label[0] == ' ') return false;
  std::memset(out, ' ', sizeof out);
  for (std::size_t i = 0; i < length; ++i) {
    const auto b = static_cast<std::uint8_t>(label[i]);
    if (IsLeadByte(b)) {
      if (i + 1 >= length || !IsTrailByte(static_cast<std::uint8_t>(label[i + 1]))) return false;
      out[i] = b;
      out[i + 1] = static_cast<std::uint8_t>(label[i + 1]);
      ++i;
      continue;
    }
    if (b != ' ' && !ShortNameByte(b)) return false;
    out[i] = Upper(b);
  }
  if (out[0] == kDeleted) out[0] = kStandsForE5;
  return true;
}

void FormatSystemArea(const FormatParameters& parameters, const std::uint8_t* label,
                      std::uint32_t serial, std::uint16_t dosDate, std::uint16_t dosTime,
                      std::uint8_t* area) {
  const Layout& l = parameters.layout;
  std::memset(area, 0, std::size_t{l.dataStart} * l.bytesPerSector);
  // Jump over the parameter block to a halt loop: the disk starts nothing.
  static const std::uint8_t kStart[] = {0xEB, 0x3C, 0x90, 'D', '8', '8', ' ', ' ', ' ', ' ', ' '};
  std::memcpy(area, kStart, sizeof kStart);
  Put16(area + 11, l.bytesPerSector);
  area[13] = static_cast<std::uint8_t>(l.sectorsPerCluster);
  Put16(area + 14, l.reservedSectors);
  area[16] = static_cast<std::uint8_t>(l.fatCount);
  Put16(area + 17, l.rootEntries);
  Put16(area + 19, l.totalSectors);
  area[21] = static_cast<std::uint8_t>(l.media);
  Put16(area + 22, l.sectorsPerFat);
  Put16(area + 24, parameters.sectorsPerTrack);
  Put16(area + 26, parameters.heads);
  area[36] = parameters.driveNumber;
  area[37] = 0;  // fsck.fat's dirty bit: clean
  area[38] = 0x29;
  Put32(area + 39, serial);
  std::memcpy(area + 43,
              label != nullptr ? label : reinterpret_cast<const std::uint8_t*>("NO NAME    "), 11);
  std::memcpy(area + 54, "FAT12   ", 8);
  area[62] = 0xF4;  // hlt
  area[63] = 0xEB;  // jmp to the hlt
  area[64] = 0xFD;
  area[510] = 0x55;
  area[511] = 0xAA;
  for (std::uint32_t copy = 0; copy < l.fatCount; ++copy) {
    std::uint8_t* fat =
        area + std::size_t{l.reservedSectors + copy * l.sectorsPerFat} * l.bytesPerSector;
    fat[0] = static_cast<std::uint8_t>(l.media);
    fat[1] = 0xFF;
    fat[2] = 0xFF;
  }
  if (label != nullptr) {
    std::uint8_t* entry = area + std::size_t{l.rootStart} * l.bytesPerSector;
    std::memcpy(entry, label, 11);
    entry[11] = kVolumeLabel;
    Put16(entry + 22, dosTime);
    Put16(entry + 24, dosDate);
  }
}

// --- The writer ------------------------------------------------------------

// One 32-byte slot of a directory.
struct Fat12Writer::Slot {
  std::uint32_t sector = 0;
  std::uint32_t offset = 0;
};

// An entry found by name: its short entry, the long-name parts before it.
struct Fat12Writer::Found {
  Slot entry;
  Slot parts[kMaxLongParts];
  int partCount = 0;
  std::uint8_t attributes = 0;
  std::uint32_t firstCluster = 0;
};

// A name checked for a new entry.
struct Fat12Writer::NewName {
  const char* bytes = nullptr;  // Shift_JIS, not terminated at its end
  std::size_t length = 0;
  std::uint16_t units[kMaxLongUnits] = {};
  int unitCount = 0;
  std::uint8_t shortName[11] = {};
  std::uint8_t caseBits = 0;
  bool needsLong = false;
  int Parts() const { return needsLong ? (unitCount + 12) / 13 : 0; }
};

bool Fat12Writer::Refuse(filesystem::Reason& reason, const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  // Into a copy first: the reason so far may be one of the arguments.
  char text[sizeof reason.text];
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  std::memcpy(reason.text, text, sizeof text);
  Undo();
  return false;
}

std::uint8_t* Fat12Writer::Touch(std::uint32_t s) {
  std::uint8_t* bytes = sectors_ + std::size_t{s} * layout_.bytesPerSector;
  for (std::uint32_t i = 0; i < savedCount_; ++i) {
    if (saved_[i] == s) return bytes;
  }
  const std::size_t at = std::size_t{savedCount_} * layout_.bytesPerSector;
  if (at + layout_.bytesPerSector <= sizeof undo_) {
    std::memcpy(undo_ + at, bytes, layout_.bytesPerSector);
    saved_[savedCount_] = s;
    savedChanged_[savedCount_] = changed_[s];
    ++savedCount_;
  }
  changed_[s] = 1;
  return bytes;
}

void Fat12Writer::Undo() {
  for (std::uint32_t i = 0; i < savedCount_; ++i) {
    std::memcpy(sectors_ + std::size_t{saved_[i]} * layout_.bytesPerSector,
                undo_ + std::size_t{i} * layout_.bytesPerSector, layout_.bytesPerSector);
    changed_[saved_[i]] = savedChanged_[i];
  }
  savedCount_ = 0;
}

std::uint32_t Fat12Writer::TableEntry(std::uint32_t n) const {
  const std::uint8_t* fat =
      sectors_ + std::size_t{layout_.reservedSectors} * layout_.bytesPerSector;
  const std::uint32_t word = Le16(fat + n * 3 / 2);
  return (n & 1) != 0 ? word >> 4 : word & 0xFFF;
}

// Sets entry n in every copy alike.
void Fat12Writer::SetTableEntry(std::uint32_t n, std::uint32_t value) {
  const Layout& l = layout_;
  const std::uint32_t at = n * 3 / 2;
  for (std::uint32_t copy = 0; copy < l.fatCount; ++copy) {
    const std::uint32_t first = l.reservedSectors + copy * l.sectorsPerFat;
    std::uint8_t* low = Touch(first + at / l.bytesPerSector) + at % l.bytesPerSector;
    std::uint8_t* high = Touch(first + (at + 1) / l.bytesPerSector) + (at + 1) % l.bytesPerSector;
    if ((n & 1) != 0) {
      *low = static_cast<std::uint8_t>((*low & 0x0F) | (value << 4 & 0xF0));
      *high = static_cast<std::uint8_t>(value >> 4);
    } else {
      *low = static_cast<std::uint8_t>(value);
      *high = static_cast<std::uint8_t>((*high & 0xF0) | (value >> 8 & 0x0F));
    }
  }
}

std::uint32_t Fat12Writer::FreeClusters() const {
  std::uint32_t count = 0;
  for (std::uint32_t c = 2; c <= layout_.clusterCount + 1; ++c) count += TableEntry(c) == 0;
  return count;
}

// Takes the lowest free cluster as the chain's new end after previous (0:
// a new chain).  The caller has made sure one is free.
std::uint32_t Fat12Writer::TakeCluster(std::uint32_t previous) {
  for (std::uint32_t c = 2; c <= layout_.clusterCount + 1; ++c) {
    if (TableEntry(c) != 0) continue;
    SetTableEntry(c, kEndOfChain);
    if (previous != 0) SetTableEntry(previous, c);
    return c;
  }
  return 0;
}

// True when the chain from first stays in the data area, never comes back
// on itself and ends with an end mark.
bool Fat12Writer::ChainSound(std::uint32_t first) const {
  const std::uint32_t last = layout_.clusterCount + 1;
  std::uint32_t cluster = first;
  for (std::uint32_t steps = 0; steps <= layout_.clusterCount; ++steps) {
    if (cluster < 2 || cluster > last) return false;
    const std::uint32_t next = TableEntry(cluster);
    if (next >= kFirstEndValue) return true;
    cluster = next;
  }
  return false;  // longer than the disk: a loop
}

// Frees a sound chain in every copy.
void Fat12Writer::FreeChain(std::uint32_t first) {
  for (std::uint32_t cluster = first; cluster >= 2 && cluster <= layout_.clusterCount + 1;) {
    const std::uint32_t next = TableEntry(cluster);
    SetTableEntry(cluster, 0);
    if (next >= kFirstEndValue) break;
    cluster = next;
  }
}

std::uint32_t Fat12Writer::ClusterSector(std::uint32_t cluster) const {
  return layout_.dataStart + (cluster - 2) * layout_.sectorsPerCluster;
}

bool Fat12Writer::Open(std::uint8_t* sectors, std::uint32_t sectorCount, const Layout& layout,
                       filesystem::Reason& reason) {
  sectors_ = sectors;
  sectorCount_ = sectorCount;
  layout_ = layout;
  savedCount_ = 0;
  std::memset(changed_, 0, sizeof changed_);
  reason = {};
  const Layout& l = layout;
  if (l.bytesPerSector < 512 || l.bytesPerSector > kWriterMaxSectorBytes ||
      l.sectorsPerCluster * l.bytesPerSector > kWriterMaxClusterBytes ||
      sectorCount > filesystem::kMaxSectors ||
      std::uint64_t{l.dataStart} + std::uint64_t{l.clusterCount} * l.sectorsPerCluster >
          sectorCount ||
      l.clusterCount > kMaxClusters || l.fatCount == 0) {
    sectors_ = nullptr;
    std::snprintf(reason.text, sizeof reason.text, "a FAT12 layout the writer does not change");
    return false;
  }
  const std::size_t fatBytes = std::size_t{l.sectorsPerFat} * l.bytesPerSector;
  const std::uint8_t* first = sectors + std::size_t{l.reservedSectors} * l.bytesPerSector;
  for (std::uint32_t copy = 1; copy < l.fatCount; ++copy) {
    if (std::memcmp(first, first + copy * fatBytes, fatBytes) != 0) {
      sectors_ = nullptr;
      std::snprintf(reason.text, sizeof reason.text, "the FAT copies disagree");
      return false;
    }
  }
  bool damaged = first[0] != l.media;
  for (std::uint32_t c = 2; c <= l.clusterCount + 1 && !damaged; ++c) {
    const std::uint32_t value = TableEntry(c);
    damaged = value == 1 || (value > l.clusterCount + 1 && value < 0xFF7);
  }
  if (damaged) {
    sectors_ = nullptr;
    std::snprintf(reason.text, sizeof reason.text, "the FAT is damaged");
    return false;
  }
  return true;
}

// Calls visit(slot, raw) for each slot of folder (0: the root) in order
// until it returns false; false with the reason when the folder's chain is
// damaged.
template <typename Visit>
bool Fat12Writer::VisitSlots(std::uint32_t folder, Visit&& visit,
                             filesystem::Reason& reason) const {
  const Layout& l = layout_;
  const auto sector = [&](std::uint32_t s, std::uint32_t entries) {
    for (std::uint32_t e = 0; e < entries; ++e) {
      const Slot slot{s, e * kDirectoryEntryBytes};
      if (!visit(slot, sectors_ + std::size_t{s} * l.bytesPerSector + slot.offset)) return false;
    }
    return true;
  };
  const std::uint32_t perSector = l.bytesPerSector / kDirectoryEntryBytes;
  if (folder == 0) {
    for (std::uint32_t s = 0; s < l.rootSectors; ++s) {
      const std::uint32_t left = l.rootEntries - s * perSector;
      if (!sector(l.rootStart + s, left < perSector ? left : perSector)) return true;
    }
    return true;
  }
  if (!ChainSound(folder)) {
    std::snprintf(reason.text, sizeof reason.text, "a folder's directory is damaged");
    return false;
  }
  for (std::uint32_t cluster = folder;;) {
    for (std::uint32_t j = 0; j < l.sectorsPerCluster; ++j) {
      if (!sector(ClusterSector(cluster) + j, perSector)) return true;
    }
    const std::uint32_t next = TableEntry(cluster);
    if (next >= kFirstEndValue) return true;
    cluster = next;
  }
}

// Finds name (Shift_JIS, length bytes, its long name or its short alias)
// in folder: true with *found when it is there; false, the reason empty,
// when not; false with the reason when the directory is damaged.
bool Fat12Writer::Lookup(std::uint32_t folder, const char* name, Found* found,
                         filesystem::Reason& reason) const {
  reason = {};
  const std::size_t length = std::strlen(name);
  std::uint16_t wanted[kMaxLongUnits];
  int wantedCount = 0;
  const bool haveUnits = ToUnits(name, length, wanted, &wantedCount);
  std::uint16_t units[kMaxLongParts * 13];
  Found candidate;
  int expected = 0;  // the long-name part expected next; 0 when none under way
  std::uint8_t checksum = 0;
  bool hit = false;
  const bool sound = VisitSlots(
      folder,
      [&](const Slot& slot, const std::uint8_t* raw) {
        if (raw[0] == 0) return false;
        if (raw[0] == kDeleted) {
          expected = 0;
          candidate.partCount = 0;
          return true;
        }
        if ((raw[11] & 0x3F) == kLongNamePart) {
          const int ordinal = raw[0] & 0x3F;
          if ((raw[0] & kLastLongPart) != 0 && ordinal >= 1 && ordinal <= kMaxLongParts) {
            expected = ordinal;
            checksum = raw[13];
            candidate.partCount = 0;
          }
          if (expected == 0 || ordinal != expected || raw[13] != checksum) {
            expected = 0;
            candidate.partCount = 0;
            return true;
          }
          for (int i = 0; i < 13; ++i)
            units[(ordinal - 1) * 13 + i] =
                static_cast<std::uint16_t>(Le16(raw + kLongUnitOffsets[i]));
          candidate.parts[candidate.partCount++] = slot;
          --expected;
          return true;
        }
        const bool longValid =
            candidate.partCount > 0 && expected == 0 && ShortNameChecksum(raw) == checksum;
        if ((raw[11] & kVolumeLabel) == 0 && raw[0] != '.') {
          std::uint8_t text[13];
          const std::size_t textLength = ShortText(raw, text);
          bool same =
              SameShiftJis(text, textLength, reinterpret_cast<const std::uint8_t*>(name), length);
          if (!same && longValid && haveUnits) {
            int count = 0;
            while (count < candidate.partCount * 13 && units[count] != 0) ++count;
            same = SameUnits(units, count, wanted, wantedCount);
          }
          if (same) {
            if (!longValid) candidate.partCount = 0;
            candidate.entry = slot;
            candidate.attributes = raw[11];
            candidate.firstCluster = Le16(raw + 26);
            *found = candidate;
            hit = true;
            return false;
          }
        }
        expected = 0;
        candidate.partCount = 0;
        return true;
      },
      reason);
  return sound && hit;
}

// Walks path's folders: *folder the last one's first cluster (0: the
// root), *leaf the last component.
bool Fat12Writer::FindFolder(const char* path, std::uint32_t* folder, const char** leaf,
                             filesystem::Reason& reason) const {
  std::uint32_t at = 0;
  const char* start = path;
  for (const char* slash = std::strchr(start, '/'); slash != nullptr;
       slash = std::strchr(start, '/')) {
    char component[kMaxLongUnits * 2 + 1];
    const std::size_t length = static_cast<std::size_t>(slash - start);
    if (length == 0 || length >= sizeof component) {
      std::snprintf(reason.text, sizeof reason.text, "not a path of folders");
      return false;
    }
    std::memcpy(component, start, length);
    component[length] = '\0';
    Found found;
    if (!Lookup(at, component, &found, reason)) {
      if (reason.text[0] == '\0') std::snprintf(reason.text, sizeof reason.text, "no such folder");
      return false;
    }
    if ((found.attributes & kFolder) == 0) {
      std::snprintf(reason.text, sizeof reason.text, "the path runs through a file");
      return false;
    }
    if (found.firstCluster < 2 || found.firstCluster > layout_.clusterCount + 1) {
      std::snprintf(reason.text, sizeof reason.text, "a folder's directory is damaged");
      return false;
    }
    at = found.firstCluster;
    start = slash + 1;
  }
  *folder = at;
  *leaf = start;
  return true;
}

// Checks name as a new entry's: one every system can hold; works out its
// short form when it is a DOS name.
bool Fat12Writer::CheckName(const char* name, NewName* out, filesystem::Reason& reason) const {
  const std::size_t length = std::strlen(name);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(name);
  const auto refuse = [&reason](const char* why) {
    std::snprintf(reason.text, sizeof reason.text, "a name no DOS or Windows system holds: %s",
                  why);
    return false;
  };
  if (length == 0 || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
    return refuse("empty, . or ..");
  if (!ToUnits(name, length, out->units, &out->unitCount))
    return refuse("not Shift_JIS, or longer than 255 characters");
  for (int i = 0; i < out->unitCount; ++i) {
    const std::uint16_t u = out->units[i];
    if (u < 0x20 || u == 0x7F || (u < 0x80 && std::strchr("\"*/:<>?\\|", u) != nullptr))
      return refuse("a control or one of \" * / : < > ? \\ |");
  }
  if (name[length - 1] == '.' || name[length - 1] == ' ') return refuse("a trailing dot or space");
  // Device names, with any extension.
  std::size_t base = 0;
  while (base < length && name[base] != '.') ++base;
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  bool device = false;
  for (const char* d : kDevices)
    device = device || SameShiftJis(bytes, base, reinterpret_cast<const std::uint8_t*>(d), 3);
  if (base == 4 && (SameShiftJis(bytes, 3, reinterpret_cast<const std::uint8_t*>("COM"), 3) ||
                    SameShiftJis(bytes, 3, reinterpret_cast<const std::uint8_t*>("LPT"), 3)))
    device = device || (name[3] >= '1' && name[3] <= '9');
  if (device) return refuse("a device name");
  out->bytes = name;
  out->length = length;
  // A DOS name: base of 1-8 bytes, one dot, extension of 1-3, each part's
  // letters of one case.
  std::size_t dot = length;
  int dots = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (IsLeadByte(bytes[i]) && i + 1 < length) {
      ++i;
    } else if (bytes[i] == '.') {
      dot = i;
      ++dots;
    }
  }
  out->needsLong = true;
  if (dots > 1 || dot == 0 || dot > 8 || length - (dot < length ? dot + 1 : length) > 3)
    return true;
  std::memset(out->shortName, ' ', 11);
  bool upper[2] = {}, lower[2] = {};
  for (std::size_t i = 0, put = 0; i < length; ++i) {
    const int part = i > dot ? 1 : 0;
    if (i == dot) {
      put = 8;
      continue;
    }
    if (IsLeadByte(bytes[i])) {
      if (i + 1 >= length) return true;
      out->shortName[put++] = bytes[i];
      out->shortName[put++] = bytes[++i];
      continue;
    }
    if (!ShortNameByte(bytes[i])) return true;
    upper[part] = upper[part] || (bytes[i] >= 'A' && bytes[i] <= 'Z');
    lower[part] = lower[part] || (bytes[i] >= 'a' && bytes[i] <= 'z');
    out->shortName[put++] = Upper(bytes[i]);
  }
  if ((upper[0] && lower[0]) || (upper[1] && lower[1])) return true;
  if (out->shortName[0] == kDeleted) out->shortName[0] = kStandsForE5;
  out->caseBits =
      static_cast<std::uint8_t>((lower[0] ? kLowerName : 0) | (lower[1] ? kLowerExtension : 0));
  out->needsLong = false;
  return true;
}

// Makes the short alias of a long name as Windows does: upper case, spaces
// and all dots but the last dropped, bytes no short name holds as '_',
// the base cut to 8 and the extension to 3; a ~N tail when anything was
// lost or the alias is taken, the lowest N free in folder.
bool Fat12Writer::MakeAlias(std::uint32_t folder, NewName* name, filesystem::Reason& reason) const {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(name->bytes);
  const std::size_t length = name->length;
  std::size_t first = 0;
  while (first < length && bytes[first] == '.') ++first;
  std::size_t lastDot = length;
  for (std::size_t i = first; i < length; ++i) {
    if (IsLeadByte(bytes[i]) && i + 1 < length) {
      ++i;
    } else if (bytes[i] == '.') {
      lastDot = i;
    }
  }
  bool lossy = first > 0;
  // Copies the bytes of [from, to) into out, at most room, whole characters.
  const auto take = [&](std::size_t from, std::size_t to, std::uint8_t* out, std::size_t room) {
    std::size_t put = 0;
    for (std::size_t i = from; i < to; ++i) {
      const std::uint8_t b = bytes[i];
      if (IsLeadByte(b) && i + 1 < to) {
        if (put + 2 > room) {
          lossy = true;
          break;
        }
        out[put++] = b;
        out[put++] = bytes[++i];
        continue;
      }
      if (b == ' ' || b == '.') {
        lossy = true;
        continue;
      }
      if (put + 1 > room) {
        lossy = true;
        break;
      }
      const bool keep = ShortNameByte(b);
      if (!keep) lossy = true;
      out[put++] = keep ? Upper(b) : '_';
    }
    return put;
  };
  std::uint8_t base[8], extension[3];
  const std::size_t baseLength = take(first, lastDot, base, sizeof base);
  const std::size_t extensionLength =
      lastDot < length ? take(lastDot + 1, length, extension, sizeof extension) : 0;
  std::uint8_t* alias = name->shortName;
  std::memset(alias, ' ', 11);
  std::memcpy(alias + 8, extension, extensionLength);
  const auto taken = [&]() {
    bool clash = false;
    filesystem::Reason ignored;
    VisitSlots(
        folder,
        [&](const Slot&, const std::uint8_t* raw) {
          if (raw[0] == 0) return false;
          clash = raw[0] != kDeleted && (raw[11] & 0x3F) != kLongNamePart &&
                  std::memcmp(raw, alias, 11) == 0;
          return !clash;
        },
        ignored);
    return clash;
  };
  if (!lossy && baseLength > 0) {
    std::memcpy(alias, base, baseLength);
    if (alias[0] == kDeleted) alias[0] = kStandsForE5;
    if (!taken()) return true;
  }
  for (std::uint32_t n = 1; n < 1000000; ++n) {
    char tail[9];
    const int tailLength = std::snprintf(tail, sizeof tail, "~%u", n);
    std::size_t keep = 0;
    for (std::size_t i = 0; i < baseLength;) {
      const std::size_t step = IsLeadByte(base[i]) && i + 1 < baseLength ? 2 : 1;
      if (i + step + static_cast<std::size_t>(tailLength) > 8) break;
      i += step;
      keep = i;
    }
    std::memset(alias, ' ', 8);
    std::memcpy(alias, base, keep);
    std::memcpy(alias + keep, tail, static_cast<std::size_t>(tailLength));
    if (alias[0] == kDeleted) alias[0] = kStandsForE5;
    if (!taken()) return true;
  }
  std::snprintf(reason.text, sizeof reason.text, "no short alias is free");
  return false;
}

// Finds count free slots in a row in folder: *run the first; *growth the
// clusters the directory must grow by first (a folder only).  False with
// the reason when the root is full.
bool Fat12Writer::FindRun(std::uint32_t folder, int count, Slot* run, int* growth,
                          filesystem::Reason& reason) const {
  int length = 0;
  Slot start;
  const bool sound = VisitSlots(
      folder,
      [&](const Slot& slot, const std::uint8_t* raw) {
        if (raw[0] != 0 && raw[0] != kDeleted) {
          length = 0;
          return true;
        }
        if (length++ == 0) start = slot;
        return length < count;
      },
      reason);
  if (!sound) return false;
  *growth = 0;
  if (length >= count) {
    *run = start;
    return true;
  }
  if (folder == 0) {
    std::snprintf(reason.text, sizeof reason.text, "the root directory is full (%u entries)",
                  layout_.rootEntries);
    return false;
  }
  const std::uint32_t perCluster =
      layout_.sectorsPerCluster * layout_.bytesPerSector / kDirectoryEntryBytes;
  *growth = static_cast<int>(CeilDivide(static_cast<std::uint32_t>(count - length), perCluster));
  if (length == 0) start = Slot{};  // the run starts in the first new cluster
  *run = start;
  return true;
}

// Writes name's entries from the run FindRun found, growing the folder's
// directory by the clusters it asked for (which the caller made sure are
// free).
bool Fat12Writer::PutEntries(std::uint32_t folder, const NewName& name, std::uint8_t attributes,
                             std::uint32_t firstCluster, std::uint32_t size, std::uint16_t dosDate,
                             std::uint16_t dosTime, filesystem::Reason& reason) {
  const int parts = name.Parts();
  Slot run;
  int growth = 0;
  if (!FindRun(folder, parts + 1, &run, &growth, reason)) return false;
  std::uint32_t last = folder;
  while (folder != 0 && TableEntry(last) < kFirstEndValue) last = TableEntry(last);
  for (int g = 0; g < growth; ++g) {
    last = TakeCluster(last);
    for (std::uint32_t j = 0; j < layout_.sectorsPerCluster; ++j)
      std::memset(Touch(ClusterSector(last) + j), 0, layout_.bytesPerSector);
    if (run.sector == 0) run = Slot{ClusterSector(last), 0};
  }
  // The slots in order from the run's first: within its sector, then the
  // directory's next sectors.
  Slot slots[kMaxLongParts + 1];
  int found = 0;
  bool started = false;
  VisitSlots(
      folder,
      [&](const Slot& slot, const std::uint8_t*) {
        started = started || (slot.sector == run.sector && slot.offset == run.offset);
        if (started) slots[found++] = slot;
        return found < parts + 1;
      },
      reason);
  const std::uint8_t checksum = ShortNameChecksum(name.shortName);
  for (int part = parts; part >= 1; --part) {
    const Slot& slot = slots[parts - part];
    std::uint8_t* raw = Touch(slot.sector) + slot.offset;
    std::memset(raw, 0, kDirectoryEntryBytes);
    raw[0] = static_cast<std::uint8_t>(part | (part == parts ? kLastLongPart : 0));
    raw[11] = kLongNamePart;
    raw[13] = checksum;
    for (int i = 0; i < 13; ++i) {
      const int k = (part - 1) * 13 + i;
      Put16(raw + kLongUnitOffsets[i], k < name.unitCount    ? name.units[k]
                                       : k == name.unitCount ? 0
                                                             : 0xFFFF);
    }
  }
  std::uint8_t* raw = Touch(slots[parts].sector) + slots[parts].offset;
  std::memset(raw, 0, kDirectoryEntryBytes);
  std::memcpy(raw, name.shortName, 11);
  raw[11] = attributes;
  raw[12] = name.caseBits;
  Put16(raw + 22, dosTime);
  Put16(raw + 24, dosDate);
  Put16(raw + 26, firstCluster);
  Put32(raw + 28, size);
  return true;
}

void Fat12Writer::DeleteEntries(const Found& found) {
  for (int i = 0; i < found.partCount; ++i)
    Touch(found.parts[i].sector)[found.parts[i].offset] = kDeleted;
  Touch(found.entry.sector)[found.entry.offset] = kDeleted;
}

// The common start of every change: the folder path names and its leaf,
// checked as a new name; whether the leaf is there, and as what.
bool Fat12Writer::Resolve(const char* path, std::uint32_t* folder, NewName* name, Found* found,
                          bool* exists, filesystem::Reason& reason) {
  reason = {};
  savedCount_ = 0;
  if (sectors_ == nullptr) return Refuse(reason, "no volume open");
  const char* leaf = nullptr;
  if (!FindFolder(path, folder, &leaf, reason)) return Refuse(reason, "%.120s", reason.text);
  *exists = Lookup(*folder, leaf, found, reason);
  if (reason.text[0] != '\0') return Refuse(reason, "%.120s", reason.text);
  if (!CheckName(leaf, name, reason)) return Refuse(reason, "%.150s", reason.text);
  return true;
}

// Gives a long name its alias and makes sure the disk has room for
// clusters more and the entries' growth of folder; false after Refuse.
bool Fat12Writer::MakeRoom(std::uint32_t folder, NewName* name, std::uint32_t clusters,
                           filesystem::Reason& reason) {
  if (name->needsLong && !MakeAlias(folder, name, reason))
    return Refuse(reason, "%.150s", reason.text);
  Slot run;
  int growth = 0;
  if (!FindRun(folder, name->Parts() + 1, &run, &growth, reason))
    return Refuse(reason, "%.150s", reason.text);
  const std::uint64_t clusterBytes = layout_.sectorsPerCluster * layout_.bytesPerSector;
  const std::uint32_t free = FreeClusters();
  if (clusters + static_cast<std::uint32_t>(growth) > free)
    return Refuse(reason, "no room: %llu bytes needed, %llu free",
                  (clusters + static_cast<unsigned long long>(growth)) * clusterBytes,
                  static_cast<unsigned long long>(free) * clusterBytes);
  return true;
}

bool Fat12Writer::Add(const char* path, const std::uint8_t* data, std::uint32_t size,
                      std::uint16_t dosDate, std::uint16_t dosTime, filesystem::Reason& reason) {
  std::uint32_t folder = 0;
  NewName name;
  Found old;
  bool exists = false;
  if (!Resolve(path, &folder, &name, &old, &exists, reason)) return false;
  if (exists) {
    if ((old.attributes & kFolder) != 0) return Refuse(reason, "a folder of that name is there");
    if (old.firstCluster != 0 && !ChainSound(old.firstCluster))
      return Refuse(reason, "the file it replaces has a damaged cluster chain");
    DeleteEntries(old);
    if (old.firstCluster != 0) FreeChain(old.firstCluster);
  }
  const std::uint32_t clusterBytes = layout_.sectorsPerCluster * layout_.bytesPerSector;
  const std::uint32_t clusters = CeilDivide(size, clusterBytes);
  if (!MakeRoom(folder, &name, clusters, reason)) return false;
  std::uint32_t first = 0;
  std::uint32_t chain[kMaxClusters];
  for (std::uint32_t i = 0, previous = 0; i < clusters; ++i) {
    previous = TakeCluster(previous);
    chain[i] = previous;
    if (first == 0) first = previous;
  }
  if (!PutEntries(folder, name, kArchive, first, size, dosDate, dosTime, reason))
    return Refuse(reason, "%.150s", reason.text);
  // Nothing fails from here: the data goes into its clusters.
  const std::uint32_t bytesPerSector = layout_.bytesPerSector;
  for (std::uint32_t i = 0; i < clusters; ++i) {
    for (std::uint32_t j = 0; j < layout_.sectorsPerCluster; ++j) {
      const std::uint32_t s = ClusterSector(chain[i]) + j;
      const std::uint64_t from =
          (std::uint64_t{i} * layout_.sectorsPerCluster + j) * bytesPerSector;
      std::uint8_t* out = sectors_ + std::size_t{s} * bytesPerSector;
      const std::uint64_t left = from < size ? size - from : 0;
      const std::size_t take =
          static_cast<std::size_t>(left < bytesPerSector ? left : bytesPerSector);
      if (take > 0) std::memcpy(out, data + from, take);
      std::memset(out + take, 0, bytesPerSector - take);
      changed_[s] = 1;
    }
  }
  savedCount_ = 0;
  return true;
}

// Finds the entry path names; false after Refuse when it is not there.
bool Fat12Writer::FindExisting(const char* path, Found* found, filesystem::Reason& reason) {
  reason = {};
  savedCount_ = 0;
  std::uint32_t folder = 0;
  const char* leaf = nullptr;
  if (sectors_ == nullptr) return Refuse(reason, "no volume open");
  if (!FindFolder(path, &folder, &leaf, reason)) return Refuse(reason, "%.150s", reason.text);
  const bool exists = Lookup(folder, leaf, found, reason);
  if (reason.text[0] != '\0') return Refuse(reason, "%.150s", reason.text);
  if (!exists) return Refuse(reason, "no such file or folder");
  return true;
}

bool Fat12Writer::Remove(const char* path, filesystem::Reason& reason) {
  Found found;
  if (!FindExisting(path, &found, reason)) return false;
  if ((found.attributes & kFolder) != 0) return Refuse(reason, "a folder; rmdir removes folders");
  if (found.firstCluster != 0 && !ChainSound(found.firstCluster))
    return Refuse(reason, "its cluster chain is damaged");
  DeleteEntries(found);
  if (found.firstCluster != 0) FreeChain(found.firstCluster);
  savedCount_ = 0;
  return true;
}

bool Fat12Writer::MakeFolder(const char* path, std::uint16_t dosDate, std::uint16_t dosTime,
                             filesystem::Reason& reason) {
  std::uint32_t folder = 0;
  NewName name;
  Found old;
  bool exists = false;
  if (!Resolve(path, &folder, &name, &old, &exists, reason)) return false;
  if (exists) return Refuse(reason, "that name is taken");
  if (!MakeRoom(folder, &name, 1, reason)) return false;
  const std::uint32_t cluster = TakeCluster(0);
  for (std::uint32_t j = 0; j < layout_.sectorsPerCluster; ++j)
    std::memset(Touch(ClusterSector(cluster) + j), 0, layout_.bytesPerSector);
  std::uint8_t* dots = Touch(ClusterSector(cluster));
  for (std::uint32_t d = 0; d < 2; ++d) {
    std::uint8_t* raw = dots + d * kDirectoryEntryBytes;
    std::memcpy(raw, d == 0 ? ".          " : "..         ", 11);
    raw[11] = kFolder;
    Put16(raw + 22, dosTime);
    Put16(raw + 24, dosDate);
    Put16(raw + 26, d == 0 ? cluster : folder);
  }
  if (!PutEntries(folder, name, kFolder, cluster, 0, dosDate, dosTime, reason))
    return Refuse(reason, "%.150s", reason.text);
  savedCount_ = 0;
  return true;
}

bool Fat12Writer::RemoveFolder(const char* path, filesystem::Reason& reason) {
  Found found;
  if (!FindExisting(path, &found, reason)) return false;
  if ((found.attributes & kFolder) == 0) return Refuse(reason, "a file; rm removes files");
  if (found.firstCluster < 2 || !ChainSound(found.firstCluster))
    return Refuse(reason, "its directory is damaged");
  bool empty = true;
  VisitSlots(
      found.firstCluster,
      [&](const Slot&, const std::uint8_t* raw) {
        if (raw[0] == 0) return false;
        if (raw[0] == kDeleted || raw[0] == '.' || (raw[11] & 0x3F) == kLongNamePart) return true;
        empty = false;
        return false;
      },
      reason);
  if (!empty) return Refuse(reason, "the folder is not empty");
  DeleteEntries(found);
  FreeChain(found.firstCluster);
  savedCount_ = 0;
  return true;
}

}  // namespace fat12
