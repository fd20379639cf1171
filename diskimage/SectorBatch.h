// Answering many sector requests with shared walks over the records.
//
// A walk over a track's records ends at a record with a count of 0, at a
// header that cannot be read in full, or where the walk's record index
// reaches the count that the record carries; which ID is looked for does
// not matter.  So one walk from a start position answers every request
// that starts there: each gets the first record with its ID before the
// walk ends, as its own ReadSector would.
//
// Walks from different starts can run into the same records (tracks that
// point into one run, or runs that join).  Walks are advanced together in
// order of file position; walks that arrive at the same record become one
// bundle and share every header read from there on, each keeping its own
// record index.  Every record position is then read at most once per
// batch, whatever the track table says.
#ifndef D88EXTRACT_DISKIMAGE_SECTORBATCH_H
#define D88EXTRACT_DISKIMAGE_SECTORBATCH_H

#include <cstdint>
#include <cstdio>

#include "diskimage/D88Format.h"
#include "diskimage/ReadWindow.h"
#include "diskimage/RecordHeader.h"
#include "diskimage/SectorRequest.h"

namespace d88 {

class SectorBatch {
 public:
  // Most requests one call answers.
  static constexpr int kCapacity = 2048;

  // Answers requests[0..count) (count <= kCapacity) as ReadSector would:
  // request i walks from file position starts[i], or gets 0 when that is
  // negative (an unusable track).  The starts are track starts, so there
  // are at most kTrackCount distinct ones.
  void Answer(std::FILE* file, ReadWindow& window, SectorRequest* requests,
              const std::int64_t* starts, int count);

 private:
  // Distinct start positions, at most one per track.
  static constexpr int kMaxWalks = kTrackCount;
  // Slots of the ID hash: 2^12, twice the capacity.
  static constexpr int kSlotBits = 12;
  static constexpr int kSlots = 1 << kSlotBits;
  static_assert(kSlots >= 2 * kCapacity, "the hash stays at most half full");

  // Returns the walk that starts at position, making one if need be; -1
  // past kMaxWalks distinct starts, which track starts never reach.
  int WalkAt(std::int64_t position);
  // Returns the hash slot of id: the one holding it, or the empty one where
  // it belongs.
  std::uint32_t SlotOf(std::uint32_t id) const;
  // Adds request i, wanting id, to its walk and the hash.
  void AddRequest(int i, std::uint32_t id, int walk);
  // Reads the record at bundle b's position and moves b past it.
  void Step(int b);
  // Answers the requests of bundle b's walks that want the record's ID.
  void Match(int b, const RecordHeader& record);
  // Ends walk w: its unanswered requests keep the result 0.
  void EndWalk(int w);
  // Moves the walks of bundle from into bundle into (same position).
  void Merge(int into, int from);
  // Sorts walksByKey by (bundle, base) after a merge.
  void SortWalks();
  // Heap of bundles by position.
  void Push(int b);
  int Pop();

  std::FILE* file_ = nullptr;        // the container being read
  ReadWindow* window_ = nullptr;     // its cached bytes
  SectorRequest* requests_ = nullptr;  // the requests of this call

  // The ID hash over this call's unanswered requests.
  std::uint32_t slotId_[kSlots];       // packed ID (C | H<<8 | R<<16 | N<<24)
  std::int32_t slotFirst_[kSlots];     // first request + 1 wanting it; 0 = none left
  std::uint32_t slotStamp_[kSlots] = {};  // call that filled the slot; others are empty
  std::uint32_t stamp_ = 0;            // number of this call
  std::int32_t nextRequest_[kCapacity];  // next request + 1 with the same ID; 0 = none
  std::int32_t requestWalk_[kCapacity];  // walk each request belongs to

  // Walks: one per distinct start.
  int walkCount_ = 0;
  std::int64_t walkStart_[kMaxWalks];    // file position of its first record
  std::int32_t walkPending_[kMaxWalks];  // requests not yet answered
  bool walkAlive_[kMaxWalks];            // still walking
  std::int32_t walkBundle_[kMaxWalks];   // the bundle it walks in
  std::int64_t walkBase_[kMaxWalks];     // its record index minus its bundle's steps
  std::int32_t walksByKey_[kMaxWalks];   // walks sorted by (bundle, base)

  // Bundles: walks at one position.  Bundle b starts as walk b's own.
  std::int64_t bundlePosition_[kMaxWalks];  // file position of the next record
  std::int64_t bundleSteps_[kMaxWalks];     // records read since it began
  std::int32_t bundleAlive_[kMaxWalks];     // live walks in it
  std::int32_t heap_[kMaxWalks];            // bundles by position, smallest first
  int heapSize_ = 0;
};

}  // namespace d88

#endif
