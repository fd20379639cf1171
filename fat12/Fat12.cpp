#include "fat12/Fat12.h"

#include <cstdio>
#include <cstring>

#include "fat12/Entries.h"
#include "output/NameText.h"

namespace fat12 {

using filesystem::Entry;
using filesystem::EntryKind;
using filesystem::Faults;
using filesystem::Sector;

namespace {

// Parameter block fields.
constexpr int kBytesPerSector = 11;
constexpr int kSectorsPerCluster = 13;
constexpr int kReservedSectors = 14;
constexpr int kFatCount = 16;
constexpr int kRootEntries = 17;
constexpr int kTotalSectors16 = 19;
constexpr int kMedia = 21;
constexpr int kSectorsPerFat = 22;
constexpr int kTotalSectors32 = 32;

// Disks of early PC-98 MS-DOS carry no parameter block; their layout
// follows from the geometry, confirmed by the media descriptor at the head
// of the FAT.  The one known here: 2HD, 77x2x8 sectors of 1024 bytes, one
// reserved sector, two FATs of two sectors, 192 root entries, one sector a
// cluster, media 0xFE.
struct KnownLayout {
  const char* name;
  filesystem::Geometry geometry;
  Layout layout;
};
const KnownLayout kKnownLayouts[] = {
    {"PC-98 2HD", {77, 2, 8, 1024}, {false, 1024, 1, 1, 2, 192, 1232, 0xFE, 2}},
};

std::uint32_t Le32(const std::uint8_t* p) { return Le16(p) | Le16(p + 2) << 16; }

// Fills the derived fields; false with the reason when the counts do not
// fit a FAT12 disk of sectorCount sectors.
bool Derive(Layout& l, std::uint32_t sectorCount, filesystem::Reason& reason) {
  const auto fail = [&reason](const char* why) {
    std::snprintf(reason.text, sizeof reason.text, "%s", why);
    return false;
  };
  const std::uint32_t spc = l.sectorsPerCluster;
  if (spc == 0 || spc > 128 || (spc & (spc - 1)) != 0) return fail("sectors per cluster");
  if (l.reservedSectors == 0) return fail("no reserved sector");
  if (l.fatCount == 0 || l.fatCount > 4) return fail("FAT count");
  if (l.sectorsPerFat == 0) return fail("no FAT sectors");
  if (l.rootEntries == 0) return fail("no root entries");
  if (l.totalSectors == 0 || l.totalSectors > sectorCount) {
    return fail("total sectors beyond the disk");
  }
  l.rootStart = l.reservedSectors + l.fatCount * l.sectorsPerFat;
  l.rootSectors = (l.rootEntries * kDirectoryEntryBytes + l.bytesPerSector - 1) / l.bytesPerSector;
  l.dataStart = l.rootStart + l.rootSectors;
  if (l.dataStart >= l.totalSectors) return fail("no data area");
  l.clusterCount = (l.totalSectors - l.dataStart) / spc;
  if (l.clusterCount == 0 || l.clusterCount > kMaxClusters) return fail("cluster count");
  if (l.sectorsPerFat * l.bytesPerSector * 2 / 3 < l.clusterCount + 2) {
    return fail("FAT too small for the clusters");
  }
  if (l.media != 0xF0 && l.media < 0xF8) return fail("media descriptor");
  return true;
}

// Returns the first intact copy of table sector s, or an empty sector.
Sector TableSector(const filesystem::SectorSource& source, const Layout& l, std::uint32_t s) {
  for (std::uint32_t copy = 0; copy < l.fatCount; ++copy) {
    const Sector sector = source.At(l.reservedSectors + copy * l.sectorsPerFat + s);
    if (sector.Intact()) return sector;
  }
  return Sector{};
}

// Writes the 8.3 name of a short entry ("NAME.EXT", the case bits applied to
// ASCII letters, never to a trail byte) into out; returns its length.
std::size_t ShortName(const std::uint8_t* raw, std::uint8_t* out) {
  std::size_t length = 0;
  const auto field = [&](int from, int size, bool lower) {
    int end = from + size;
    while (end > from && raw[end - 1] == ' ') --end;
    for (int i = from; i < end; ++i) {
      std::uint8_t b = raw[i];
      if (i == 0 && b == kStandsForE5) b = kDeleted;
      if (IsLeadByte(b) && i + 1 < end) {
        out[length++] = b;
        out[length++] = raw[++i];
        continue;
      }
      if (lower && b >= 'A' && b <= 'Z') b = static_cast<std::uint8_t>(b - 'A' + 'a');
      out[length++] = b;
    }
    return end > from;
  };
  field(0, 8, (raw[kCaseBits] & kLowerName) != 0);
  const std::size_t base = length;
  out[length++] = '.';
  if (!field(8, 3, (raw[kCaseBits] & kLowerExtension) != 0)) length = base;
  return length;
}

// True when text (length bytes) can be one component of a path.
bool PathComponent(const std::uint8_t* text, std::size_t length) {
  if (length == 0) return false;
  if (length == 1 && text[0] == '.') return false;
  if (length == 2 && text[0] == '.' && text[1] == '.') return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] == '/' || text[i] == '\0') return false;
  }
  return true;
}

