// The bundles of a batch waiting to read their next record.
#ifndef D88EXTRACT_DISKIMAGE_BUNDLEQUEUE_H
#define D88EXTRACT_DISKIMAGE_BUNDLEQUEUE_H

#include <algorithm>
#include <cstdint>

#include "diskimage/D88Format.h"

namespace diskimage {

// A min-heap of bundles keyed by the file position of their next record.
class BundleQueue {
 public:
  // Most bundles queued at once: one per track start.
  static constexpr int kCapacity = kTrackCount;

  // Returns whether no bundle is queued.
  bool Empty() const { return size_ == 0; }

  // Returns the smallest queued position; the queue must not be empty.
  std::int64_t NextPosition() const { return entries_[0].position; }

  // Queues bundle at position; at most kCapacity bundles fit.
  void Push(std::int64_t position, int bundle) {
    entries_[size_++] = Entry{position, bundle};
    std::push_heap(entries_, entries_ + size_, Later());
  }

  // Removes and returns the bundle with the smallest position; the queue
  // must not be empty.
  int Pop() {
    std::pop_heap(entries_, entries_ + size_, Later());
    return entries_[--size_].bundle;
  }

 private:
  // One queued bundle.
  struct Entry {
    std::int64_t position;  // file position of its next record
    int bundle;             // which bundle
  };

  // Heap order, the smallest position on top; a function object, so that
  // the heap operations inline it.
  struct Later {
    bool operator()(const Entry& a, const Entry& b) const { return a.position > b.position; }
  };

  Entry entries_[kCapacity];  // the heap
  int size_ = 0;              // entries in use
};

}  // namespace diskimage

#endif
