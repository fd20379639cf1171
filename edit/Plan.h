// Inside edit: the plan of one edit, and the copy that carries it out.
#ifndef D88EXTRACT_EDIT_PLAN_H
#define D88EXTRACT_EDIT_PLAN_H

#include <cstdint>

#include "diskimage/DiskImage.h"
#include "edit/Edit.h"
#include "survey/Survey.h"
#include "tool/Extraction.h"

namespace edit {

// What the copy changes, on the disk surveyed in before.
struct Plan {
  const survey::DiskSurvey* before;                     // the disk as it is
  std::int64_t fileSize;                                // the container's length
  std::int64_t dataPosition[survey::kSlots];            // file position of slot p's data; -1 none
  bool written[survey::kSlots];                         // slot p gets data[p x sector bytes ..]
  std::uint8_t data[tool::kLargestDiskBytes];           // the written slots' new bytes
  std::uint8_t directory[tool::kDirectoryBufferBytes];  // the new directory
};

// Writes the formatted message into outcome->message; returns false.
bool Fail(Outcome* outcome, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Returns text with its controls escaped, in one of a few rotating
// static buffers (enough for the arguments of one message).
const char* Shown(const char* text);

// Writes the container with plan's changes to request.output, or over
// request.container; check reads the copy back.  False, nothing changed,
// with the message set when any step fails.
bool WriteChanged(diskimage::DiskImage& original, diskimage::DiskImage& check,
                  const EditRequest& request, const Plan& plan, Outcome* outcome);

}  // namespace edit

#endif