// Appends the UTF-8 of code to out at *length.
void PutUtf8(std::uint32_t code, char* out, std::size_t* length) {
  const auto put = [&](std::uint32_t b) { out[(*length)++] = static_cast<char>(b); };
  if (code < 0x80) {
    put(code);
  } else if (code < 0x800) {
    put(0xC0 | code >> 6);
    put(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    put(0xE0 | code >> 12);
    put(0x80 | (code >> 6 & 0x3F));
    put(0x80 | (code & 0x3F));
  } else {
    put(0xF0 | code >> 18);
    put(0x80 | (code >> 12 & 0x3F));
    put(0x80 | (code >> 6 & 0x3F));
    put(0x80 | (code & 0x3F));
  }
}

// Writes the UTF-8 of count UTF-16 units into out (room for 3 bytes a unit
// and a NUL); false on a lone surrogate.
bool DecodeUtf16(const std::uint16_t* units, int count, char* out, std::size_t* length) {
  *length = 0;
  for (int i = 0; i < count; ++i) {
    std::uint32_t code = units[i];
    if (code >= 0xDC00 && code <= 0xDFFF) return false;
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (i + 1 >= count || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return false;
      code = 0x10000 + ((code - 0xD800) << 10) + (units[++i] - 0xDC00u);
    }
    PutUtf8(code, out, length);
  }
  out[*length] = '\0';
  return true;
}

}  // namespace

// The long name gathered from the parts before a short entry.
struct Fat12Reader::LongName {
  std::uint16_t units[kMaxLongParts * 13] = {};
  int parts = 0;        // 0: none under way
  int nextOrdinal = 0;  // the part expected next; 0 once part 1 is in
  std::uint8_t checksum = 0;

  void Reset() { parts = 0; }

  void Take(const std::uint8_t* raw) {
    const int ordinal = raw[0] & 0x3F;
    if ((raw[0] & kLastLongPart) != 0) {
      parts = ordinal >= 1 && ordinal <= kMaxLongParts ? ordinal : 0;
      nextOrdinal = ordinal;
      checksum = raw[kLongChecksum];
    } else if (parts == 0 || ordinal != nextOrdinal || raw[kLongChecksum] != checksum) {
      parts = 0;
      return;
    }
    if (parts == 0) return;
    for (int i = 0; i < 13; ++i) {
      units[(ordinal - 1) * 13 + i] = static_cast<std::uint16_t>(Le16(raw + kLongUnitOffsets[i]));
    }
    --nextOrdinal;
  }

  // The units of the name when it belongs to the short entry raw, else 0.
  int UnitsFor(const std::uint8_t* raw) const {
    if (parts == 0 || nextOrdinal != 0 || ShortNameChecksum(raw) != checksum) return 0;
    int count = 0;
    while (count < parts * 13 && units[count] != 0) ++count;
    return count;
  }
};

