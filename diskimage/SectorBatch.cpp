// Reading many sectors with one walk per track start.
//
// Where a walk over a track's records ends does not depend on the ID being
// looked for: only a record with a count of 0, a header that cannot be
// read in full, or the record index reaching its record's count end it.
// One walk can therefore answer every ID wanted from that start: each
// request gets the first record that carries its ID before the walk ends,
// just as its own ReadSector would.  Tracks whose table entries point at
// the same place share their walk.
#include <cstdint>
#include <cstring>

#include "diskimage/DiskImage.h"

namespace {

constexpr int kPending = -1;

// Returns the packed ID, or false when a value is outside 0..255 (no
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

std::uint32_t SlotOf(std::uint32_t id, std::uint32_t mask) {
  // Fibonacci hashing: the top bits of the product mix all four ID bytes.
  return ((id * 2654435769u) >> 20) & mask;
}

}  // namespace

void DiskImage::ReadSectorBatch(SectorRequest* requests, int count) {
  for (int i = 0; i < count; ++i) requests[i].result = kPending;
  for (int first = 0; first < count; first += kBatchCapacity) {
    const int part = count - first < kBatchCapacity ? count - first : kBatchCapacity;
    SectorRequest* q = requests + first;
    for (int i = 0; i < part; ++i) {
      if (q[i].result != kPending) continue;
      const std::int64_t position = TrackStart(q[i].track);
      if (position < 0) {
        q[i].result = 0;
        continue;
      }
      ReadBatchGroup(q + i, part - i, position);
    }
  }
}

void DiskImage::ReadBatchGroup(SectorRequest* requests, int count, std::int64_t position) {
  const std::uint32_t mask = kBatchSlots - 1;
  // A new stamp empties every slot at once; only a wrap of it needs a sweep.
  if (++batchStamp == 0) {
    std::memset(batchSlotStamp, 0, sizeof batchSlotStamp);
    batchStamp = 1;
  }
  const auto occupied = [this](std::uint32_t slot) { return batchSlotStamp[slot] == batchStamp; };
  int wanted = 0;  // distinct IDs not yet found
  // Hash the group, chaining requests for the same ID in request order.
  for (int i = count - 1; i >= 0; --i) {
    SectorRequest& q = requests[i];
    if (q.result != kPending || TrackStart(q.track) != position) continue;
    std::uint32_t id;
    if (!PackId(q, &id)) {
      q.result = 0;
      continue;
    }
    q.result = 0;  // until the walk finds it
    std::uint32_t slot = SlotOf(id, mask);
    while (occupied(slot) && batchSlotId[slot] != id) slot = (slot + 1) & mask;
    if (!occupied(slot)) {
      batchSlotStamp[slot] = batchStamp;
      batchSlotId[slot] = id;
      batchNext[i] = 0;
      ++wanted;
    } else {
      batchNext[i] = batchSlotFirst[slot];
    }
    batchSlotFirst[slot] = i + 1;
  }

  for (std::int64_t i = 0; wanted > 0; ++i) {
    RecordHeader record;
    if (!ReadRecordHeader(position, &record) || record.sectorCount == 0) return;
    const std::uint32_t id = static_cast<std::uint32_t>(record.id[0]) |
                             static_cast<std::uint32_t>(record.id[1]) << 8 |
                             static_cast<std::uint32_t>(record.id[2]) << 16 |
                             static_cast<std::uint32_t>(record.id[3]) << 24;
    std::uint32_t slot = SlotOf(id, mask);
    while (occupied(slot) && batchSlotId[slot] != id) slot = (slot + 1) & mask;
    if (occupied(slot) && batchSlotFirst[slot] > 0) {
      // The first record with this ID answers every request for it.
      for (int k = batchSlotFirst[slot]; k != 0; k = batchNext[k - 1]) {
        SectorRequest& q = requests[k - 1];
        const int length = record.dataLength < q.maxLength ? record.dataLength : q.maxLength;
        if (length > 0) {
          window.ReadAt(file, record.dataPosition, q.buffer, length);
          q.result = length;
        }
      }
      batchSlotFirst[slot] = -1;  // answered: later records with this ID are ignored
      --wanted;
    }
    position = record.dataPosition + record.dataLength;
    if (i == record.sectorCount - 1) return;
  }
}
