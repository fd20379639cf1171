// Loaded into d88 by edit_faults.py: mkdir stamps its folder with the time,
// and the sweep compares results byte for byte, so every run sees one clock.
#include <ctime>

extern "C" std::time_t time(std::time_t* out) {
  constexpr std::time_t kNow = 1700000000;
  if (out != nullptr) *out = kNow;
  return kNow;
}
