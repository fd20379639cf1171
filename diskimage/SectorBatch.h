// Answering many sector requests with shared walks over the records.
//
// Words used here:
//   walk          reading a track's records from one start position on, as
//                 ReadSector does.  Requests whose tracks start at the same
//                 position share one walk.
//   record index  the 0-based place of the current record in a walk: 0 at
//                 its start, one more per record read.
//   bundle        the walks that stand at one file position.  They read the
//                 same records from there on, so the bundle reads each
//                 header once for all of them.  Bundle b begins as walk b
//                 alone; bundles that reach the same position merge.
//   steps         the records a bundle has read since it began.
//   index offset  a walk's record index minus its bundle's steps.  It stays
//                 fixed while the walk's bundle steps, so one counter per
//                 bundle keeps the index of all its walks:
//                 record index = bundle steps + index offset.  It changes
//                 only when the walk's bundle merges into another.
//
// At each record, a bundle does for all its walks what ReadSector does:
//   - a header that cannot be read in full, or a sector count of 0, ends
//     every walk before any ID is compared;
//   - each unanswered request of the walks that wants the record's ID gets
//     the record's data;
//   - a walk ends after the record if its record index equals the record's
//     sector count - 1, or once it has no unanswered request left (where
//     ReadSector, asked for one sector, stops at its match).
// The ID sought plays no part in where a walk ends, so one walk answers
// every request that starts where it does.
//
// Invariants:
//   - BundleQueue holds every bundle with a walk still going, keyed by the
//     position of its next record, and the batch always advances the one
//     furthest back.  Positions only grow (a record is at least its
//     16-byte header), so all bundles at that position are at the top of
//     the queue together and merge before the record is read: every record
//     position is read at most once per batch.
//   - RequestIndex lists every request not yet answered.  Those of ended
//     walks stay listed until their ID next turns up, and go then.
//   - BundleMembers alone keeps each walk's bundle and index offset, sorted
//     for lookup; Merge is the only change to them.
#ifndef D88EXTRACT_DISKIMAGE_SECTORBATCH_H
#define D88EXTRACT_DISKIMAGE_SECTORBATCH_H

#include <cstdint>
#include <cstdio>

#include "diskimage/BundleMembers.h"
#include "diskimage/BundleQueue.h"
#include "diskimage/D88Format.h"
#include "diskimage/ReadWindow.h"
#include "diskimage/RecordHeader.h"
#include "diskimage/RequestIndex.h"
#include "diskimage/SectorRequest.h"

namespace diskimage {

class SectorBatch {
 public:
  // Answers requests[0..count) as ReadSector would, result and buffer
  // bytes alike; with facts (count of them), facts[i] tells of the record
  // that answered request i (or, unanswered, whether its walk ran into the
  // end of the file).
  // trackStarts[t] is the file position of track t's first record,
  // negative for an unusable track; a request for a track outside
  // 0..kTrackCount-1 gets 0.  Any count is taken in parts of at most
  // RequestIndex::kCapacity requests.
  void Answer(std::FILE* file, ReadWindow& window, const std::int64_t (&trackStarts)[kTrackCount],
              SectorRequest* requests, int count, RecordFacts* facts);

 private:
  // Most walks: one per track start.
  static constexpr int kMaxWalks = kTrackCount;
  // No walk: a track no request has asked for yet.
  static constexpr int kNone = -1;

  // One walk.
  struct Walk {
    std::int64_t start;  // file position of its first record
    int pending;         // its requests not yet answered
    bool going;          // false once it has ended
    bool hitFileEnd;     // it ended at a header the file cuts off
  };

  // One bundle.
  struct Bundle {
    std::int64_t position;  // file position of the next record it reads
    std::int64_t steps;     // records it has read since it began
    int walksGoing;         // its walks that have not ended
  };

  // Answers requests[0..count), count <= RequestIndex::kCapacity.
  void AnswerPart(SectorRequest* requests, int count, RecordFacts* facts);
  // Returns the walk of track (0..kTrackCount-1, usable), making it if need be.
  int WalkOf(int track);
  // Reads the record at bundle b's position and moves b past it.
  void Step(int b);
  // Answers the requests of bundle b's walks that want record's ID.
  void AnswerMatches(int b, const RecordHeader& record);
  // Ends walk w; its unanswered requests keep the result 0.
  void EndWalk(int w);
  // Moves the walks of bundle from into bundle into (same position).
  void Merge(int from, int into);

  std::FILE* file_ = nullptr;                  // the container being read
  ReadWindow* window_ = nullptr;               // its cached bytes
  const std::int64_t* trackStarts_ = nullptr;  // first record of each track
  SectorRequest* requests_ = nullptr;          // the requests of this part
  RecordFacts* facts_ = nullptr;               // their facts; null when not wanted

  RequestIndex index_;                          // unanswered requests by ID
  int walkOfRequest_[RequestIndex::kCapacity];  // the walk each request is on, or kNone
  int walkOfTrack_[kTrackCount];                // each track's walk, or kNone
  Walk walks_[kMaxWalks];                       // the walks of this part
  int walkCount_ = 0;                           // walks in use
  Bundle bundles_[kMaxWalks];                   // bundle b begins as walk b
  BundleMembers members_;                       // each walk's bundle and index offset
  BundleQueue queue_;                           // bundles still going, by position
};

}  // namespace diskimage

#endif
