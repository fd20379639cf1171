#include "diskimage/SectorBatch.h"

namespace diskimage {

namespace {

// Returns the packed ID (C | H << 8 | R << 16 | N << 24) of request, or
// false when a part is outside 0..255 (no record can carry it).
bool PackRequestId(const SectorRequest& request, std::uint32_t* id) {
  const int parts[4] = {request.c, request.h, request.r, request.n};
  std::uint32_t packed = 0;
  for (int i = 0; i < 4; ++i) {
    if (parts[i] < 0 || parts[i] > 255) return false;
    packed |= static_cast<std::uint32_t>(parts[i]) << (8 * i);
  }
  *id = packed;
  return true;
}

// Returns the packed ID of record, as PackRequestId packs it.
std::uint32_t PackRecordId(const RecordHeader& record) {
  std::uint32_t packed = 0;
  for (int i = 0; i < 4; ++i) packed |= static_cast<std::uint32_t>(record.id[i]) << (8 * i);
  return packed;
}

}  // namespace

void SectorBatch::Answer(std::FILE* file, ReadWindow& window,
                         const std::int64_t (&trackStarts)[kTrackCount], SectorRequest* requests,
                         int count, RecordFacts* facts) {
  file_ = file;
  window_ = &window;
  trackStarts_ = trackStarts;
  for (int first = 0; first < count; first += RequestIndex::kCapacity) {
    const int rest = count - first;
    AnswerPart(requests + first, rest < RequestIndex::kCapacity ? rest : RequestIndex::kCapacity,
               facts != nullptr ? facts + first : nullptr);
  }
}

void SectorBatch::AnswerPart(SectorRequest* requests, int count, RecordFacts* facts) {
  requests_ = requests;
  facts_ = facts;
  index_.Clear();
  for (int& walk : walkOfTrack_) walk = kNone;
  walkCount_ = 0;
  for (int i = 0; i < count; ++i) {
    SectorRequest& request = requests[i];
    request.result = 0;
    if (facts != nullptr) facts[i] = RecordFacts{-1, 0, 0, 0, 0, false};
    walkOfRequest_[i] = kNone;
    std::uint32_t id;
    if (request.track < 0 || request.track >= kTrackCount || trackStarts_[request.track] < 0 ||
        !PackRequestId(request, &id)) {
      continue;
    }
    const int walk = WalkOf(request.track);
    index_.Add(i, id);
    walkOfRequest_[i] = walk;
    ++walks_[walk].pending;
  }

  members_.Reset(walkCount_);
  for (int w = 0; w < walkCount_; ++w) {
    bundles_[w] = Bundle{walks_[w].start, 0, 1};
    queue_.Push(walks_[w].start, w);
  }
  // Always advance the bundle furthest back, so that bundles arriving at
  // the same record meet at the top of the queue.
  while (!queue_.Empty()) {
    const int b = queue_.Pop();
    while (!queue_.Empty() && queue_.NextPosition() == bundles_[b].position) Merge(queue_.Pop(), b);
    Step(b);
    if (bundles_[b].walksGoing > 0) queue_.Push(bundles_[b].position, b);
  }
  for (int i = 0; facts != nullptr && i < count; ++i) {
    if (walkOfRequest_[i] != kNone && facts[i].position < 0)
      facts[i].walkHitFileEnd = walks_[walkOfRequest_[i]].hitFileEnd;
  }
}

int SectorBatch::WalkOf(int track) {
  if (walkOfTrack_[track] != kNone) return walkOfTrack_[track];
  const std::int64_t start = trackStarts_[track];
  int walk = 0;
  while (walk < walkCount_ && walks_[walk].start != start) ++walk;
  if (walk == walkCount_) walks_[walkCount_++] = Walk{start, 0, true, false};
  walkOfTrack_[track] = walk;
  return walk;
}

void SectorBatch::Step(int b) {
  Bundle& bundle = bundles_[b];
  RecordHeader record;
  if (!ReadRecordHeader(*window_, file_, bundle.position, &record)) {
    members_.ForEachIn(b, [this](int w) {
      if (walks_[w].going) walks_[w].hitFileEnd = true;
      EndWalk(w);
    });
    return;
  }
  if (record.sectorCount == 0) {
    members_.ForEachIn(b, [this](int w) { EndWalk(w); });
    return;
  }
  AnswerMatches(b, record);
  // The walks whose record index (steps + index offset) here is the
  // record's count - 1 end after it.
  members_.ForEachAt(b, record.sectorCount - 1 - bundle.steps, [this](int w) { EndWalk(w); });
  ++bundle.steps;
  bundle.position = record.NextPosition();
}

void SectorBatch::AnswerMatches(int b, const RecordHeader& record) {
  index_.TakeEach(PackRecordId(record), [&](int i) {
    const int w = walkOfRequest_[i];
    if (!walks_[w].going) return true;            // an ended walk wants nothing more
    if (members_.BundleOf(w) != b) return false;  // not at this record
    // The first record with this ID on the walk answers the request.
    SectorRequest& request = requests_[i];
    if (facts_ != nullptr) {
      facts_[i] = RecordFacts{record.dataPosition - kSectorHeaderSize,
                              record.dataLength,
                              record.status,
                              record.deletedMark,
                              record.density,
                              false};
    }
    const int length =
        record.dataLength < request.maxLength ? record.dataLength : request.maxLength;
    if (length > 0) {
      if (request.buffer != nullptr)
        window_->ReadAt(file_, record.dataPosition, request.buffer, length);
      request.result = length;
    }
    if (--walks_[w].pending == 0) EndWalk(w);
    return true;
  });
}

void SectorBatch::EndWalk(int w) {
  if (!walks_[w].going) return;
  walks_[w].going = false;
  --bundles_[members_.BundleOf(w)].walksGoing;
}

void SectorBatch::Merge(int from, int into) {
  members_.Merge(from, into, bundles_[from].steps - bundles_[into].steps);
  bundles_[into].walksGoing += bundles_[from].walksGoing;
  bundles_[from].walksGoing = 0;
}

}  // namespace diskimage
