// FAT12 floppy disks of the project's own making, for tests and samples:
//
//   sector 0          boot sector: jump, maker's name, then from +11 the
//                       BIOS parameter block (+38 0x29, +39 volume id,
//                       +43 label, +54 "FAT12   "), 0x55AA at +510
//   sector 1          two copies of the FAT, back to back; then the root
//                       directory; then the data area, cluster 2 onwards
//
// Files take clusters lowest free first, all of a file's at once; a
// folder's directory takes one cluster and grows a cluster at a time.  The
// raw bytes stay open so a test can break what it likes afterwards.
#ifndef D88EXTRACT_TESTING_FATBUILDER_H
#define D88EXTRACT_TESTING_FATBUILDER_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "testing/D88Builder.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

namespace d88test {

// A floppy disk's geometry and the DOS parameters that go with it; one
// reserved sector and two FAT copies on every one of them.
struct FatFormat {
  int cylinders, heads, sectorsPerTrack, sectorBytes;
  int sectorsPerCluster, fatSectors, rootEntries;
  std::uint8_t media;     // the FAT's media descriptor
  std::uint8_t d88Media;  // the container's: 0x20 for 2HD families, 0x10 for 2DD

  int Sectors() const { return cylinders * heads * sectorsPerTrack; }
  int RootStart() const { return 1 + 2 * fatSectors; }
  int DataStart() const { return RootStart() + rootEntries * 32 / sectorBytes; }
  int ClusterBytes() const { return sectorsPerCluster * sectorBytes; }
};

inline constexpr FatFormat kFatPc98{77, 2, 8, 1024, 1, 2, 192, 0xFE, 0x20};
inline constexpr FatFormat kFat720K{80, 2, 9, 512, 2, 3, 112, 0xF9, 0x10};
inline constexpr FatFormat kFat640K{80, 2, 8, 512, 2, 2, 112, 0xFB, 0x10};
inline constexpr FatFormat kFat1440K{80, 2, 18, 512, 1, 9, 224, 0xF0, 0x20};
inline constexpr FatFormat kFat1200K{80, 2, 15, 512, 1, 7, 224, 0xF9, 0x20};

// True when Debian's mkfs.fat and mcopy, the oracle, are at hand.
inline bool HaveMtools() {
#if defined(_WIN32)
  return false;
#else
  return std::system("command -v mkfs.fat >/dev/null && command -v mcopy >/dev/null") == 0;
#endif
}

// Runs command in the shell; its output (stderr too) into *out.  Returns
// its exit status, -1 where there is no shell to ask.
inline int Shell(const std::string& command, std::string* out) {
  out->clear();
#if defined(_WIN32)
  (void)command;
  return -1;
#else
  std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) out->append(chunk, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

// Makes the raw disk `image` of format with mkfs.fat, then copies `names`
// (shell words) of folder `in` into its root with mcopy -s -m; true when
// both succeeded.
inline bool MakeMtoolsDisk(const FatFormat& f, const std::string& in, const std::string& names,
                           const std::string& image) {
  const std::string mkfs =
      "rm -f " + image + " && mkfs.fat -C -F 12 " + image + " -S " + std::to_string(f.sectorBytes) +
      " -s " + std::to_string(f.sectorsPerCluster) + " -f 2 -r " + std::to_string(f.rootEntries) +
      " -R 1 -g " + std::to_string(f.heads) + "/" + std::to_string(f.sectorsPerTrack) + " -M " +
      std::to_string(f.media) + " " + std::to_string(f.Sectors() * f.sectorBytes / 1024) +
      " >/dev/null";
  return std::system((mkfs + " && cd " + in + " && MTOOLS_SKIP_CHECK=1 mcopy -s -m -i " + image +
                      " " + names + " ::")
                         .c_str()) == 0;
}

// The raw disk wrapped in a D88 image of format's geometry.
inline Image WrapFat(const Bytes& raw, const FatFormat& f) {
  int n = 0;
  while ((128 << n) < f.sectorBytes) ++n;
  return WrapRawImage(raw, f.cylinders, f.heads, f.sectorsPerTrack, n, f.d88Media);
}

inline std::uint16_t DosDate(int year, int month, int day) {
  return static_cast<std::uint16_t>((year - 1980) << 9 | month << 5 | day);
}
inline std::uint16_t DosTime(int hour, int minute, int second) {
  return static_cast<std::uint16_t>(hour << 11 | minute << 5 | second / 2);
}

// The checksum a long name carries of its short entry's 11 name bytes.
inline std::uint8_t ShortNameChecksum(const std::uint8_t* name) {
  std::uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = static_cast<std::uint8_t>((sum & 1) << 7 | sum >> 1) + name[i];
  return sum;
}

class FatBuilder {
 public:
  static constexpr int kRoot = 0;  // the root's folder handle, as `..` names it
  // Where an entry landed: its short entry's offset in raw and its first
  // cluster (0 for an empty file), which is a folder's handle.
  struct Placed {
    std::size_t entry;
    int cluster;
  };

  explicit FatBuilder(const FatFormat& format, const std::string& label = "NO NAME")
      : f(format), raw(static_cast<std::size_t>(f.Sectors() * f.sectorBytes), 0) {
    const std::string maker =
        "\xEB\x3C\x90"
        "D88TEST ";
    std::copy(maker.begin(), maker.end(), raw.begin());
    PutLE(raw, 11, static_cast<std::uint32_t>(f.sectorBytes), 2);
    raw[13] = static_cast<std::uint8_t>(f.sectorsPerCluster);
    PutLE(raw, 14, 1, 2);
    raw[16] = 2;
    PutLE(raw, 17, static_cast<std::uint32_t>(f.rootEntries), 2);
    PutLE(raw, 19, static_cast<std::uint32_t>(f.Sectors()), 2);
    raw[21] = f.media;
    PutLE(raw, 22, static_cast<std::uint32_t>(f.fatSectors), 2);
    PutLE(raw, 24, static_cast<std::uint32_t>(f.sectorsPerTrack), 2);
    PutLE(raw, 26, static_cast<std::uint32_t>(f.heads), 2);
    raw[38] = 0x29;
    PutLE(raw, 39, 0x19980724);
    const std::string fields = (label + std::string(11, ' ')).substr(0, 11) + "FAT12   ";
    std::copy(fields.begin(), fields.end(), raw.begin() + 43);
    raw[510] = 0x55;
    raw[511] = 0xAA;
    SetFat(0, 0xF00u | f.media);
    SetFat(1, 0xFFF);
    if (label != "NO NAME") Put(Slot(kRoot), ShortName(label, false), 0x08, 0, 0);
  }

  // Sets FAT entry n in both copies.
  void SetFat(int n, std::uint32_t value) {
    for (int copy = 0; copy < 2; ++copy) {
      const std::size_t at =
          static_cast<std::size_t>((1 + copy * f.fatSectors) * f.sectorBytes + n * 3 / 2);
      const std::uint32_t word = (raw[at] | raw[at + 1] << 8) & (n & 1 ? 0x000Fu : 0xF000u);
      PutLE(raw, at, word | (n & 1 ? value << 4 : value & 0xFFF), 2);
    }
  }
  std::uint32_t Fat(int n) const {
    const std::size_t at = static_cast<std::size_t>(f.sectorBytes + n * 3 / 2);
    const std::uint32_t word = raw[at] | raw[at + 1] << 8;
    return n & 1 ? word >> 4 : word & 0xFFF;
  }
  std::size_t ClusterOffset(int cluster) const {
    return static_cast<std::size_t>((f.DataStart() + (cluster - 2) * f.sectorsPerCluster) *
                                    f.sectorBytes);
  }

  // Adds a file to a folder; shortName is "NAME.EXT" in Shift_JIS bytes;
  // a long name, when given, goes before it.
  Placed AddFile(int folder, const std::string& shortName, const Bytes& data,
                 const std::u16string& longName = u"") {
    const std::size_t entry = LongNameThenSlot(folder, shortName, longName);
    int first = 0;
    for (std::size_t done = 0, previous = 0; done < data.size(); done += f.ClusterBytes()) {
      const int cluster = Allocate(static_cast<int>(previous));
      const std::size_t length = std::min(data.size() - done, std::size_t(f.ClusterBytes()));
      std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(done), length,
                  raw.begin() + static_cast<std::ptrdiff_t>(ClusterOffset(cluster)));
      previous = static_cast<std::size_t>(cluster);
      if (first == 0) first = cluster;
    }
    Put(entry, ShortName(shortName), 0x20, first, static_cast<std::uint32_t>(data.size()));
    return {entry, first};
  }

  // Adds a folder with its `.` and `..`.
  Placed AddFolder(int folder, const std::string& shortName, const std::u16string& longName = u"") {
    const std::size_t entry = LongNameThenSlot(folder, shortName, longName);
    const int cluster = Allocate(0);
    Put(entry, ShortName(shortName), 0x10, cluster, 0);
    folders_[cluster] = {cluster};
    Put(Slot(cluster), ShortName(".", false), 0x10, cluster, 0);
    Put(Slot(cluster), ShortName("..", false), 0x10, folder, 0);
    return {entry, cluster};
  }

  // Returns the disk in a D88 image of its geometry.
  Image Build(const std::string& name = "D88EXTRACT FAT12") const {
    int sizeCode = 0;
    while (128 << sizeCode < f.sectorBytes) ++sizeCode;
    return TrackImage(raw, name, f.d88Media, f.cylinders * f.heads, f.heads, f.sectorsPerTrack,
                      sizeCode);
  }

  const FatFormat f;
  Bytes raw;                                  // every sector, in logical order
  std::uint16_t date = DosDate(1998, 7, 24);  // stamped on entries added from now on
  std::uint16_t time = DosTime(12, 34, 56);

 private:
  // 11 bytes, name and extension padded with spaces; 0xE5 first stored as
  // 0x05, as 0xE5 marks a deleted entry.
  static std::string ShortName(const std::string& name, bool split = true) {
    const std::size_t dot = split ? name.rfind('.') : std::string::npos;
    std::string out =
        dot == std::string::npos
            ? name
            : (name.substr(0, dot) + std::string(8, ' ')).substr(0, 8) + name.substr(dot + 1);
    out = (out + std::string(11, ' ')).substr(0, 11);
    if (split && out[0] == '\xE5') out[0] = '\x05';
    return out;
  }

  // Returns the offset of the folder's next free slot, growing it when full.
  std::size_t Slot(int folder) {
    int& used = used_[folder];
    if (folder == kRoot) {
      if (used == f.rootEntries) throw std::length_error("root directory full");
      return static_cast<std::size_t>(f.RootStart() * f.sectorBytes + 32 * used++);
    }
    std::vector<int>& clusters = folders_.at(folder);
    const int perCluster = f.ClusterBytes() / 32;
    if (used == static_cast<int>(clusters.size()) * perCluster)
      clusters.push_back(Allocate(clusters.back()));
    const int slot = used++;
    return ClusterOffset(clusters[static_cast<std::size_t>(slot / perCluster)]) +
           static_cast<std::size_t>(32 * (slot % perCluster));
  }

  // Takes the lowest free cluster as the end of a chain, after previous (0: none).
  int Allocate(int previous) {
    const int last = (f.Sectors() - f.DataStart()) / f.sectorsPerCluster + 1;
    for (int cluster = 2; cluster <= last; ++cluster) {
      if (Fat(cluster) != 0) continue;
      SetFat(cluster, 0xFFF);
      if (previous != 0) SetFat(previous, static_cast<std::uint32_t>(cluster));
      return cluster;
    }
    throw std::length_error("disk full");
  }

  // Writes the long name's parts, last first, then returns the slot for
  // the short entry they belong to.
  std::size_t LongNameThenSlot(int folder, const std::string& shortName,
                               const std::u16string& longName) {
    static const int kUnitAt[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    const std::string stored = ShortName(shortName);
    const auto checksum = ShortNameChecksum(reinterpret_cast<const std::uint8_t*>(stored.data()));
    const int parts = static_cast<int>(longName.size() + 12) / 13;
    for (int part = parts; part >= 1; --part) {
      const std::size_t at = Slot(folder);
      raw[at] = static_cast<std::uint8_t>(part | (part == parts ? 0x40 : 0));
      raw[at + 11] = 0x0F;
      raw[at + 13] = checksum;
      for (std::size_t i = 0; i < 13; ++i) {
        const std::size_t k = static_cast<std::size_t>(part - 1) * 13 + i;
        PutLE(raw, at + kUnitAt[i],
              k < longName.size()    ? longName[k]
              : k == longName.size() ? 0
                                     : 0xFFFF,
              2);
      }
    }
    return Slot(folder);
  }

  void Put(std::size_t at, const std::string& name11, std::uint8_t attributes, int cluster,
           std::uint32_t size) {
    std::copy(name11.begin(), name11.end(), raw.begin() + static_cast<std::ptrdiff_t>(at));
    raw[at + 11] = attributes;
    PutLE(raw, at + 22, time, 2);
    PutLE(raw, at + 24, date, 2);
    PutLE(raw, at + 26, static_cast<std::uint32_t>(cluster), 2);
    PutLE(raw, at + 28, size);
  }

  std::map<int, std::vector<int>> folders_;  // each folder's directory clusters
  std::map<int, int> used_;                  // slots taken, by folder
};

// The tree the oracle disks hold, as mcopy copies it in from a folder.
inline const std::pair<std::string, Bytes> kOracleTree[] = {
    {"lower.txt", Text("lower case\n")},
    {"UPPER.TXT", Text("upper case\n")},
    {"A long file name.text", PatternBytes(3000, 1)},
    {"EMPTY.DAT", {}},
    {"Sub/MiXed.Txt", PatternBytes(1025, 2)},
    {"Sub/Deeper/big file.bin", PatternBytes(50 * 1024, 3)},
};
inline const Bytes kKanaBytes = Text("\x93\xfa\x96\x7b\x8c\xea\r\n");

// The same tree laid by the builder, with a kana short name (Sub/\xB6\xC5.TXT)
// mcopy cannot make.
inline Bytes BuildOracleTree(const FatFormat& format) {
  FatBuilder fat(format);
  const int root = FatBuilder::kRoot;
  fat.AddFile(root, "LOWER.TXT", kOracleTree[0].second, u"lower.txt");
  fat.AddFile(root, "UPPER.TXT", kOracleTree[1].second);
  fat.AddFile(root, "ALONGF~1.TEX", kOracleTree[2].second, u"A long file name.text");
  fat.AddFile(root, "EMPTY.DAT", {});
  const int sub = fat.AddFolder(root, "SUB", u"Sub").cluster;
  fat.AddFile(sub, "MIXED.TXT", kOracleTree[4].second, u"MiXed.Txt");
  fat.AddFile(sub, "\xB6\xC5.TXT", kKanaBytes);
  const int deeper = fat.AddFolder(sub, "DEEPER", u"Deeper").cluster;
  fat.AddFile(deeper, "BIGFIL~1.BIN", kOracleTree[5].second, u"big file.bin");
  return fat.raw;
}

}  // namespace d88test

#endif
