#include "filesystem/FileSystem.h"

#include <cstring>

namespace filesystem {

namespace {

// Appends text to out at *used, keeping the NUL; cuts rather than overruns.
void Append(const char* text, char* out, std::size_t outSize, std::size_t* used) {
  for (; *text != '\0' && *used + 1 < outSize; ++text) out[(*used)++] = *text;
  if (outSize > 0) out[*used] = '\0';
}

}  // namespace

const char* FaultName(int i) {
  static const char* const kNames[kFaultKinds] = {
      "damaged sector",
      "chain ends before the size",
      "chain loops",
      "chain leaves the data area",
      "chain runs into a free cluster",
      "chain runs into a reserved cluster",
      "chain runs into a bad cluster",
      "cross-linked",
      "allocation table unreadable",
      "directory loops",
      "impossible name",
      "bounds reached",
      "allocation table copies differ",
  };
  return i >= 0 && i < kFaultKinds ? kNames[i] : "unknown";
}

const char* DescribeFaults(Faults faults, char* out, std::size_t outSize) {
  std::size_t used = 0;
  if (outSize > 0) out[0] = '\0';
  for (int i = 0; i < kFaultKinds; ++i) {
    if ((faults & (1u << i)) == 0) continue;
    if (used > 0) Append(", ", out, outSize, &used);
    Append(FaultName(i), out, outSize, &used);
  }
  return out;
}

std::size_t FileSystem::Path(int index, char* out, std::size_t outSize) const {
  int chain[kMaxDepth + 1];
  int count = 0;
  for (int at = index; at >= 0 && at < EntryCount() && count <= kMaxDepth;
       at = EntryAt(at).parent) {
    chain[count++] = at;
  }
  std::size_t used = 0;
  if (outSize > 0) out[0] = '\0';
  while (count > 0) {
    Append(EntryAt(chain[--count]).nameText, out, outSize, &used);
    if (count > 0) Append("/", out, outSize, &used);
  }
  return used;
}

}  // namespace filesystem
