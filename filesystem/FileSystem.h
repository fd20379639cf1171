// One interface for every file system d88 reads: a file system recognises
// itself from a disk's logical sectors, lists its folders and files, tells
// which sectors each file covers and whether it is intact, and reads a
// file's bytes.  The survey supplies the sectors (SectorSource); each file
// system lives in its own folder and implements FileSystem.
//
// Nothing here allocates or throws: a file system keeps its listing in
// fixed storage inside its object, within the bounds below, and says so
// when a disk needs more.
#ifndef D88EXTRACT_FILESYSTEM_FILESYSTEM_H
#define D88EXTRACT_FILESYSTEM_FILESYSTEM_H

#include <cstddef>
#include <cstdint>

namespace filesystem {

// Bounds of one listing.  The largest disk has 164 tracks of 26 sectors.
constexpr std::uint32_t kMaxSectors = 164 * 26;
constexpr int kMaxEntries = 2048;               // files and folders of one disk
constexpr int kMaxDepth = 32;                   // folders from the root to a file
constexpr std::size_t kMaxPathBytes = 1024;     // a path's UTF-8 text, without its NUL
constexpr std::size_t kNamePoolBytes = 393216;  // name bytes and text of all entries
constexpr std::size_t kReasonBytes = 160;

// Why a sector gave no good bytes; the survey names each its own way.
enum class SectorFault : std::uint8_t {
  kNone,       // read well
  kMissing,    // not on the disk
  kCut,        // its record runs past the end of the container
  kShort,      // fewer bytes recorded than the sector holds
  kBadStatus,  // the dump recorded a read error
  kConflict,   // recorded more than once, with different data
};

struct Sector {
  const std::uint8_t* bytes = nullptr;  // SectorBytes() of them, or null when none were read
  SectorFault fault = SectorFault::kMissing;

  bool Intact() const { return bytes != nullptr && fault == SectorFault::kNone; }
};

struct Geometry {
  std::uint32_t cylinders = 0;
  std::uint32_t heads = 0;
  std::uint32_t sectorsPerTrack = 0;
  std::uint32_t sectorBytes = 0;

  std::uint32_t SectorCount() const { return cylinders * heads * sectorsPerTrack; }
};

// A disk's logical sectors 0..SectorCount()-1 in track order (cylinder,
// head, sector), all of one size.
class SectorSource {
 public:
  virtual Geometry Shape() const = 0;
  virtual Sector At(std::uint32_t logical) const = 0;  // logical below Shape().SectorCount()

