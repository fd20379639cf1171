// Reports made by many threads at once, written in the order of their
// turns: the same bytes for any number of threads.
//
// A thread takes a turn, hands its report to the writer in chunks (each
// waits until it is written) and finishes the turn.  The writer writes only
// the chunks of the turn being written, so a thread ahead of its turn
// merely waits, and the one whose turn it is can always go on.  A finished
// turn is marked done in a ring of kAhead slots; whoever finishes the turn
// being written passes the turn over every done one.  No turn is given
// kAhead or more ahead of the one being written, so no slot is reused
// before the turn has passed it.
#ifndef D88EXTRACT_D88_ORDEREDOUTPUT_H
#define D88EXTRACT_D88_ORDEREDOUTPUT_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

#include "output/Sink.h"

namespace d88 {

// What the writer tells of its progress while it waits.
struct WriterWatch {
  // Called under the lock, at each step and at least every kTick while the
  // writer waits, with the turns written so far.
  void (*tick)(void* context, long written);
  // Called before report bytes are written.
  void (*writing)(void* context);
  void* context;
};

class OrderedOutput {
 public:
  // How far the turns may run ahead of the writer.
  static constexpr long kAhead = 1024;
  // How often a watched writer wakes.
  static constexpr std::chrono::milliseconds kTick{100};

  explicit OrderedOutput(output::Sink& out) : out_(out) {}
  OrderedOutput(const OrderedOutput&) = delete;
  OrderedOutput& operator=(const OrderedOutput&) = delete;

  // Takes the next turn: waits while kAhead turns are open, then asks
  // more(context), under the lock, whether there is another report.
  // Returns the turn, or -1 once more said no (then ever after).
  long Take(bool (*more)(void* context), void* context);

  // Hands length bytes of turn's report to the writer; returns once they
  // are written.
  void Hand(long turn, const char* bytes, std::size_t length);

  // Turn's report is all handed over.
  void Finish(long turn);

  // The writer: every turn's chunks in order, until no turn is left; watch
  // may be null.
  void WriteAll(const WriterWatch* watch);

 private:
  struct Slot {
    const char* chunk = nullptr;  // report text waiting to be written
    std::size_t length = 0;
    bool pending = false;  // chunk waits; its thread waits too
    bool done = false;     // the turn is finished
  };

  // True when the writer has something to do: a chunk in turn, or the end.
  bool WriterCalled() const;

  output::Sink& out_;
  std::mutex mutex_;
  std::condition_variable changed_;  // for the threads: a chunk written, room ahead
  std::condition_variable writer_;   // for the writer: a chunk in turn, the end
  long issued_ = 0;                  // turns taken
  long written_ = 0;                 // turns passed: it is the turn of `written_`
  bool ended_ = false;               // no more turns
  Slot slots_[kAhead];               // turn t's in slots_[t % kAhead]
};

}  // namespace d88

#endif
