// A collection, surveyed by workers and reported by one writer, in order.
//
// The walker hands out the containers one at a time, in a fixed order, each
// with its sequence number.  Each worker surveys one container into its own
// report buffer; a full buffer, and what is left at the report's end, is
// handed to the writer (the calling thread), and the worker waits until it
// is written.  The writer takes only the hand-over of the container whose
// turn it is (sequence number `written`), so the output is the same for any
// number of workers, and a worker ahead of its turn merely waits: the one
// whose turn it is can always go on.  A report all handed over is marked
// done in a ring of kAhead flags and its worker goes on at once; whoever
// marks the flag in turn passes the turn over every done report.  The
// walker gives no container kAhead or more ahead of the turn, so no flag is
// reused before the turn has passed it.  Nothing is shared but the walker
// and the hand-over: each worker has its own reader, survey and report
// buffer, and names are decoded by a converter of each thread's own.
#include "d88/Collection.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "d88/Audit.h"
#include "d88/CollectionWalk.h"
#include "d88/D88.h"
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
  // Handed to the writer, under the shared mutex:
  long container = -1;          // sequence number of the container surveyed
  const char* chunk = nullptr;  // report text waiting to be written
  std::size_t chunkLength = 0;
  bool pending = false;  // chunk is waiting; the worker waits too
};

// How far the survey may run ahead of the writer, in containers.
constexpr long kAhead = 1024;

// What the workers and the writer share.
struct Shared {
  const Options& options;
  std::mutex mutex;
  std::condition_variable changed;  // for workers: a chunk written, room ahead
  std::condition_variable writer;   // for the writer: a chunk in turn, the end
  Worker* workers = nullptr;        // workers[0 .. workerCount)
  int workerCount = 0;
  Walker walker;           // under mutex
  long issued = 0;         // containers handed to workers
  bool walked = false;     // the walker has no more
  long written = 0;        // reports passed: it is the turn of container `written`
  bool done[kAhead] = {};  // container s's report is all handed over: done[s % kAhead]
  std::string walking;     // the path the walker gave last, for the progress line

  Shared(const Options& o, const Shown& shown) : options(o), walker(o, shown) {}

  // The worker whose chunk is in turn, or null.  Under mutex, as all below.
  Worker* InTurn() const {
    for (int i = 0; i < workerCount; ++i) {
      if (workers[i].pending && workers[i].container == written) return &workers[i];
    }
    return nullptr;
  }

  // True when the writer has something to do: a chunk, or the end.
  bool WriterCalled() const { return InTurn() != nullptr || (walked && written == issued); }

  // Passes the turn over the reports that are done; the writer is woken
  // only when it is called, so that reports with nothing left to write
  // cost no switch of threads.
  void Advance() {
    if (!done[written % kAhead]) return;
    while (done[written % kAhead]) {
      done[written % kAhead] = false;
      ++written;
    }
    changed.notify_all();
    if (WriterCalled()) writer.notify_one();
  }
};

// Hands length bytes of w's report to the writer and waits until written.
void Hand(Worker& w, const char* bytes, std::size_t length) {
  std::unique_lock<std::mutex> lock(w.shared->mutex);
  w.chunk = bytes;
  w.chunkLength = length;
  w.pending = true;
  if (w.container == w.shared->written) w.shared->writer.notify_one();
  w.shared->changed.wait(lock, [&w] { return !w.pending; });
}

void Drain(void* worker, const char* bytes, std::size_t length) {
  Hand(*static_cast<Worker*>(worker), bytes, length);
}

// A worker's life: containers from the walker until there are none.
void Work(Worker* w) {
  Shared& shared = *w->shared;
  w->disk.SetCache(w->cache, sizeof w->cache);
  for (;;) {
    Item item;
    {
      std::unique_lock<std::mutex> lock(shared.mutex);
      shared.changed.wait(lock, [&shared] { return shared.issued - shared.written < kAhead; });
      if (shared.walked || !shared.walker.Next(&item)) {
        shared.walked = true;
        if (shared.WriterCalled()) shared.writer.notify_one();
        return;
      }
      w->container = shared.issued++;
      shared.walking = item.text;
    }
    output::Sink report(w->report, sizeof w->report, output::Drain{Drain, w});
    SurveyContainer(*w, shared.options, item, report);
    report.Flush();
    std::lock_guard<std::mutex> lock(shared.mutex);
    shared.done[w->container % kAhead] = true;
    shared.Advance();
  }
}

// Containers after which a run shows its progress, and how often.
constexpr long kProgressAfter = 300;
constexpr auto kProgressEvery = std::chrono::milliseconds(100);
constexpr int kProgressColumns = 79;

// The progress line on standard error, when it is a terminal.
class Progress {
 public:
  explicit Progress(output::Sink& err) : err_(err), wanted_(platform::IsTerminal(err.Stream())) {}

  bool Wanted() const { return wanted_; }

  // Shows count containers done, the last at path.
  void Show(long count, const std::string& path) {
    const auto now = std::chrono::steady_clock::now();
    if (!wanted_ || count <= kProgressAfter || now - shown_ < kProgressEvery) return;
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

// The writer: every container's report, in turn, until the walk is done.
void WriteInOrder(Shared& shared, output::Sink& out, output::Sink& err) {
  Progress progress(err);
  std::unique_lock<std::mutex> lock(shared.mutex);
  for (;;) {
    progress.Show(shared.written, shared.walking);
    Worker* turn = shared.InTurn();
    if (turn == nullptr) {
      if (shared.walked && shared.written == shared.issued) break;
      if (progress.Wanted()) {
        shared.writer.wait_for(lock, kProgressEvery);
      } else {
        shared.writer.wait(lock);
      }
      continue;
    }
    lock.unlock();
    if (turn->chunkLength > 0) {
      progress.Clear();
      out.Write(turn->chunk, turn->chunkLength);
      out.Flush();
    }
    lock.lock();
    turn->pending = false;
    shared.changed.notify_all();
  }
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
  Shared shared(options, Shown{out.Stream(), options.json});
  shared.workers = workers;
  shared.workerCount = jobs;
  std::vector<std::thread> threads;
  for (int i = 0; i < jobs; ++i) {
    workers[i].shared = &shared;
    threads.emplace_back(Work, &workers[i]);
  }
  WriteInOrder(shared, out, err);
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
  if (counts.unreadable > 0) return kExitFailure;
  return options.verb == Verb::kTest && counts.damaged > 0 ? kExitDamaged : kExitSuccess;
}

}  // namespace d88
