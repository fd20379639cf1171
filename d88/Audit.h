// The audit of a collection: each container's report, counted, and the
// summary over all of them.
#ifndef D88EXTRACT_D88_AUDIT_H
#define D88EXTRACT_D88_AUDIT_H

#include <cstdint>

#include "d88/CollectionWalk.h"
#include "d88/Options.h"
#include "diskimage/DiskImage.h"
#include "output/Sink.h"
#include "survey/FileSystems.h"
#include "survey/Survey.h"
#include "views/JsonWriter.h"

namespace d88 {

// What became of the containers a worker surveyed.
struct Counts {
  long containers = 0;      // reported
  long intact = 0;          // of them, sound
  long damaged = 0;         // of them, with damage test reports
  long unreadable = 0;      // of them, not opened or without an image
  long notContainers = 0;   // files named as containers that are another format
  long images = 0;          // disks surveyed
  long files = 0;           // files of known disks
  long intactFiles = 0;     // of them, intact
  bool jsonBroken = false;  // a report's JSON nested too deep: the run fails

  void Add(const Counts& other) {
    containers += other.containers;
    intact += other.intact;
    damaged += other.damaged;
    unreadable += other.unreadable;
    notContainers += other.notContainers;
    images += other.images;
    files += other.files;
    intactFiles += other.intactFiles;
    jsonBroken = jsonBroken || other.jsonBroken;
  }
};

// A reader's cache that holds a whole disk, so that each is read once.
constexpr std::size_t kCacheBytes = 2 * 1024 * 1024;

// What surveys one container: a reader, a survey and the counts, a
// worker's own.
struct Surveyor {
  std::uint8_t cache[kCacheBytes];  // disk's cache
  diskimage::DiskImage disk;
  survey::DiskSurvey survey;        // one disk at a time
  survey::FileSystems fileSystems;  // and its file system
  Counts counts;
};

// Writes the path of item as JSON members: "path", and "pathHex" when its
// bytes are not all UTF-8.
void WritePath(views::JsonWriter& json, const Item& item);

// What a report does ahead of each disk's part of it.
class BeforeImage {
 public:
  // disk: the disk's own tally, its survey in hand.
  virtual void Before(const survey::Tally& disk) = 0;

 protected:
  ~BeforeImage() = default;
};

// Surveys disk's images first to end - 1, one at a time into survey and
// fileSystems, and reports each (ReportImage) into json or out, its
// warnings to warnings; stops at a read that fails.  before, when given,
// sees each disk's own tally ahead of its report.  Adds every disk to
// tally.  One container alone and each of a collection are read by it.
void ReportImages(diskimage::DiskImage& disk, survey::DiskSurvey& survey,
                  survey::FileSystems& fileSystems, const Options& options, int first, int end,
                  views::JsonWriter* json, output::Sink& out, output::Sink* warnings,
                  survey::Tally* tally, BeforeImage* before = nullptr);

// Surveys item's container into report, and counts it.
void SurveyContainer(Surveyor& w, const Options& options, const Item& item, output::Sink& report);

// Writes the summary of counts: a line, or a JSON line with json.
void WriteSummary(const Counts& counts, bool json, output::Sink& out);

}  // namespace d88

#endif