bool Fat12Reader::Recognise(const filesystem::SectorSource& source, filesystem::Reason& reason) {
  const filesystem::Geometry shape = source.Shape();
  const std::uint32_t sectorCount = shape.SectorCount();
  reason = {};
  if (sectorCount == 0 || sectorCount > filesystem::kMaxSectors || shape.sectorBytes < 128) {
    std::snprintf(reason.text, sizeof reason.text, "no disk of a FAT12 size");
    return false;
  }
  // The parameter block, when it agrees with the geometry.
  const Sector boot = source.At(0);
  if (boot.Intact()) {
    const std::uint8_t* b = boot.bytes;
    Layout l;
    l.hasParameterBlock = true;
    l.bytesPerSector = Le16(b + kBytesPerSector);
    l.sectorsPerCluster = b[kSectorsPerCluster];
    l.reservedSectors = Le16(b + kReservedSectors);
    l.fatCount = b[kFatCount];
    l.rootEntries = Le16(b + kRootEntries);
    l.totalSectors = Le16(b + kTotalSectors16);
    if (l.totalSectors == 0) l.totalSectors = Le32(b + kTotalSectors32);
    l.media = b[kMedia];
    l.sectorsPerFat = Le16(b + kSectorsPerFat);
    filesystem::Reason why;
    if (l.bytesPerSector != shape.sectorBytes) {
      std::snprintf(why.text, sizeof why.text, "parameter block: %u bytes a sector, the disk %u",
                    l.bytesPerSector, shape.sectorBytes);
    } else if (Derive(l, sectorCount, why)) {
      const Sector first = TableSector(source, l, 0);
      if (first.bytes == nullptr || first.bytes[0] == l.media) {
        layout_ = l;
        std::snprintf(reason.text, sizeof reason.text,
                      "parameter block: %u bytes a sector, %u a cluster, %u FATs of %u, "
                      "%u root entries, media 0x%02X%s",
                      l.bytesPerSector, l.sectorsPerCluster, l.fatCount, l.sectorsPerFat,
                      l.rootEntries, l.media, first.bytes == nullptr ? " (FAT unreadable)" : "");
        return true;
      }
      std::snprintf(why.text, sizeof why.text, "FAT begins 0x%02X, media 0x%02X", first.bytes[0],
                    l.media);
    } else {
      char detail[filesystem::kReasonBytes] = {};
      std::snprintf(detail, sizeof detail, "%s", why.text);
      constexpr char kLead[] = "parameter block: ";
      // The detail is cut to what fits after the lead.
      std::snprintf(why.text, sizeof why.text, "%s%.*s", kLead,
                    static_cast<int>(sizeof why.text - sizeof kLead), detail);
    }
    reason = why;
  } else {
    std::snprintf(reason.text, sizeof reason.text, "boot sector unreadable");
  }
  // A layout known without a parameter block.
  for (const KnownLayout& known : kKnownLayouts) {
    const filesystem::Geometry& g = known.geometry;
    if (shape.heads != g.heads || shape.sectorsPerTrack != g.sectorsPerTrack ||
        shape.sectorBytes != g.sectorBytes || sectorCount < known.layout.totalSectors) {
      continue;
    }
    Layout l = known.layout;
    filesystem::Reason ignored;
    if (!Derive(l, sectorCount, ignored)) continue;
    const Sector first = TableSector(source, l, 0);
    if (first.bytes == nullptr || first.bytes[0] != l.media || first.bytes[1] != 0xFF ||
        first.bytes[2] != 0xFF) {
      continue;
    }
    layout_ = l;
    std::snprintf(reason.text, sizeof reason.text,
                  "no parameter block; FAT media 0x%02X of the %s layout", l.media, known.name);
    return true;
  }
  return false;
}

