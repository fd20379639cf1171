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
#include "tool/Extraction.h"

class DiskImage;

namespace survey {

// What became of one sector a disk of the medium should have, judged by
// the first record with its ID, as the disk load reads it.
enum class SectorState : std::uint8_t {
  kIntact,      // recorded once, full length, no error flagged
  kMissing,     // no record with its ID before the track's walk ends
  kShort,       // recorded with fewer data bytes than the sector holds
  kLong,        // recorded with more data bytes than the sector holds
  kDuplicate,   // its ID is recorded more than once on the track
  kFlaggedBad,  // the dumping tool marked it with a non-zero status
};

// The number of states; each is an index below it.
constexpr int kSectorStates = 6;
static_assert(static_cast<int>(SectorState::kFlaggedBad) == kSectorStates - 1,
              "the views index tables by state");

// True for the states that leave a file's bytes wrong: missing, short and
// flagged bad.  A long or repeated sector still gives a full sector.
bool DamagesData(SectorState state);

// Returns the state's name in words ("missing", "flagged bad", ...).
const char* SectorStateName(SectorState state);

// Returns "2DD" or "2HD".
const char* MediumName(const MediaGeometry& medium);

// One image of the container, as its header and a sample of its records
// show it.
struct ImageSummary {
  int index;                          // position in the container, from 0
  char name[d88::kNameSize + 1];      // header name bytes, NUL-terminated
  int mediaByte;                      // header byte 27, 0-255
  std::int32_t size;                  // header size field
  int tracksRecorded;                 // tracks with at least one readable record
  const MediaGeometry* medium;        // the medium in use; null when unknown
  const MediaGeometry* recordMedium;  // what the records show; null when they say nothing
  bool mediumFromRecords;             // the records overrule a header byte that disagrees
};

// A sector that spoils a file, by its place on the disk.
struct SectorDamage {
  int track;          // track index
  int sector;         // sector number, from 1
  SectorState state;  // missing, short or flagged bad
};

// The most damaged sectors listed per file; more are only counted.
constexpr int kListedDamage = 8;

// The sectors that spoil some data: how many, and the first of them.
struct DamageList {
  int count;                          // sectors that spoil the data
  SectorDamage first[kListedDamage];  // the first min(count, kListedDamage)

  // Counts slot p (of a disk with spt sectors a track) in state.
  void Add(int p, int spt, SectorState state);
};

// One directory entry and what its data is made of.
struct FileSurvey {
  DirectoryEntry entry;  // decoded as the tool decodes it
  DataRange range;       // the bytes of the disk buffer it gets
  DamageList damage;     // covered sectors that spoil its data
  bool cutOff;           // gets fewer bytes than its size says
  bool beyondDisk;       // covers zeros past the disk's own area

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

// The most sector slots: every sector of the largest medium.
constexpr int kSlots = kMostDiskSectors;

// Owners of a slot that no file covers.
constexpr std::int16_t kNoOwner = -1;         // nothing reads it
constexpr std::int16_t kDirectoryOwner = -2;  // the directory is read from it

// One disk surveyed in full.  Large (it holds the loaded disk), so keep
// one with static storage.
struct DiskSurvey {
  ImageSummary image;                 // the image surveyed
  int slots;                          // sectors of its medium; 0 when unknown
  SectorState sectors[kSlots];        // state of slot p: track p / spt, sector p % spt + 1
  std::int16_t owner[kSlots];         // first file covering slot p, or kNoOwner, kDirectoryOwner
  DamageList directoryDamage;         // directory sectors that spoil it
  int strayRecords;                   // records not belonging on their track
  StrayRecord strays[kListedStrays];  // the first of them
  int fileCount;                      // directory entries before the end mark
  FileSurvey files[kMaxDirectoryEntries];         // files[0 .. fileCount)
  std::uint8_t directory[kDirectoryBufferBytes];  // the directory as read
  std::uint8_t data[kLargestDiskBytes];           // the disk as loaded, zero where unread
  SectorRequest requests[kSlots];                 // the load's requests and results
};

// Counts over the disks of a container.
struct Tally {
  int images = 0;              // disks surveyed
  int unknownMedia = 0;        // of them, those whose medium is unknown
  int damagedDirectories = 0;  // of the known ones, those with a damaged directory
  int files = 0;               // files of all known disks
  int intact = 0;              // of them, the intact ones
  int damaged = 0;             // of them, the others

  // Counts disk in.
  void Add(const DiskSurvey& disk);
};

// Fills summary from disk's current image, which is image k.
void SummarizeImage(DiskImage& disk, int k, ImageSummary* summary);

// Surveys image k of disk's open container into out (k made current), loading the disk the
// way the extraction tool does.  Returns false when there is no image k;
// with an unknown medium only out->image is filled (slots and files 0).
bool SurveyDisk(DiskImage& disk, int k, DiskSurvey* out);

}  // namespace survey

#endif
