#include "d88/TreeWriter.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "platform/Platform.h"
#include "tool/Extraction.h"

namespace d88 {

namespace {

using filesystem::Entry;
using filesystem::EntryKind;
using filesystem::FileSystem;

// Bytes a file is copied through; the largest file of a floppy disk takes
// some hundred rounds.
constexpr std::size_t kCopyBytes = 16384;

struct Step {
  TreeOutcome outcome = TreeOutcome::kWritten;
  int error = 0;
};

Step Refused(int error) { return {TreeOutcome::kRefused, error}; }
Step Failed(int error) { return {TreeOutcome::kFailed, error != 0 ? error : EIO}; }

// Fills tm with the DOS date and time; false when they name no moment
// (month 0, day 0, hour 24 and the like), and the time is then left alone.
bool DosFields(const Entry& entry, std::tm* tm) {
  *tm = std::tm{};
  tm->tm_year = 80 + (entry.dosDate >> 9);
  tm->tm_mon = ((entry.dosDate >> 5) & 15) - 1;
  tm->tm_mday = entry.dosDate & 31;
  tm->tm_hour = entry.dosTime >> 11;
  tm->tm_min = (entry.dosTime >> 5) & 63;
  tm->tm_sec = (entry.dosTime & 31) * 2;
  tm->tm_isdst = -1;
  return entry.hasTime && tm->tm_mon >= 0 && tm->tm_mon < 12 && tm->tm_mday > 0 &&
         tm->tm_hour < 24 && tm->tm_min < 60 && tm->tm_sec < 60;
}

#if defined(_WIN32)
// A name that does not decode, does not fit or is no plain Windows name.
bool IsWritableComponent(const char* name) {
  wchar_t wide[filesystem::kMaxPathBytes + 2];
  return platform::Widen(name, wide, filesystem::kMaxPathBytes + 2) &&
         tool::IsPlainWindowsName(wide);
}
#else
bool IsWritableComponent(const char* name) { return tool::IsWritableName(name); }
#endif

// The folder reached so far; each step below is taken from it, so that no
// path is looked up twice and no link is followed.
using Place = platform::Folder;

// Read just after the step, while errno still says why it failed.
Step StepOf(platform::Reached reached) {
  switch (reached) {
    case platform::Reached::kDone:
      return {};
    case platform::Reached::kNoName:
      return Refused(0);
    case platform::Reached::kLink:
      return Refused(ELOOP);
    case platform::Reached::kFailed:
      break;
  }
  return Failed(errno);
}

Step Begin(Place& place) { return place.Start() ? Step{} : Failed(errno); }

// A link, or anything but a folder, where a folder goes is refused.
Step Enter(Place& place, const char* name, bool make) { return StepOf(place.Enter(name, make)); }

// The entry's time, where it names one.
template <typename Target>
Step SetTime(Target& target, const Entry& entry) {
  std::tm fields;
  if (!DosFields(entry, &fields)) return {};
  return target.SetTime(fields) ? Step{} : Failed(errno);
}

Step SetFolderTime(Place& place, const Entry& entry) { return SetTime(place, entry); }

Step WriteFileIn(Place& place, const char* name, const FileSystem& fs, int index,
                 std::uint8_t* buffer) {
  platform::NewFile file;
  Step step = StepOf(place.CreateChildFile(name, &file));
  if (step.outcome != TreeOutcome::kWritten) return step;
  const Entry& entry = fs.EntryAt(index);
  for (std::uint64_t offset = 0; step.outcome == TreeOutcome::kWritten && offset < entry.size;) {
    const std::uint64_t left = entry.size - offset;
    const std::size_t wanted = left < kCopyBytes ? static_cast<std::size_t>(left) : kCopyBytes;
    const std::size_t got = fs.ReadFile(index, offset, buffer, wanted);
    if (got == 0) break;
    if (!file.Write(buffer, got)) step = Failed(errno);
    offset += got;
  }
  if (step.outcome == TreeOutcome::kWritten) step = SetTime(file, entry);
  if (!file.Close() && step.outcome == TreeOutcome::kWritten) step = Failed(errno);
  return step;
}

// Writes into chain the entries from the root down to index; returns how
// many, or 0 when the links are broken or deeper than any path.
int Chain(const FileSystem& fs, int index, int* chain) {
  int count = 0;
  for (int at = index; at != filesystem::kInRoot; at = fs.EntryAt(at).parent) {
    if (at < 0 || at >= fs.EntryCount() || count > filesystem::kMaxDepth) return 0;
    if (at != index && fs.EntryAt(at).kind != EntryKind::kFolder) return 0;
    chain[count++] = at;
  }
  for (int i = 0; i < count / 2; ++i) {
    const int kept = chain[i];
    chain[i] = chain[count - 1 - i];
    chain[count - 1 - i] = kept;
  }
  return count;
}

// Enters the folders of chain (its last entry too when it is a folder),
// making the missing ones when make.
Step EnterChain(const FileSystem& fs, const int* chain, int count, bool make, Place& place) {
  Step step = Begin(place);
  const int folders = fs.EntryAt(chain[count - 1]).kind == EntryKind::kFolder ? count : count - 1;
  for (int i = 0; i < folders && step.outcome == TreeOutcome::kWritten; ++i) {
    step = Enter(place, fs.EntryAt(chain[i]).nameText, make);
  }
  return step;
}

Step WriteEntry(const FileSystem& fs, int index, std::uint8_t* buffer) {
  int chain[filesystem::kMaxDepth + 1];
  const int count = Chain(fs, index, chain);
  if (count == 0) return Refused(0);
  // Every name is checked before anything is made.
  for (int i = 0; i < count; ++i) {
    const char* name = fs.EntryAt(chain[i]).nameText;
    if (name == nullptr || !IsWritableComponent(name)) return Refused(0);
  }
  Place place;
  const Step step = EnterChain(fs, chain, count, true, place);
  if (step.outcome != TreeOutcome::kWritten || fs.EntryAt(index).kind == EntryKind::kFolder) {
    return step;
  }
  return WriteFileIn(place, fs.EntryAt(index).nameText, fs, index, buffer);
}

}  // namespace

TreeResult WriteTree(const FileSystem& fs, const TreeReport& report, const bool* chosen) {
  TreeResult result;
  std::uint8_t buffer[kCopyBytes];
  char path[filesystem::kMaxPathBytes + 1];
  bool made[filesystem::kMaxEntries] = {};
  const auto tell = [&](int index, const Step& step) {
    fs.Path(index, path, sizeof path);
    if (step.outcome != TreeOutcome::kWritten) {
      ++result.notWritten;
      if (result.firstError == 0 && step.outcome == TreeOutcome::kFailed) {
        result.firstError = step.error;
      }
    } else if (fs.EntryAt(index).kind == EntryKind::kFile) {
      ++result.written;
    } else {
      return;  // a folder made is no news
    }
    report.report(report.context, {index, path, step.outcome, step.error});
  };
  const int count =
      fs.EntryCount() < filesystem::kMaxEntries ? fs.EntryCount() : filesystem::kMaxEntries;
  for (int i = 0; i < count; ++i) {
    if (chosen != nullptr && !chosen[i]) continue;
    const Step step = WriteEntry(fs, i, buffer);
    made[i] = step.outcome == TreeOutcome::kWritten;
    tell(i, step);
  }
  // As unzip does: a folder's time is set once nothing more is written into
  // it.
  for (int i = 0; i < count; ++i) {
    if (!made[i] || fs.EntryAt(i).kind != EntryKind::kFolder) continue;
    int chain[filesystem::kMaxDepth + 1];
    const int depth = Chain(fs, i, chain);
    Place place;
    Step step = EnterChain(fs, chain, depth, false, place);
    if (step.outcome == TreeOutcome::kWritten) step = SetFolderTime(place, fs.EntryAt(i));
    if (step.outcome != TreeOutcome::kWritten) tell(i, step);
  }
  return result;
}

void PrintNotWritten(void* sink, const TreeEvent& event) {
  if (event.outcome == TreeOutcome::kWritten) return;
  output::Sink& err = *static_cast<output::Sink*>(sink);
  err.Puts("d88: cannot write \"");
  err.Escaped(event.path);
  if (event.outcome == TreeOutcome::kRefused) {
    err.Puts(event.error == 0 ? "\": not a plain file name\n"
                              : "\": a link or special file stands in its way\n");
  } else {
    err.Printf("\": %s\n", std::strerror(event.error));
  }
}

}  // namespace d88
