#include "d88/EditVerbs.h"

#include <cstring>
#include <ctime>

#include "d88/D88.h"
#include "edit/Edit.h"
#include "geometry/MediumNames.h"
#include "views/SurveyText.h"

namespace d88 {

namespace {

// The copy's reader, and the outcome with its message.
diskimage::DiskImage checkDisk;
edit::Outcome outcome;

// Returns the medium -m names (either case), or null.
const tool::MediaGeometry* NamedMedium(const char* name) {
  for (const int mediaType : {0x10, 0x20}) {
    const tool::MediaGeometry* medium = tool::FindMediaGeometry(mediaType);
    const char* known = survey::MediumName(*medium);
    bool same = std::strlen(name) == 3;
    for (int i = 0; same && i < 3; ++i)
      same = (name[i] >= 'a' && name[i] <= 'z' ? name[i] - 'a' + 'A' : name[i]) == known[i];
    if (same) return medium;
  }
  return nullptr;
}

}  // namespace

int RunEditVerb(diskimage::DiskImage& disk, const Options& options, output::Sink& err) {
  bool done = false;
  if (options.verb == Verb::kNew && options.format != nullptr) {
    geometry::DiskShape shape{};
    if (!geometry::ParseMediumName(options.medium, &shape)) {
      err.Puts("d88: not a medium (2HD, 2DD, 2DD8, 1.44M, 1.2M or C/H/S/BYTES): ");
      err.Escaped(options.medium);
      err.Puts("\n");
      return kExitFailure;
    }
    done =
        edit::MakeBlankFatDisk(options.container, shape, options.diskName, options.label, &outcome);
  } else if (options.verb == Verb::kNew) {
    const tool::MediaGeometry* medium = NamedMedium(options.medium);
    if (medium == nullptr) {
      err.Puts("d88: not a medium (2HD or 2DD): ");
      err.Escaped(options.medium);
      err.Puts("\n");
      return kExitFailure;
    }
    done = edit::MakeBlankDisk(options.container, *medium, options.diskName, &outcome);
  } else {
    const bool folders = options.verb == Verb::kMakeFolder || options.verb == Verb::kRemoveFolder;
    const bool remove = options.verb == Verb::kRemove || options.verb == Verb::kRemoveFolder;
    edit::EditRequest request{};
    request.container = options.container;
    request.image = options.image;
    request.remove = remove;
    request.items = options.items;
    request.itemCount = options.itemCount;
    request.diskName = options.as;
    request.folders = folders;
    request.now = std::time(nullptr);
    request.toShiftJis = edit::ToShiftJis;
    request.output = options.output;
    // Made on first use: the other verbs need none of its storage.
    static change::Editor editor;
    done = edit::EditContainer(editor, disk, checkDisk, request, &outcome);
    if (outcome.surveyed) views::PrintImageWarnings(err, outcome.image, true);
  }
  return EditStatus(outcome, done, err);
}

int EditStatus(const edit::Outcome& result, bool done, output::Sink& err) {
  if (result.leftover[0] != '\0') {
    err.Puts("d88: ");
    err.Escaped(result.leftover);
    err.Puts(": left by an interrupted edit; remove it\n");
  }
  if (!done) err.Printf("d88: %s\n", result.message);
  // Once the container is changed, a failure to tell of everything is
  // not one of the edit.
  if (result.changed) return done && err.Finish() ? kExitSuccess : kExitIncomplete;
  return done ? kExitSuccess : kExitFailure;
}

}  // namespace d88
