// The survey of a container: plain data about its images, the medium their
// records show, the state of every sector a disk of that medium should
// have, and the files of its directory with the sectors they cover.
//
// It is built from DiskImage alone, in fixed-size storage: nothing grows
// with the input, however the container is made.  It knows nothing of
// terminals, output formats or files written; the views and verbs do.
#ifndef D88EXTRACT_SURVEY_SURVEY_H
#define D88EXTRACT_SURVEY_SURVEY_H

#include <cstdint>

#include "diskimage/DiskImage.h"
#include "geometry/Geometry.h"
#include "tool/Extraction.h"

namespace survey {

// What became of one sector a disk of the medium should have, judged by
// the first record with its ID, the very record the disk load reads.  One
// state a sector: the first that applies, in the order missing or cut,
// short, bad status, copies differ, duplicate, long, deleted mark, intact.
enum class SectorState : std::uint8_t {
  kIntact,       // recorded once, full length, read well
  kMissing,      // no record with its ID before the track's walk ends
  kShort,        // recorded with fewer data bytes than the sector holds
  kLong,         // recorded with more data bytes than the sector holds
  kDuplicate,    // its ID is recorded more than once on the track
  kBadStatus,    // the dumping tool recorded a read error in its status
  kCut,          // its record, or the walk to it, runs past the end of the file
  kDeletedMark,  // read well, with a deleted-data mark
  kConflicting,  // its ID is recorded more than once, and the copies' data differ
};

// The number of states; each is an index below it.
constexpr int kSectorStates = 9;
static_assert(static_cast<int>(SectorState::kConflicting) == kSectorStates - 1,
              "the views index tables by state");

// True for the states that leave a file's bytes wrong: missing, cut, short,
// bad status and copies that differ (which copy is right is unknown).  A
// long, deleted or repeated sector whose copies agree still gives a full
// sector.
bool DamagesData(SectorState state);

// Returns the state's name in words ("missing", "bad status", ...).
const char* SectorStateName(SectorState state);

// Room for the meaning of a status byte, with its terminator.
constexpr int kStatusTextBytes = 24;

// Writes what status byte (header byte 8) means into text: "data CRC
// error", ..., "error status 0xNN" for a code without a name.
void DescribeStatus(std::uint8_t status, char (&text)[kStatusTextBytes]);

// Returns "2DD" or "2HD".
const char* MediumName(const tool::MediaGeometry& medium);

// One image of the container, as its header and a sample of its records
// show it.
struct ImageSummary {
  int index;                            // position in the container, from 0
  char name[diskimage::kNameSize + 1];  // header name bytes, NUL-terminated
  int mediaByte;                        // header byte 27, 0-255
  std::uint32_t size;                   // header size field
  std::int64_t bytesInFile;             // bytes of the image the file holds
  bool sizeFieldBroken;                 // size below a header: taken to run to the end of the file
  int headerBytes;     // the header's length: 0x2B0, less where the first track begins
  bool cutShort;       // the size field reaches past the end of the file
  int tracksRecorded;  // tracks with at least one readable record
  const tool::MediaGeometry* medium;        // the medium in use; null when unknown
  const tool::MediaGeometry* recordMedium;  // what the records show; null when they say nothing
  bool mediumFromRecords;                   // the records overrule a header byte that disagrees
  bool recordsFitNoMedium;      // the records show a geometry of neither medium: medium unknown
  geometry::Geometry geometry;  // what every track's records show
};

// A sector that spoils a file, by its place on the disk.
struct SectorDamage {
  int track;            // track index
  int sector;           // sector number, from 1
  SectorState state;    // missing, cut, short or bad status
  std::uint8_t status;  // the record's status byte; 0 when there is none
};

// The most damaged sectors listed per file; more are only counted.
constexpr int kListedDamage = 8;

// The sectors that spoil some data: how many, and the first of them.
struct DamageList {
  int count;                          // sectors that spoil the data
  SectorDamage first[kListedDamage];  // the first min(count, kListedDamage)

  // Counts slot p (of a disk with spt sectors a track) in state, its
  // record's status byte status.
  void Add(int p, int spt, SectorState state, std::uint8_t status);
};

// One directory entry and what its data is made of.
struct FileSurvey {
  tool::DirectoryEntry entry;  // decoded as the tool decodes it
  tool::DataRange range;       // the bytes of the disk buffer it gets
  DamageList damage;           // covered sectors that spoil its data
  bool cutOff;                 // gets fewer bytes than its size says
  bool beyondDisk;             // covers zeros past the disk's own area
  bool unwritableName;         // extract refuses its name on this system

  // True when the file holds exactly the recorded sectors' bytes.
  bool Intact() const { return damage.count == 0 && !cutOff && !beyondDisk; }
};

// A record whose ID does not belong on the track it is recorded on.
struct StrayRecord {
  int track;           // the track index it is recorded on
  std::uint8_t id[4];  // C, H, R, N as recorded
};

// The most stray records listed per disk; more are only counted.
constexpr int kListedStrays = 32;

// The largest disk surveyed: 164 tracks of up to 26 sectors, and at most
// 164 x 18 x 512 bytes of data (1.44 MB with four spare cylinders).
constexpr int kMostTracks = 164;
constexpr int kMostSectorsPerTrack = 26;
constexpr int kSlots = kMostTracks * kMostSectorsPerTrack;
constexpr std::int32_t kDataBytes = kMostTracks * 18 * 512;
static_assert(kSlots >= tool::kMostDiskSectors && kDataBytes >= tool::kLargestDiskBytes,
              "the flat media load into the same storage");

// The disk as surveyed: rows of sectors 1..sectorsPerTrack, row r being
// track index r on a two-sided disk and 2r on a one-sided one.
struct DiskShape {
  int rows;             // tracks surveyed
  int heads;            // 1 or 2
  int sectorsPerTrack;  // sectors numbered 1 .. sectorsPerTrack
  int sizeCode;         // N of every sector ID
  int sectorBytes;      // 128 << sizeCode

