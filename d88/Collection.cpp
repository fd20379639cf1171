// A collection, surveyed by workers and reported by one writer, in order.
//
// The walker hands out the containers one at a time, in a fixed order, each
// with its turn in the ordered output.  Each worker surveys one container
// into its own report buffer; a full buffer, and what is left at the
// report's end, goes to the writer (the calling thread) in the container's
// turn.  Nothing is shared but the walker and the output: each worker has
// its own reader, survey and report buffer, and names are decoded by a
// converter of each thread's own.
#include "d88/Collection.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "d88/Audit.h"
#include "d88/CollectionWalk.h"
#include "d88/D88.h"
#include "d88/OrderedOutput.h"
#include "diskimage/DiskImage.h"
#include "output/NameText.h"
#include "platform/Platform.h"
#include "views/FileSystemViews.h"
#include "views/SurveyJson.h"
#include "views/SurveyText.h"

namespace d88 {

namespace {

// Room for one report before it is handed to the writer.
constexpr std::size_t kReportBytes = 64 * 1024;

struct Shared;

// One worker: its reader, its survey and its report, all its own.
struct Worker : Surveyor {
  char report[kReportBytes];
  Shared* shared = nullptr;
  long turn = -1;  // the container surveyed, in the order of the walk
};

// What the workers and the writer share.
struct Shared {
  const Options& options;
  OrderedOutput output;
  Walker walker;        // under the output's lock, as walking is
  std::string walking;  // the path the walker gave last, for the progress line

  Shared(const Options& o, const Shown& shown, output::Sink& out)
      : options(o), output(out), walker(o, shown) {}
};

void Drain(void* worker, const char* bytes, std::size_t length) {
  Worker& w = *static_cast<Worker*>(worker);
  w.shared->output.Hand(w.turn, bytes, length);
}

// The walker's next container, in the item of a worker that takes it.
struct Taking {
  Shared* shared;
  Item* item;
};

bool NextItem(void* context) {
  Taking& taking = *static_cast<Taking*>(context);
  if (!taking.shared->walker.Next(taking.item)) return false;
  taking.shared->walking = taking.item->text;
  return true;
}

// A worker's life: containers from the walker until there are none.
void Work(Worker* w) {
  Shared& shared = *w->shared;
  w->disk.SetCache(w->cache, sizeof w->cache);
  for (;;) {
    Item item;
    Taking taking{&shared, &item};
    w->turn = shared.output.Take(NextItem, &taking);
    if (w->turn < 0) return;
    output::Sink report(w->report, sizeof w->report, output::Drain{Drain, w});
    SurveyContainer(*w, shared.options, item, report);
    report.Flush();
    shared.output.Finish(w->turn);
  }
}

// Containers after which a run shows its progress, and how often.
constexpr long kProgressAfter = 300;
constexpr int kProgressColumns = 79;

// The progress line on standard error, when it is a terminal.
class Progress {
 public:
  explicit Progress(output::Sink& err) : err_(err), wanted_(platform::IsTerminal(err.Stream())) {}

  bool Wanted() const { return wanted_; }

  // Shows count containers done, the last at path.
  void Show(long count, const std::string& path) {
    const auto now = std::chrono::steady_clock::now();
    if (!wanted_ || count <= kProgressAfter || now - shown_ < OrderedOutput::kTick) return;
    shown_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    char line[kProgressColumns * 4 + 1];
    int used = std::snprintf(line, sizeof line, "%ld containers, %.0f/s: ", count,
                             seconds > 0 ? static_cast<double>(count) / seconds : 0.0);
    // The end of the path, its controls escaped, as far as the line goes.
    char shownPath[kProgressColumns * 4 + 1];
    const std::size_t room =
        static_cast<std::size_t>(used < kProgressColumns ? kProgressColumns - used : 0);
    const std::size_t from = path.size() > room ? path.size() - room : 0;
    output::EscapeControls(path.c_str() + from, shownPath, room + 1);
    used +=
        std::snprintf(line + used, sizeof line - static_cast<std::size_t>(used), "%s", shownPath);
    err_.Printf("\r%-*s", kProgressColumns, line);
    err_.Flush();
    visible_ = true;
  }

  // Clears the line, so that other text starts on an empty one.
  void Clear() {
    if (!visible_) return;
    err_.Printf("\r%*s\r", kProgressColumns, "");
    err_.Flush();
    visible_ = false;
  }