 protected:
  ~SectorSource() = default;
};

// What is wrong with a file, a folder's directory or the disk; several at
// once, as bits.
using Faults = std::uint32_t;
constexpr Faults kSectorDamaged = 1u << 0;       // a sector it needs is not intact
constexpr Faults kChainShort = 1u << 1;          // the chain ends before the size is reached
constexpr Faults kChainLoops = 1u << 2;          // the chain comes back to a cluster of its own
constexpr Faults kLeavesDataArea = 1u << 3;      // the chain points past the last cluster
constexpr Faults kRunsIntoFree = 1u << 4;        // the chain points at a free cluster
constexpr Faults kRunsIntoReserved = 1u << 5;    // ... at a reserved cluster
constexpr Faults kRunsIntoBad = 1u << 6;         // ... at a cluster marked bad
constexpr Faults kCrossLinked = 1u << 7;         // shares clusters with another file or folder
constexpr Faults kTableUnreadable = 1u << 8;     // the chain crosses an allocation-table sector
                                                 // unreadable in every copy
constexpr Faults kDirectoryLoop = 1u << 9;       // a folder whose directory is one read before
constexpr Faults kImpossibleName = 1u << 10;     // a directory entry whose name cannot be a path
constexpr Faults kBoundReached = 1u << 11;       // entries, depth or path past the bounds above
constexpr Faults kTableCopiesDiffer = 1u << 12;  // disk: intact copies of a table sector differ
constexpr int kFaultKinds = 13;

// Returns the name of fault bit i (0 <= i < kFaultKinds) in words.
const char* FaultName(int i);

// Writes the names of faults, joined by ", ", into out (NUL-terminated, cut
// short rather than overrun); returns out.
const char* DescribeFaults(Faults faults, char* out, std::size_t outSize);

enum class EntryKind : std::uint8_t { kFile, kFolder };
enum class NameEncoding : std::uint8_t { kShiftJis, kUtf16le };

constexpr int kInRoot = -1;

struct Entry {
  EntryKind kind = EntryKind::kFile;
  int parent = kInRoot;  // index of the folder holding it
  int depth = 0;         // 0 in the root
  std::uint32_t size = 0;
  // The name as the disk holds it (Shift_JIS for short names, UTF-16LE for
  // long ones) and its UTF-8 text, both within the file system's storage.
  const std::uint8_t* nameBytes = nullptr;
  std::uint16_t nameByteCount = 0;
  NameEncoding encoding = NameEncoding::kShiftJis;
  const char* nameText = nullptr;  // NUL-terminated
  // The UTF-8 text of the 8.3 name DOS also knows the entry by, when its
  // name is a long one; null otherwise.
  const char* aliasText = nullptr;
  std::uint16_t pathTextBytes = 0;  // length of Path()'s text
  bool hasAttributes = false;
  std::uint8_t attributes = 0;
  bool hasTime = false;
  std::uint16_t dosDate = 0;  // modification date and time as DOS packs them
  std::uint16_t dosTime = 0;
  // A file: what keeps it from being intact.  A folder: what is wrong with
  // its directory (damaged when non-zero).
  Faults faults = 0;
  std::uint32_t damagedSectors = 0;  // needed sectors that are not intact
  std::uint32_t firstDamagedSector = 0;

  bool Intact() const { return faults == 0; }
};

struct Reason {
  char text[kReasonBytes] = {};
};

class FileSystem {
 public:
  FileSystem() = default;
  FileSystem(const FileSystem&) = delete;
  FileSystem& operator=(const FileSystem&) = delete;

  virtual const char* Name() const = 0;

  // True when the disk holds this file system; reason says why or why not.
  // Keeps what it learnt for Read.
  virtual bool Recognise(const SectorSource& source, Reason& reason) = 0;

  // Lists the disk last recognised; source must be the same disk and must
  // outlive the calls below.
  virtual void Read(const SectorSource& source) = 0;

  virtual int EntryCount() const = 0;
  virtual const Entry& EntryAt(int index) const = 0;
  virtual Faults RootFaults() const = 0;  // the root directory's
  virtual Faults DiskFaults() const = 0;  // the disk's, such as kTableCopiesDiffer

  // Writes the logical sectors file `index` covers (a folder: its
  // directory's), in order, into out (up
  // to capacity of them) and the bytes it uses of the last into
  // *lastSectorBytes; returns how many it covers.  Sectors past a broken
  // chain are not counted.
  virtual std::uint32_t FileSectors(int index, std::uint32_t* out, std::uint32_t capacity,
                                    std::uint32_t* lastSectorBytes) const = 0;

  // The sectors from 0 on that the file system keeps for itself (boot
  // sector, tables, root directory); 0 when it keeps none there.
  virtual std::uint32_t OwnSectors() const { return 0; }

  // Copies up to length bytes of file `index` from offset on into out;
  // returns how many.  Bytes of a sector not read are zeros.
  virtual std::size_t ReadFile(int index, std::uint64_t offset, std::uint8_t* out,
                               std::size_t length) const = 0;

  // Writes the whole path of entry `index`, folders joined by '/', into out
  // (NUL-terminated, cut short rather than overrun); returns its length.
  std::size_t Path(int index, char* out, std::size_t outSize) const;

 protected:
  ~FileSystem() = default;
};

}  // namespace filesystem

#endif
