// Finding the unanswered requests of a batch by sector ID.
#ifndef D88EXTRACT_DISKIMAGE_REQUESTINDEX_H
#define D88EXTRACT_DISKIMAGE_REQUESTINDEX_H

#include <cstdint>

namespace diskimage {

// A hash from packed sector ID to the requests that want it.  Each ID owns
// one slot (open addressing, linear probing); the slot heads a chain of
// request numbers linked through next_, ending in kNone.  A slot stays
// taken by its ID after its chain empties, so probing never breaks.
class RequestIndex {
 public:
  // Most requests the index holds.
  static constexpr int kCapacity = 2048;
  // The end of a chain.
  static constexpr int kNone = -1;

  // Empties the index.
  void Clear() {
    for (Slot& slot : slots_) slot.taken = false;
  }

  // Lists request (0 <= request < kCapacity, each added once) under id.
  void Add(int request, std::uint32_t id) {
    Slot& slot = slots_[SlotOf(id)];
    if (!slot.taken) slot = Slot{id, kNone, true};
    next_[request] = slot.first;
    slot.first = request;
  }

  // Calls take(request) for every request listed under id; removes from
  // the index those for which it returns true.
  template <typename Take>
  void TakeEach(std::uint32_t id, Take take) {
    Slot& slot = slots_[SlotOf(id)];
    if (!slot.taken) return;
    int* link = &slot.first;
    while (*link != kNone) {
      const int request = *link;
      if (take(request)) {
        *link = next_[request];
      } else {
        link = &next_[request];
      }
    }
  }

 private:
  // Slots: 2^12, so the table stays at most half full.
  static constexpr int kSlotBits = 12;
  static constexpr int kSlots = 1 << kSlotBits;
  static_assert(kSlots >= 2 * kCapacity, "the hash stays at most half full");

  // One ID's entry.
  struct Slot {
    std::uint32_t id;  // the packed ID it is for
    int first;         // first request wanting it; kNone when none is left
    bool taken;        // whether it is for an ID at all
  };

  // Returns the slot of id: the one taken by it, or the free one where it
  // belongs.
  int SlotOf(std::uint32_t id) const {
    // Fibonacci hashing: the top bits of the product mix all four ID bytes.
    int slot = static_cast<int>((id * 2654435769u) >> (32 - kSlotBits));
    while (slots_[slot].taken && slots_[slot].id != id) slot = (slot + 1) & (kSlots - 1);
    return slot;
  }

  Slot slots_[kSlots];   // the hash table
  int next_[kCapacity];  // the request after each one in its chain, or kNone
};

}  // namespace diskimage

#endif