 private:
  output::Sink& err_;
  bool wanted_;
  bool visible_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point shown_;
};

// The progress line of a writer: the count, and the path the walker gave
// last.
struct Watched {
  Progress* progress;
  const Shared* shared;
};

void Tick(void* context, long written) {
  const Watched& watched = *static_cast<Watched*>(context);
  watched.progress->Show(written, watched.shared->walking);
}

void Writing(void* context) { static_cast<Watched*>(context)->progress->Clear(); }

// The writer: every container's report, in turn, until the walk is done.
void WriteInOrder(Shared& shared, output::Sink& err) {
  Progress progress(err);
  Watched watched{&progress, &shared};
  const WriterWatch watch{Tick, Writing, &watched};
  shared.output.WriteAll(progress.Wanted() ? &watch : nullptr);
  progress.Clear();
}

}  // namespace

void ReportImage(const survey::DiskSurvey& disk, survey::FileSystems& fs, bool list,
                 views::JsonWriter* json, output::Sink& out, output::Sink* warnings) {
  if (warnings != nullptr) {
    views::PrintMediumWarning(*warnings, disk.image);
    views::PrintSizeWarning(*warnings, disk.image);
  }
  // A disk of neither flat medium and no file system is told of as today:
  // of unknown medium, its files not checked.
  const bool flatLines = fs.IsFlat() || (fs.chosen == nullptr && disk.image.medium == nullptr);
  if (json != nullptr) {
    views::WriteImageJson(*json, disk, &fs);
  } else if (list) {
    views::PrintImageLine(out, disk.image);
    views::PrintCutShort(out, disk.image, false);
    if (!flatLines) {
      views::PrintFileSystemListing(out, disk, fs);
      return;
    }
    views::PrintDirectoryDamage(out, disk);
    for (int i = 0; i < disk.fileCount; ++i) views::PrintListedFile(out, disk.files[i]);
  } else if (flatLines) {
    views::PrintProblems(out, disk);
  } else {
    views::PrintFileSystemProblems(out, disk, fs);
  }
}

void WriteContainerPath(views::JsonWriter& json, const output::Sink& out, const char* arg) {
  Item item;
  Describe(arg, Shown{out.Stream(), true}, &item);
  WritePath(json, item);
}

bool NamesOneContainer(const Options& options) {
  return options.pathCount == 1 && !IsFolder(options.container);
}

int AuditCollection(const Options& options, output::Sink& out, output::Sink& err) {
  int jobs = options.jobs;
  if (jobs == 0) {
    const unsigned processors = std::thread::hardware_concurrency();
    jobs = processors == 0 ? 1 : processors > kMostJobs ? kMostJobs : static_cast<int>(processors);
  }
  // Each worker holds a loaded disk: made once for the run, never more.
  std::unique_ptr<Worker[]> made(new (std::nothrow) Worker[static_cast<std::size_t>(jobs)]);
  Worker* workers = made.get();
  if (workers == nullptr) {
    err.Printf("d88: no memory for %d workers; try -j 1\n", jobs);
    return kExitFailure;
  }
  Shared shared(options, Shown{out.Stream(), options.json}, out);
  std::vector<std::thread> threads;
  for (int i = 0; i < jobs; ++i) {
    workers[i].shared = &shared;
    threads.emplace_back(Work, &workers[i]);
  }
  WriteInOrder(shared, err);
  Counts counts;
  for (int i = 0; i < jobs; ++i) {
    threads[static_cast<std::size_t>(i)].join();
    counts.Add(workers[i].counts);
  }
  WriteSummary(counts, options.json, out);
  if (counts.jsonBroken) {
    err.Puts("d88: a JSON document nests deeper than its writer allows\n");
    return kExitFailure;
  }
  if (counts.containers == 0 && counts.notContainers == 0) {
    err.Puts("d88: no containers found: looked for files named *");
    for (const char* extension : kExtensions)
      err.Printf("%s%s", extension, extension == kExtensions[kExtensionCount - 1] ? "" : ", *");
    err.Puts(" (in any case)\n");
    return kExitFailure;
  }
  if (counts.unreadable > 0 || counts.notContainers > 0) return kExitFailure;
  return options.verb == Verb::kTest && counts.damaged > 0 ? kExitDamaged : kExitSuccess;
}

}  // namespace d88
