#include "d88/HeaderVerbs.h"

#include <cstring>

#include "d88/D88.h"
#include "d88/EditVerbs.h"
#include "edit/Edit.h"
#include "edit/HeaderEdits.h"

namespace d88 {

namespace {

// The copy's reader, and the outcome with its message.
diskimage::DiskImage checkDisk;
edit::Outcome outcome;

// Writes "d88: WHAT VALUE" for a value set cannot take; returns 1.
int Refuse(output::Sink& err, const char* what, const char* value) {
  err.Puts("d88: ");
  err.Puts(what);
  err.Escaped(value);
  err.Puts("\n");
  return kExitFailure;
}

// Parses set's values into change; 1 after the message when one is wrong.
int ParseChange(const Options& options, output::Sink& err, edit::HeaderChange* change) {
  *change =
      edit::HeaderChange{options.container, options.output, options.image, options.newName, -1, -1};
  if (options.newName == nullptr && options.protect == nullptr && options.media == nullptr) {
    err.Puts("d88: set needs --name, --protect or --media\n");
    return kExitFailure;
  }
  if (options.protect != nullptr) {
    change->protect = std::strcmp(options.protect, "on") == 0    ? 1
                      : std::strcmp(options.protect, "off") == 0 ? 0
                                                                 : -1;
    if (change->protect < 0) return Refuse(err, "not on or off: ", options.protect);
  }
  if (options.media != nullptr) {
    change->mediaByte = edit::ParseMediaByte(options.media);
    if (change->mediaByte < 0)
      return Refuse(err, "not a medium (2D, 2DD, 2HD or 0xNN): ", options.media);
  }
  return kExitSuccess;
}

edit::Repairs repairs;

// Writes each of count lines (of which the first kMostRepairLines are
// kept) after prefix, and how many more there were.
void PrintLines(output::Sink& sink, const char* prefix, const char (*lines)[edit::kRepairLineBytes],
                int count) {
  for (int i = 0; i < count && i < edit::kMostRepairLines; ++i)
    sink.Printf("%s%s\n", prefix, lines[i]);
  if (count > edit::kMostRepairLines)
    sink.Printf("%sand %d more\n", prefix, count - edit::kMostRepairLines);
}

int Fix(diskimage::DiskImage& disk, const Options& options, output::Sink& out, output::Sink& err) {
  const bool done =
      edit::FixContainer(disk, checkDisk, options.container, options.output, &repairs, &outcome);
  PrintLines(err, "d88: ", repairs.notes, repairs.noteCount);
  if (done && repairs.count == 0) {
    out.Puts("nothing to repair\n");
    return kExitSuccess;
  }
  if (done) PrintLines(out, "", repairs.lines, repairs.count);
  const int status = EditStatus(outcome, done, err);
  // The container changed: a report that cannot be written leaves it so.
  return status == kExitSuccess && outcome.changed && !out.Finish() ? kExitIncomplete : status;
}

}  // namespace

int RunHeaderVerb(diskimage::DiskImage& disk, const Options& options, output::Sink& out,
                  output::Sink& err) {
  if (options.verb == Verb::kFix) return Fix(disk, options, out, err);
  edit::HeaderChange change;
  if (ParseChange(options, err, &change) != kExitSuccess) return kExitFailure;
  const bool done = edit::SetHeader(disk, checkDisk, change, &outcome);
  return EditStatus(outcome, done, err);
}

}  // namespace d88