// Each table sector comes from the first copy whose sector is intact; a
// sector unreadable in every copy leaves its bytes unknown.
void Fat12Reader::LoadTable() {
  const Layout& l = layout_;
  std::memset(table_, 0, sizeof table_);
  std::memset(tableKnown_, 0, sizeof tableKnown_);
  for (std::uint32_t s = 0; s < l.sectorsPerFat; ++s) {
    const std::uint64_t from = static_cast<std::uint64_t>(s) * l.bytesPerSector;
    Sector chosen;
    for (std::uint32_t copy = 0; copy < l.fatCount; ++copy) {
      const Sector sector = source_->At(l.reservedSectors + copy * l.sectorsPerFat + s);
      if (!sector.Intact()) continue;
      if (chosen.bytes == nullptr) {
        chosen = sector;
      } else if (std::memcmp(chosen.bytes, sector.bytes, l.bytesPerSector) != 0) {
        diskFaults_ |= filesystem::kTableCopiesDiffer;
      }
    }
    if (chosen.bytes == nullptr || from >= kTableBytes) continue;
    const std::size_t take = static_cast<std::size_t>(
        l.bytesPerSector < kTableBytes - from ? l.bytesPerSector : kTableBytes - from);
    std::memcpy(table_ + from, chosen.bytes, take);
    std::memset(tableKnown_ + from, 1, take);
  }
}

// An entry straddling two sectors is known only when both are.
bool Fat12Reader::TableKnown(std::uint32_t entry) const {
  const std::uint32_t at = entry * 3 / 2;
  return at + 1 < kTableBytes && tableKnown_[at] != 0 && tableKnown_[at + 1] != 0;
}

std::uint32_t Fat12Reader::TableEntry(std::uint32_t entry) const {
  const std::uint32_t word = Le16(table_ + entry * 3 / 2);
  return (entry & 1) != 0 ? word >> 4 : word & 0xFFF;
}

// Walks the chain from cluster `first`: visit(cluster) for each cluster in
// order, up to limit clusters (a file), or up to the end mark when limit is
// 0 (a directory); visit returns false to stop.  Returns the chain's
// faults.  Invariants: every cluster visited lies in 2..clusterCount+1;
// none is visited twice in one walk (its stamp is the walk's), so a walk
// takes at most clusterCount steps.  The last cluster a file needs must
// link on or end the chain: free, reserved or bad there is damage too.
template <typename Visit>
Faults Fat12Reader::Walk(std::uint32_t first, std::uint64_t limit, Visit&& visit) const {
  const std::uint32_t lastCluster = layout_.clusterCount + 1;
  const std::uint32_t walk = ++walk_;
  const auto fault = [lastCluster](std::uint32_t value) -> Faults {
    if (value == 0) return filesystem::kRunsIntoFree;
    if (value == 1 || (value >= kFirstReservedValue && value < kBadCluster)) {
      return filesystem::kRunsIntoReserved;
    }
    if (value == kBadCluster) return filesystem::kRunsIntoBad;
    if (value > lastCluster && value < kFirstReservedValue) return filesystem::kLeavesDataArea;
    return 0;
  };
  if (first == 0) return limit == 0 ? 0 : filesystem::kChainShort;
  std::uint32_t cluster = first;
  for (std::uint64_t count = 1;; ++count) {
    if (cluster >= kFirstEndValue) return filesystem::kChainShort;
    if (const Faults f = fault(cluster)) return f;
    if (stamp_[cluster] == walk) return filesystem::kChainLoops;
    stamp_[cluster] = walk;
    if (!visit(cluster)) return 0;
    if (!TableKnown(cluster)) return filesystem::kTableUnreadable;
    const std::uint32_t next = TableEntry(cluster);
    if (count == limit) return fault(next);
    if (next >= kFirstEndValue) return limit == 0 ? 0 : filesystem::kChainShort;
    cluster = next;
  }
}

