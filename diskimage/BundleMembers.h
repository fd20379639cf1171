// Which bundle each walk of a batch walks in, and at which record index.
#ifndef D88EXTRACT_DISKIMAGE_BUNDLEMEMBERS_H
#define D88EXTRACT_DISKIMAGE_BUNDLEMEMBERS_H

#include <algorithm>
#include <cstdint>

#include "diskimage/D88Format.h"

namespace diskimage {

// Walk w's record index is its bundle's step count plus w's index offset.
// This class is the only keeper of each walk's bundle and offset; it holds
// its entries sorted by (bundle, offset) and restores that order itself
// after every change, so the walks of a bundle at a given record index are
// found by binary search.
class BundleMembers {
 public:
  // Most walks: one per track start.
  static constexpr int kCapacity = kTrackCount;

  // Puts each of walks 0..walkCount-1 (walkCount <= kCapacity) alone in
  // the bundle of the same number, with index offset 0.
  void Reset(int walkCount) {
    count_ = walkCount;
    for (int w = 0; w < walkCount; ++w) {
      entries_[w] = Entry{w, 0, w};
      bundleOf_[w] = w;
    }
  }

  // Returns the bundle walk is in.
  int BundleOf(int walk) const { return bundleOf_[walk]; }

  // Moves every walk of bundle from into bundle into, adding offsetChange
  // (from's step count minus into's) to each moved walk's index offset so
  // that its record index stays the same.
  void Merge(int from, int into, std::int64_t offsetChange) {
    for (int i = 0; i < count_; ++i) {
      Entry& entry = entries_[i];
      if (entry.bundle != from) continue;
      entry.bundle = into;
      entry.indexOffset += offsetChange;
      bundleOf_[entry.walk] = into;
    }
    std::sort(entries_, entries_ + count_, Before());
  }

  // Calls visit(walk) for every walk in bundle.
  template <typename Visit>
  void ForEachIn(int bundle, Visit visit) const {
    ForEachInRange(bundle, INT64_MIN, INT64_MAX, visit);
  }

  // Calls visit(walk) for every walk in bundle whose index offset is
  // indexOffset.
  template <typename Visit>
  void ForEachAt(int bundle, std::int64_t indexOffset, Visit visit) const {
    ForEachInRange(bundle, indexOffset, indexOffset, visit);
  }

 private:
  // One walk's place.
  struct Entry {
    int bundle;                // the bundle the walk is in
    std::int64_t indexOffset;  // its record index minus the bundle's step count
    int walk;                  // which walk
  };

  // The order of entries_: by bundle, then by index offset.  A function
  // object, so that the sort and the search inline it.
  struct Before {
    bool operator()(const Entry& a, const Entry& b) const {
      return a.bundle < b.bundle || (a.bundle == b.bundle && a.indexOffset < b.indexOffset);
    }
  };

  // Calls visit(walk) for the walks of bundle with index offsets in
  // lowest..highest.
  template <typename Visit>
  void ForEachInRange(int bundle, std::int64_t lowest, std::int64_t highest, Visit visit) const {
    const Entry* end = entries_ + count_;
    const Entry* it = std::lower_bound(entries_, end, Entry{bundle, lowest, 0}, Before());
    for (; it != end && it->bundle == bundle && it->indexOffset <= highest; ++it) visit(it->walk);
  }

  Entry entries_[kCapacity];  // one per walk, in the order of Before
  int bundleOf_[kCapacity];   // each walk's bundle, for lookup by walk
  int count_ = 0;             // walks in use
};

}  // namespace diskimage

#endif
