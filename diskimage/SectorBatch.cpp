#include "diskimage/SectorBatch.h"

#include <cstring>

namespace d88 {

namespace {

// Returns the packed ID of q, or false when a part is outside 0..255 (no
// record can carry it).
bool PackId(const SectorRequest& q, std::uint32_t* id) {
  const int parts[4] = {q.c, q.h, q.r, q.n};
  std::uint32_t packed = 0;
  for (int i = 0; i < 4; ++i) {
    if (parts[i] < 0 || parts[i] > 255) return false;
    packed |= static_cast<std::uint32_t>(parts[i]) << (8 * i);
  }
  *id = packed;
  return true;
}

std::uint32_t PackRecordId(const RecordHeader& record) {
  return static_cast<std::uint32_t>(record.id[0]) | static_cast<std::uint32_t>(record.id[1]) << 8 |
         static_cast<std::uint32_t>(record.id[2]) << 16 | static_cast<std::uint32_t>(record.id[3]) << 24;
}

}  // namespace

void SectorBatch::Answer(std::FILE* file, ReadWindow& window, SectorRequest* requests,
                         const std::int64_t* starts, int count) {
  file_ = file;
  window_ = &window;
  requests_ = requests;
  // A new stamp empties every hash slot at once; only its wrap needs a sweep.
  if (++stamp_ == 0) {
    std::memset(slotStamp_, 0, sizeof slotStamp_);
    stamp_ = 1;
  }
  walkCount_ = 0;
  heapSize_ = 0;
  for (int i = 0; i < count; ++i) {
    requests[i].result = 0;
    std::uint32_t id;
    if (starts[i] < 0 || !PackId(requests[i], &id)) continue;
    const int walk = WalkAt(starts[i]);
    if (walk >= 0) AddRequest(i, id, walk);
  }
  for (int w = 0; w < walkCount_; ++w) {
    walkAlive_[w] = true;
    walkBundle_[w] = w;
    walkBase_[w] = 0;
    walksByKey_[w] = w;
    bundlePosition_[w] = walkStart_[w];
    bundleSteps_[w] = 0;
    bundleAlive_[w] = 1;
    Push(w);
  }
  // Always advance the bundle furthest back, so that bundles arriving at the
  // same record meet at the top of the heap.
  while (heapSize_ > 0) {
    const int b = Pop();
    bool merged = false;
    while (heapSize_ > 0 && bundlePosition_[heap_[0]] == bundlePosition_[b]) {
      Merge(b, Pop());
      merged = true;
    }
    if (merged) SortWalks();
    Step(b);
    if (bundleAlive_[b] > 0) Push(b);
  }
}

int SectorBatch::WalkAt(std::int64_t position) {
  for (int w = 0; w < walkCount_; ++w) {
    if (walkStart_[w] == position) return w;
  }
  if (walkCount_ == kMaxWalks) return -1;
  walkStart_[walkCount_] = position;
  walkPending_[walkCount_] = 0;
  return walkCount_++;
}

std::uint32_t SectorBatch::SlotOf(std::uint32_t id) const {
  // Fibonacci hashing: the top bits of the product mix all four ID bytes.
  std::uint32_t slot = (id * 2654435769u) >> (32 - kSlotBits);
  while (slotStamp_[slot] == stamp_ && slotId_[slot] != id) slot = (slot + 1) & (kSlots - 1);
  return slot;
}

void SectorBatch::AddRequest(int i, std::uint32_t id, int walk) {
  const std::uint32_t slot = SlotOf(id);
  if (slotStamp_[slot] != stamp_) {
    slotStamp_[slot] = stamp_;
    slotId_[slot] = id;
    slotFirst_[slot] = 0;
  }
  nextRequest_[i] = slotFirst_[slot];
  slotFirst_[slot] = i + 1;
  requestWalk_[i] = walk;
  ++walkPending_[walk];
}

void SectorBatch::Step(int b) {
  RecordHeader record;
  if (!ReadRecordHeader(*window_, file_, bundlePosition_[b], &record) || record.sectorCount == 0) {
    // The end for every walk here, before any ID is looked at.
    for (int w = 0; w < walkCount_; ++w) {
      if (walkBundle_[w] == b) EndWalk(w);
    }
    return;
  }
  Match(b, record);
  // The walks whose index here is the record's count - 1 end after it.
  const std::int64_t base = record.sectorCount - 1 - bundleSteps_[b];
  int lo = 0, hi = walkCount_;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    const int w = walksByKey_[mid];
    if (walkBundle_[w] < b || (walkBundle_[w] == b && walkBase_[w] < base)) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  for (; lo < walkCount_; ++lo) {
    const int w = walksByKey_[lo];
    if (walkBundle_[w] != b || walkBase_[w] != base) break;
    EndWalk(w);
  }
  ++bundleSteps_[b];
  bundlePosition_[b] = record.NextPosition();
}

void SectorBatch::Match(int b, const RecordHeader& record) {
  const std::uint32_t slot = SlotOf(PackRecordId(record));
  if (slotStamp_[slot] != stamp_) return;
  std::int32_t* link = &slotFirst_[slot];
  while (*link != 0) {
    const int i = *link - 1;
    const int w = requestWalk_[i];
    if (!walkAlive_[w]) {
      *link = nextRequest_[i];  // an ended walk wants nothing more
      continue;
    }
    if (walkBundle_[w] != b) {
      link = &nextRequest_[i];
      continue;
    }
    // The first record with this ID on the walk answers the request.
    SectorRequest& q = requests_[i];
    const int length = record.dataLength < q.maxLength ? record.dataLength : q.maxLength;
    if (length > 0) {
      window_->ReadAt(file_, record.dataPosition, q.buffer, length);
      q.result = length;
    }
    *link = nextRequest_[i];
    if (--walkPending_[w] == 0) EndWalk(w);
  }
}

void SectorBatch::EndWalk(int w) {
  if (!walkAlive_[w]) return;
  walkAlive_[w] = false;
  --bundleAlive_[walkBundle_[w]];
}

void SectorBatch::Merge(int into, int from) {
  for (int w = 0; w < walkCount_; ++w) {
    if (walkBundle_[w] != from) continue;
    walkBase_[w] += bundleSteps_[from] - bundleSteps_[into];
    walkBundle_[w] = into;
  }
  bundleAlive_[into] += bundleAlive_[from];
  bundleAlive_[from] = 0;
}

void SectorBatch::SortWalks() {
  const auto before = [this](int a, int b) {
    return walkBundle_[a] < walkBundle_[b] || (walkBundle_[a] == walkBundle_[b] && walkBase_[a] < walkBase_[b]);
  };
  for (int i = 1; i < walkCount_; ++i) {
    const int w = walksByKey_[i];
    int j = i;
    for (; j > 0 && before(w, walksByKey_[j - 1]); --j) walksByKey_[j] = walksByKey_[j - 1];
    walksByKey_[j] = w;
  }
}

void SectorBatch::Push(int b) {
  int i = heapSize_++;
  while (i > 0) {
    const int parent = (i - 1) / 2;
    if (bundlePosition_[heap_[parent]] <= bundlePosition_[b]) break;
    heap_[i] = heap_[parent];
    i = parent;
  }
  heap_[i] = b;
}

int SectorBatch::Pop() {
  const int top = heap_[0];
  const int last = heap_[--heapSize_];
  int i = 0;
  for (;;) {
    int child = 2 * i + 1;
    if (child >= heapSize_) break;
    if (child + 1 < heapSize_ && bundlePosition_[heap_[child + 1]] < bundlePosition_[heap_[child]]) ++child;
    if (bundlePosition_[last] <= bundlePosition_[heap_[child]]) break;
    heap_[i] = heap_[child];
    i = child;
  }
  heap_[i] = last;
  return top;
}

}  // namespace d88