// Walks file `index`'s chain: visit(sector, position) for each logical
// sector its size needs, in order.
template <typename Visit>
Faults Fat12Reader::WalkFile(int index, Visit&& visit) const {
  const Layout& l = layout_;
  const std::uint64_t size = entries_[index].size;
  const std::uint64_t needed = (size + l.bytesPerSector - 1) / l.bytesPerSector;
  if (needed == 0) return 0;
  const std::uint64_t clusters = (needed + l.sectorsPerCluster - 1) / l.sectorsPerCluster;
  std::uint64_t position = 0;
  return Walk(firstCluster_[index], clusters, [&](std::uint32_t cluster) {
    const std::uint32_t start = l.dataStart + (cluster - 2) * l.sectorsPerCluster;
    for (std::uint32_t j = 0; j < l.sectorsPerCluster && position < needed; ++j, ++position) {
      visit(start + j, position);
    }
    return true;
  });
}

// A file is intact when its chain is sound, it shares no cluster and every
// sector its size needs is intact.
void Fat12Reader::CheckFile(int index) {
  Entry& e = entries_[index];
  const Layout& l = layout_;
  const std::uint64_t needed = (std::uint64_t{e.size} + l.bytesPerSector - 1) / l.bytesPerSector;
  const std::uint64_t clusters = (needed + l.sectorsPerCluster - 1) / l.sectorsPerCluster;
  if (needed == 0) return;
  e.faults |= Walk(firstCluster_[index], clusters, [&](std::uint32_t cluster) {
    std::int16_t& owner = owner_[cluster];
    if (owner < 0) {
      owner = static_cast<std::int16_t>(index);
    } else if (owner != index) {
      entries_[owner].faults |= filesystem::kCrossLinked;
      e.faults |= filesystem::kCrossLinked;
    }
    return true;
  });
  WalkFile(index, [&](std::uint32_t sector, std::uint64_t) {
    if (source_->At(sector).Intact()) return;
    if (e.damagedSectors++ == 0) e.firstDamagedSector = sector;
    e.faults |= filesystem::kSectorDamaged;
  });
}

void Fat12Reader::Read(const filesystem::SectorSource& source) {
  source_ = &source;
  entryCount_ = 0;
  poolUsed_ = 0;
  rootFaults_ = 0;
  diskFaults_ = 0;
  for (std::int16_t& owner : owner_) owner = -1;
  LoadTable();
  // Breadth first: the listing is the queue of folders still to read, and
  // each folder's entries lie together after all of its parent's.
  ReadDirectory(filesystem::kInRoot);
  for (int i = 0; i < entryCount_; ++i) {
    if (entries_[i].kind == EntryKind::kFolder) ReadDirectory(i);
  }
  for (int i = 0; i < entryCount_; ++i) {
    if (entries_[i].kind == EntryKind::kFile) CheckFile(i);
  }
}

void Fat12Reader::ReadDirectory(int folder) {
  const Layout& l = layout_;
  LongName longName;
  bool ended = false;
  if (folder == filesystem::kInRoot) {
    for (std::uint32_t s = 0; s < l.rootSectors && !ended; ++s) {
      rootFaults_ |= ReadDirectorySector(folder, l.rootStart + s, longName, &ended);
    }
    return;
  }
  Entry& e = entries_[folder];
  if (e.depth + 1 >= filesystem::kMaxDepth) {
    e.faults |= filesystem::kBoundReached;
    return;
  }
  const std::uint32_t first = firstCluster_[folder];
  if (first == 0 || (first <= l.clusterCount + 1 && owner_[first] >= 0 &&
                     entries_[owner_[first]].kind == EntryKind::kFolder)) {
    e.faults |= filesystem::kDirectoryLoop;
    return;
  }
  Faults faults = Walk(first, 0, [&](std::uint32_t cluster) {
    std::int16_t& owner = owner_[cluster];
    if (owner >= 0) {
      entries_[owner].faults |= filesystem::kCrossLinked;
      entries_[folder].faults |= filesystem::kCrossLinked;
      return false;
    }
    owner = static_cast<std::int16_t>(folder);
    const std::uint32_t start = l.dataStart + (cluster - 2) * l.sectorsPerCluster;
    for (std::uint32_t j = 0; j < l.sectorsPerCluster && !ended; ++j) {
      entries_[folder].faults |= ReadDirectorySector(folder, start + j, longName, &ended);
    }
    return !ended;
  });
  entries_[folder].faults |= faults;
}

