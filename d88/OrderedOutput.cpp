#include "d88/OrderedOutput.h"

namespace d88 {

bool OrderedOutput::WriterCalled() const {
  return slots_[written_ % kAhead].pending || (ended_ && written_ == issued_);
}

long OrderedOutput::Take(bool (*more)(void* context), void* context) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return ended_ || issued_ - written_ < kAhead; });
  if (ended_ || !more(context)) {
    ended_ = true;
    if (WriterCalled()) writer_.notify_one();
    return -1;
  }
  return issued_++;
}

void OrderedOutput::Hand(long turn, const char* bytes, std::size_t length) {
  std::unique_lock<std::mutex> lock(mutex_);
  Slot& slot = slots_[turn % kAhead];
  slot.chunk = bytes;
  slot.length = length;
  slot.pending = true;
  if (turn == written_) writer_.notify_one();
  changed_.wait(lock, [&slot] { return !slot.pending; });
}

void OrderedOutput::Finish(long turn) {
  std::lock_guard<std::mutex> lock(mutex_);
  slots_[turn % kAhead].done = true;
  if (!slots_[written_ % kAhead].done) return;
  while (slots_[written_ % kAhead].done) {
    slots_[written_ % kAhead].done = false;
    ++written_;
  }
  changed_.notify_all();
  // The writer is woken only when called, so that reports with nothing
  // left to write cost no switch of threads.
  if (WriterCalled()) writer_.notify_one();
}

void OrderedOutput::WriteAll(const WriterWatch* watch) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (watch != nullptr) watch->tick(watch->context, written_);
    Slot& slot = slots_[written_ % kAhead];
    if (!slot.pending) {
      if (ended_ && written_ == issued_) break;
      if (watch != nullptr) {
        writer_.wait_for(lock, kTick);
      } else {
        writer_.wait(lock);
      }
      continue;
    }
    lock.unlock();
    if (slot.length > 0) {
      if (watch != nullptr) watch->writing(watch->context);
      out_.Write(slot.chunk, slot.length);
      out_.Flush();
    }
    lock.lock();
    slot.pending = false;
    changed_.notify_all();
  }
}

}  // namespace d88