  int TrackIndex(int row) const { return heads == 2 ? row : row * 2; }
};

// Owners of a slot that no file covers.
constexpr std::int16_t kNoOwner = -1;         // nothing reads it
constexpr std::int16_t kDirectoryOwner = -2;  // the directory is read from it

// One disk surveyed in full.  Large (it holds the loaded disk), so keep
// one with static storage.
struct DiskSurvey {
  ImageSummary image;                 // the image surveyed
  int slots;                          // sectors of its geometry; 0 when unknown
  int rowsLoaded;                     // rows whose bytes are in data, from row 0
  DiskShape shape;                    // its geometry, when slots > 0
  SectorState sectors[kSlots];        // state of slot p: row p / spt, sector p % spt + 1
  std::int16_t owner[kSlots];         // first file covering slot p, or kNoOwner, kDirectoryOwner
  DamageList directoryDamage;         // directory sectors that spoil it
  int strayRecords;                   // records not belonging on their track
  StrayRecord strays[kListedStrays];  // the first of them
  int fileCount;                      // directory entries before the end mark
  FileSurvey files[tool::kMaxDirectoryEntries];         // files[0 .. fileCount)
  std::uint8_t directory[tool::kDirectoryBufferBytes];  // the directory as read
  std::uint8_t data[kDataBytes];                        // the disk as loaded, zero where unread
  diskimage::SectorRequest requests[kSlots];            // the load's requests and results
  diskimage::RecordFacts facts[kSlots];                 // the record each slot's data came from
};

// Counts over the disks of a container.
struct Tally {
  int images = 0;              // disks surveyed
  int unknownMedia = 0;        // of them, those whose medium is unknown
  int damagedDirectories = 0;  // of the known ones, those with a damaged directory
  int files = 0;               // files of all known disks
  int intact = 0;              // of them, the intact ones
  int damaged = 0;             // of them, the others
  int cutShort = 0;            // disks the file holds only part of
  int unrecognised = 0;        // disks of a known geometry with no file system recognised
  int unwritable = 0;          // files extract refuses to write under their names

  // Of the container, not its disks: bytes after the last image, which no
  // image holds, and whether they start like an image header (an image cut
  // off).
  std::int64_t bytesAfter = 0;
  bool bytesAfterLikeImage = false;

  // Counts disk in.
  void Add(const DiskSurvey& disk);

  // True when no file or directory is damaged, no medium unknown, no image
  // cut short or cut off after the last, and every file can be written:
  // what test calls sound.
  bool Sound() const {
    return damaged == 0 && unknownMedia == 0 && damagedDirectories == 0 && cutShort == 0 &&
           unrecognised == 0 && unwritable == 0 && !bytesAfterLikeImage;
  }
};

// Returns the number of images of disk's open container: those the reader
// indexed, up to and with the first whose size field is below a header or
// reaches past the end of the file, as no image can follow that one.
int CountImages(diskimage::DiskImage& disk);

// Fills summary from disk's current image, which is image k, and lets the
// reader use the tracks wherever the file holds them when the size field
// is below a header or above 2^31.
void SummarizeImage(diskimage::DiskImage& disk, int k, ImageSummary* summary);

// Surveys image k (below CountImages) of disk's open container into out (k
// made current), loading the disk the way the extraction tool does; without
// withData, out->data is left alone and the rest is the same, for a caller
// that only tells of the states.  Returns false when the reader has no
// image k.  A disk of a flat medium is loaded as the extraction tool loads
// it; one of any other geometry the records show has every sector of that
// geometry loaded, and no flat directory read (files 0).  With no geometry
// only out->image is filled (slots and files 0).
bool SurveyDisk(diskimage::DiskImage& disk, int k, DiskSurvey* out, bool withData = true);

// Loads the bytes of out's rows below rows (of the image surveyed last,
// still current in disk) into out->data, where a survey without its data
// left them out.
void LoadRows(diskimage::DiskImage& disk, DiskSurvey* out, int rows);

// Counts into tally the bytes of disk's open container after the end of
// the last of its images (images of them, as CountImages gives), and
// whether they start like an image header.  An image whose size field
// runs to or past the end of the file leaves none.
void NoteBytesAfter(diskimage::DiskImage& disk, int images, Tally* tally);

// True when the count bytes at header start like a D88 image header: a
// write-protect byte of 0x00 or 0x10, a known media byte, a size field of
// at least a header and a first track at the end of a header, as far as
// count reaches (at least through the size field).
bool LooksLikeImageHeader(const std::uint8_t* header, std::int64_t count);

// Returns what the open file is when it is plainly no D88 container but
// another format ("a gzip file", "an xz file", ... "a raw FAT disk image"):
// its first bytes are that format's, and not an image header.  Null
// otherwise.
const char* ForeignFormat(diskimage::DiskImage& disk);

}  // namespace survey

#endif