Faults Fat12Reader::ReadDirectorySector(int folder, std::uint32_t logical, LongName& longName,
                                        bool* ended) {
  const Sector sector = source_->At(logical);
  if (!sector.Intact()) {
    longName.Reset();
    // Named for the folder, as a file's first damaged sector is.
    if (folder >= 0 && entries_[folder].damagedSectors++ == 0)
      entries_[folder].firstDamagedSector = logical;
    return filesystem::kSectorDamaged;
  }
  Faults faults = 0;
  for (std::uint32_t at = 0; at + kDirectoryEntryBytes <= layout_.bytesPerSector;
       at += kDirectoryEntryBytes) {
    const std::uint8_t* raw = sector.bytes + at;
    if (raw[0] == kEndOfDirectory) {
      *ended = true;
      break;
    }
    if (raw[0] == kDeleted) {
      longName.Reset();
      continue;
    }
    if ((raw[kAttributes] & 0x3F) == kLongNamePart) {
      longName.Take(raw);
      continue;
    }
    if ((raw[kAttributes] & kVolumeLabel) != 0) {
      longName.Reset();
      continue;
    }
    const bool dots =
        std::memcmp(raw, ".          ", 11) == 0 || std::memcmp(raw, "..         ", 11) == 0;
    if (!(dots && (raw[kAttributes] & kFolder) != 0)) faults |= AddEntry(folder, raw, longName);
    longName.Reset();
  }
  return faults;
}

const std::uint8_t* Fat12Reader::Keep(const void* bytes, std::size_t length) {
  if (length > sizeof pool_ - poolUsed_) return nullptr;
  std::uint8_t* kept = pool_ + poolUsed_;
  std::memcpy(kept, bytes, length);
  poolUsed_ += length;
  return kept;
}

Faults Fat12Reader::AddEntry(int folder, const std::uint8_t* raw, const LongName& longName) {
  std::uint8_t shortName[12];
  const std::size_t shortLength = ShortName(raw, shortName);
  if (!PathComponent(shortName, shortLength)) return filesystem::kImpossibleName;
  if (entryCount_ >= filesystem::kMaxEntries) return filesystem::kBoundReached;

  // The long name when its parts, checksum and text are sound; else the
  // short name.
  char text[kMaxLongParts * 13 * 3 + 1];
  std::size_t textLength = 0;
  const std::uint8_t* bytes = shortName;
  std::size_t byteCount = shortLength;
  filesystem::NameEncoding encoding = filesystem::NameEncoding::kShiftJis;
  std::uint8_t longBytes[kMaxLongParts * 13 * 2];
  const int units = longName.UnitsFor(raw);
  if (units > 0 && DecodeUtf16(longName.units, units, text, &textLength) &&
      PathComponent(reinterpret_cast<const std::uint8_t*>(text), textLength)) {
    for (int i = 0; i < units; ++i) {
      longBytes[2 * i] = static_cast<std::uint8_t>(longName.units[i]);
      longBytes[2 * i + 1] = static_cast<std::uint8_t>(longName.units[i] >> 8);
    }
    bytes = longBytes;
    byteCount = static_cast<std::size_t>(units) * 2;
    encoding = filesystem::NameEncoding::kUtf16le;
  } else {
    output::DecodeName(reinterpret_cast<const char*>(shortName), shortLength, text, sizeof text);
    textLength = std::strlen(text);
  }

  const int depth = folder == filesystem::kInRoot ? 0 : entries_[folder].depth + 1;
  const std::size_t pathBytes =
      folder == filesystem::kInRoot ? textLength : entries_[folder].pathTextBytes + 1 + textLength;
  if (pathBytes > filesystem::kMaxPathBytes) return filesystem::kBoundReached;
  const std::uint8_t* keptBytes = Keep(bytes, byteCount);
  const std::uint8_t* keptText = Keep(text, textLength + 1);
  if (keptBytes == nullptr || keptText == nullptr) return filesystem::kBoundReached;

  Entry& e = entries_[entryCount_];
  e = Entry{};
  e.kind = (raw[kAttributes] & kFolder) != 0 ? EntryKind::kFolder : EntryKind::kFile;
  e.parent = folder;
  e.depth = depth;
  e.size = e.kind == EntryKind::kFile ? Le32(raw + kSize) : 0;
  e.nameBytes = keptBytes;
  e.nameByteCount = static_cast<std::uint16_t>(byteCount);
  e.encoding = encoding;
  e.nameText = reinterpret_cast<const char*>(keptText);
  e.pathTextBytes = static_cast<std::uint16_t>(pathBytes);
  e.hasAttributes = true;
  e.attributes = raw[kAttributes];
  e.hasTime = true;
  e.dosTime = static_cast<std::uint16_t>(Le16(raw + kTime));
  e.dosDate = static_cast<std::uint16_t>(Le16(raw + kDate));
  if (encoding == filesystem::NameEncoding::kUtf16le) {
    // Kept last, so that a pool too full for it costs only the alias.
    output::DecodeName(reinterpret_cast<const char*>(shortName), shortLength, text, sizeof text);
    e.aliasText = reinterpret_cast<const char*>(Keep(text, std::strlen(text) + 1));
  }
  firstCluster_[entryCount_] = static_cast<std::uint16_t>(Le16(raw + kFirstCluster));
  ++entryCount_;
  return 0;
}

