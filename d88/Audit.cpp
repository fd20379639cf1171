#include "d88/Audit.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "d88/Collection.h"
#include "edit/Edit.h"
#include "views/JsonWriter.h"
#include "views/SurveyJson.h"
#include "views/SurveyText.h"

namespace d88 {

void WritePath(views::JsonWriter& json, const Item& item) {
  json.String("path", item.text.c_str());
  if (!item.hex.empty()) json.String("pathHex", item.hex.c_str());
}

namespace {

// Ends item's report with what kept it from being surveyed: the "status"
// and "error" members of json's object, or one line when json is null.
void ReportNotSurveyed(const Item& item, const char* status, const char* reason,
                       views::JsonWriter* json, output::Sink& report) {
  if (json == nullptr) {
    report.Escaped(item.text.c_str());
    report.Printf(": %s\n", reason);
    return;
  }
  json->String("status", status);
  json->String("error", reason);
  json->End();
}

// Ends item's report as that of a container that could not be read, and
// counts it.
void ReportUnreadable(Surveyor& w, const Item& item, const char* what, int error,
                      views::JsonWriter* json, output::Sink& report) {
  ++w.counts.unreadable;
  char reason[256];
  std::snprintf(reason, sizeof reason, "%s%s%s", what, error != 0 ? ": " : "",
                error != 0 ? std::strerror(error) : "");
  ReportNotSurveyed(item, "unreadable", reason, json, report);
}

// Ends item's report as that of a file of another format, counted apart
// from the containers.
void ReportNotAContainer(Surveyor& w, const Item& item, const char* format, views::JsonWriter* json,
                         output::Sink& report) {
  --w.counts.containers;
  ++w.counts.notContainers;
  char reason[96];
  std::snprintf(reason, sizeof reason, "is %s, not a D88 container", format);
  ReportNotSurveyed(item, "notContainer", reason, json, report);
}

// Writes item's one line as a temporary file an interrupted edit left.
void ReportLeftover(const Item& item, bool json, output::Sink& report) {
  static constexpr char kNote[] = "left by an interrupted edit; remove it";
  if (json) {
    views::JsonWriter line(report, true);
    line.Begin(nullptr, '{');
    WritePath(line, item);
    line.String("status", "leftover");
    line.String("error", kNote);
    line.End();
    return;
  }
  report.Escaped(item.text.c_str());
  report.Printf(": %s\n", kNote);
}

const char* Plural(long count) { return count == 1 ? "" : "s"; }

}  // namespace

void ReportImages(diskimage::DiskImage& disk, survey::DiskSurvey& survey,
                  survey::FileSystems& fileSystems, const Options& options, int first, int end,
                  views::JsonWriter* json, output::Sink& out, output::Sink* warnings,
                  survey::Tally* tally, BeforeImage* before) {
  for (int k = first; k < end; ++k) {
    survey::SurveyDisk(disk, k, &survey, false);
    // Only a disk read in full is reported.
    if (disk.GetReadError() != 0) break;
    survey::ReadFileSystem(disk, survey, fileSystems, options.fileSystem);
    survey::Tally one;
    survey::AddToTally(one, survey, fileSystems);
    survey::AddToTally(*tally, survey, fileSystems);
    if (before != nullptr) before->Before(one);
    ReportImage(survey, fileSystems, options.verb == Verb::kList, json, out, warnings);
  }
}

void SurveyContainer(Surveyor& w, const Options& options, const Item& item, output::Sink& report) {
  const bool list = options.verb == Verb::kList;
  // Named so that it is removed; no container, and no failure of the run.
  if (item.leftover) return ReportLeftover(item, options.json, report);
  ++w.counts.containers;
  views::JsonWriter json(report, true);
  views::JsonWriter* lines = options.json ? &json : nullptr;
  if (options.json) {
    json.Begin(nullptr, '{');
    WritePath(json, item);
  }
  if (item.folderError != 0)
    return ReportUnreadable(w, item, "cannot read the folder", item.folderError, lines, report);
  errno = 0;
  if (!edit::OpenContainerFile(w.disk, item.path.c_str()))
    return ReportUnreadable(w, item, "cannot open", errno != 0 ? errno : EIO, lines, report);
  if (const char* format = survey::ForeignFormat(w.disk)) {
    w.disk.Open(nullptr);
    return ReportNotAContainer(w, item, format, lines, report);
  }
  if (w.disk.GetImageCount() == 0) {
    const int error = w.disk.GetReadError();
    w.disk.Open(nullptr);
    return ReportUnreadable(w, item, error != 0 ? "cannot read" : "holds no disk image", error,
                            lines, report);
  }
  if (options.json) json.Begin("images", '[');
  survey::Tally tally;
  bool titled = options.json;  // test names a container only when it has something to say
  const int images = survey::CountImages(w.disk);
  // The container's path, once, ahead of the first disk with anything to say.
  struct Title : BeforeImage {
    Title(const Item& item, const survey::DiskSurvey& survey, output::Sink& report, bool list,
          bool* titled)
        : item_(item), survey_(survey), report_(report), list_(list), titled_(titled) {}
    void Before(const survey::Tally& disk) override {
      const survey::ImageSummary& image = survey_.image;
      if (*titled_ || !(list_ || !disk.Sound() || image.mediumFromRecords ||
                        image.sizeFieldBroken || image.headerBytes != diskimage::kImageHeaderSize))
        return;
      report_.Escaped(item_.text.c_str());
      report_.Puts(":\n");
      *titled_ = true;
    }
    const Item& item_;
    const survey::DiskSurvey& survey_;
    output::Sink& report_;
    bool list_;
    bool* titled_;
  } title(item, w.survey, report, list, &titled);
  // JSON tells of what the warnings say in its own fields.
  ReportImages(w.disk, w.survey, w.fileSystems, options, 0, images, lines, report,
               options.json ? nullptr : &report, &tally, &title);
  survey::NoteBytesAfter(w.disk, images, &tally);
  if (!options.json && tally.bytesAfter > 0) {
    if (!titled) {
      report.Escaped(item.text.c_str());
      report.Puts(":\n");
    }
    views::PrintBytesAfter(report, tally);
  }
  const int readError = w.disk.GetReadError();
  w.disk.Open(nullptr);
  if (options.json) json.End();
  // The disks before a failed read are told of, but not counted.
  if (readError != 0) return ReportUnreadable(w, item, "cannot read", readError, lines, report);
  const bool sound = tally.Sound();
  if (options.json) {
    views::WriteSummaryJson(json, tally);
    json.String("status", sound ? "intact" : "damaged");
    json.End();
    w.counts.jsonBroken = w.counts.jsonBroken || json.Broken();
  }
  ++(sound ? w.counts.intact : w.counts.damaged);
  w.counts.images += tally.images;
  w.counts.files += tally.files;
  w.counts.intactFiles += tally.intact;
}

void WriteSummary(const Counts& counts, bool json, output::Sink& out) {
  const long damagedFiles = counts.files - counts.intactFiles;
  if (!json) {
    out.Printf("%ld container%s: %ld intact, %ld damaged, %ld unreadable; ", counts.containers,
               Plural(counts.containers), counts.intact, counts.damaged, counts.unreadable);
    if (counts.notContainers > 0) out.Printf("%ld not a container; ", counts.notContainers);
    out.Printf("%ld file%s: %ld intact, %ld damaged\n", counts.files, Plural(counts.files),
               counts.intactFiles, damagedFiles);
    return;
  }
  views::JsonWriter line(out, true);
  line.Begin(nullptr, '{');
  line.Begin("summary", '{');
  line.Int("containers", counts.containers);
  line.Int("intact", counts.intact);
  line.Int("damaged", counts.damaged);
  line.Int("unreadable", counts.unreadable);
  line.Int("notContainers", counts.notContainers);
  line.Int("images", counts.images);
  line.Int("files", counts.files);
  line.Int("intactFiles", counts.intactFiles);
  line.Int("damagedFiles", damagedFiles);
  line.End();
  line.End();
}

}  // namespace d88