std::uint32_t Fat12Reader::FileSectors(int index, std::uint32_t* out, std::uint32_t capacity,
                                       std::uint32_t* lastSectorBytes) const {
  std::uint32_t count = 0;
  const auto add = [&](std::uint32_t sector) {
    if (count < capacity) out[count] = sector;
    ++count;
  };
  if (entries_[index].kind == filesystem::EntryKind::kFolder) {
    // A folder's directory: every sector of its chain.
    const Layout& l = layout_;
    Walk(firstCluster_[index], 0, [&](std::uint32_t cluster) {
      for (std::uint32_t j = 0; j < l.sectorsPerCluster; ++j)
        add(l.dataStart + (cluster - 2) * l.sectorsPerCluster + j);
      return true;
    });
    *lastSectorBytes = count > 0 ? l.bytesPerSector : 0;
    return count;
  }
  WalkFile(index, [&](std::uint32_t sector, std::uint64_t) { add(sector); });
  const std::uint32_t bytes = layout_.bytesPerSector;
  const std::uint64_t size = entries_[index].size;
  *lastSectorBytes = 0;
  if (count > 0) {
    const std::uint64_t before = std::uint64_t{count - 1} * bytes;
    *lastSectorBytes = static_cast<std::uint32_t>(size - before < bytes ? size - before : bytes);
  }
  return count;
}

std::size_t Fat12Reader::ReadFile(int index, std::uint64_t offset, std::uint8_t* out,
                                  std::size_t length) const {
  const std::uint64_t size = entries_[index].size;
  const std::uint64_t bytes = layout_.bytesPerSector;
  if (offset >= size) return 0;
  const std::uint64_t end = offset + (length < size - offset ? length : size - offset);
  std::uint64_t reached = offset;  // bytes before it are copied or skipped
  WalkFile(index, [&](std::uint32_t sector, std::uint64_t position) {
    const std::uint64_t from = position * bytes;
    const std::uint64_t to = from + bytes < end ? from + bytes : end;
    if (to <= offset || from >= end) return;
    const std::uint64_t start = from > offset ? from : offset;
    const Sector s = source_->At(sector);
    std::uint8_t* dest = out + (start - offset);
    const std::size_t n = static_cast<std::size_t>(to - start);
    if (s.bytes != nullptr) {
      std::memcpy(dest, s.bytes + (start - from), n);
    } else {
      std::memset(dest, 0, n);
    }
    reached = to;
  });
  return offset < reached ? static_cast<std::size_t>(reached - offset) : 0;
}

}  // namespace fat12
