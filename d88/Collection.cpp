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

#include <algorithm>
#include <cerrno>
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

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "d88/D88.h"
#include "diskimage/DiskImage.h"
#include "edit/Edit.h"
#include "output/NameText.h"
#include "views/FileSystemViews.h"
#include "views/SurveyJson.h"
#include "views/SurveyText.h"

namespace d88 {

namespace {

#if defined(_WIN32)
using PathChar = wchar_t;
constexpr PathChar kSeparator = L'\\';
#else
using PathChar = char;
constexpr PathChar kSeparator = '/';
#endif
using PathString = std::basic_string<PathChar>;

// A container to survey, or a folder that could not be read.
struct Item {
  PathString path;   // as the file system has it, to open
  std::string text;  // as printed: the bytes on POSIX, the report's code page on Windows
  std::string hex;   // text's bytes in hex when they are not all UTF-8; else empty
  int folderError;   // errno when the folder at path could not be read; else 0
  bool leftover;     // a temporary file an interrupted edit left, not a container
};

// One entry of a folder worth keeping.
struct Entry {
  PathString name;  // a folder's with the separator after it, so that names sort as paths
  bool folder;      // a folder (never a link to one); else a container's file
  bool leftover;    // a temporary file an interrupted edit left
};

// True when name ends in the extension of a D88 container, in any case.
bool IsContainerName(const PathString& name) {
  static constexpr const char* kExtensions[] = {".d88", ".d77", ".88d", ".d98", ".d68", ".1dd"};
  if (name.size() < 4) return false;
  const PathChar* end = name.c_str() + name.size() - 4;
  for (const char* extension : kExtensions) {
    bool same = true;
    for (int i = 0; i < 4 && same; ++i) {
      const PathChar c = end[i] >= 'A' && end[i] <= 'Z' ? end[i] - 'A' + 'a' : end[i];
      same = c == static_cast<PathChar>(extension[i]);
    }
    if (same) return true;
  }
  return false;
}

// Returns folder/name, with one separator between them.
PathString Join(const PathString& folder, const PathString& name) {
  const bool ended = !folder.empty() && (folder.back() == kSeparator || folder.back() == '/');
  return ended ? folder + name : folder + kSeparator + name;
}

#if defined(_WIN32)
// The ANSI form of wide, as the narrow command line carries it.
std::string Ansi(const wchar_t* wide) {
  const int length = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string text(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, -1, &text[0], length, nullptr, nullptr);
  text.resize(static_cast<std::size_t>(length - 1));
  return text;
}

// The path arg names, wide.  The narrow arguments lost every character
// outside the ANSI code page, so the process's wide argument that reads as
// arg in that code page is taken where there is one.
PathString FromArgument(const char* arg) {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  PathString wide;
  for (int i = 1; arguments != nullptr && i < count && wide.empty(); ++i) {
    if (Ansi(arguments[i]) == arg) wide = arguments[i];
  }
  if (arguments != nullptr) LocalFree(arguments);
  if (!wide.empty()) return wide;
  const int length = MultiByteToWideChar(CP_ACP, 0, arg, -1, nullptr, 0);
  if (length <= 0) return PathString();
  wide.assign(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, arg, -1, &wide[0], length);
  wide.resize(static_cast<std::size_t>(length - 1));
  return wide;
}

// The path in codePage; a character it lacks shows as '?'.
std::string Printable(const PathString& path, unsigned codePage) {
  const char* fallback = codePage == CP_UTF8 ? nullptr : "?";
  const int length =
      WideCharToMultiByte(codePage, 0, path.c_str(), -1, nullptr, 0, fallback, nullptr);
  if (length <= 0) return std::string();
  std::string text(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(codePage, 0, path.c_str(), -1, &text[0], length, fallback, nullptr);
  text.resize(static_cast<std::size_t>(length - 1));
  return text;
}

// The code page of paths in a report to out: the console's, when out is
// one, so that it shows them; else UTF-8, as JSON must be.
unsigned PathCodePage(const output::Sink& out, bool json) {
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out.Stream())));
  DWORD mode = 0;
  if (json || !GetConsoleMode(handle, &mode)) return CP_UTF8;
  return GetConsoleOutputCP();
}

bool IsFolder(const PathString& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Lists folder's subfolders and containers into entries; returns 0, or an
// errno when the folder cannot be read.  Reparse points (links,
// junctions) are left alone.
int ListFolder(const PathString& folder, std::vector<Entry>* entries) {
  WIN32_FIND_DATAW found;
  const HANDLE find = FindFirstFileW(Join(folder, L"*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_ACCESS_DENIED ? EACCES : ENOENT;
  do {
    const PathString name = found.cFileName;
    const DWORD attributes = found.dwFileAttributes;
    if (name == L"." || name == L".." || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) continue;
    const bool subfolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (subfolder) entries->push_back(Entry{name + kSeparator, true, false});
    if (!subfolder && IsContainerName(name)) entries->push_back(Entry{name, false, false});
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return 0;
}

bool OpenContainer(diskimage::DiskImage& disk, const PathString& path) {
  return disk.OpenWide(path.c_str());
}
#else
PathString FromArgument(const char* arg) { return arg; }

// The path's bytes, as the file system has them.
std::string Printable(const PathString& path, unsigned) { return path; }

unsigned PathCodePage(const output::Sink&, bool) { return 0; }

bool IsFolder(const PathString& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Lists folder's subfolders and containers into entries; returns 0, or an
// errno when the folder cannot be read.  Symbolic links are left alone.
int ListFolder(const PathString& folder, std::vector<Entry>* entries) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return errno;
  while (const dirent* found = readdir(dir)) {
    const PathString name = found->d_name;
    if (name == "." || name == "..") continue;
    bool folderEntry = found->d_type == DT_DIR;
    bool file = found->d_type == DT_REG;
    struct stat status;
    if (found->d_type == DT_UNKNOWN && lstat(Join(folder, name).c_str(), &status) == 0) {
      folderEntry = S_ISDIR(status.st_mode);
      file = S_ISREG(status.st_mode);
    }
    if (folderEntry || (file && IsContainerName(name)))
      entries->push_back(Entry{folderEntry ? name + kSeparator : name, folderEntry, false});
    // A running edit holds its temporary file's lock.
    if (file && edit::IsTempName(name.c_str()) && edit::IsAbandoned(Join(folder, name).c_str()))
      entries->push_back(Entry{name, false, true});
  }
  closedir(dir);
  return 0;
}

bool OpenContainer(diskimage::DiskImage& disk, const PathString& path) {
  return disk.Open(path.c_str());
}
#endif

// The containers of the command line's paths, one at a time: a path that
// is not a folder as it stands, a folder's containers sorted by path.
// Holds the entries of the folders being walked, one folder a level.
class Walker {
 public:
  // Walks options' paths, printed in codePage (Windows).
  Walker(const Options& options, unsigned codePage) : options_(options), codePage_(codePage) {}

  // Gives the next container (or unreadable folder) in *item; false when
  // every path is walked.
  bool Next(Item* item) {
    for (;;) {
      if (!folders_.empty()) {
        Folder& top = folders_.back();
        if (top.next == top.entries.size()) {
          folders_.pop_back();
          continue;
        }
        const Entry entry = top.entries[top.next++];
        if (Give(Join(top.path, entry.name), entry.folder, item)) {
          item->leftover = entry.leftover;
          return true;
        }
        continue;
      }
      const char* arg = NextPath(options_, &argument_);
      if (arg == nullptr) return false;
      const PathString path = FromArgument(arg);
      if (Give(path, IsFolder(path), item)) return true;
    }
  }

 private:
  struct Folder {
    PathString path;
    std::vector<Entry> entries;  // sorted by the paths they make
    std::size_t next;            // the entry to look at next
  };

  // Fills item with a container, or enters a folder; true when item is
  // filled (a container, or a folder that cannot be read).
  bool Give(const PathString& path, bool folder, Item* item) {
    item->path = path;
    item->text = Printable(path, codePage_);
    item->hex.clear();
    for (const char* p = item->text.c_str(); *p != '\0'; p += output::Utf8Bytes(p)) {
      if (output::Utf8Bytes(p) > 0) continue;
      item->hex.resize(item->text.size() * 2 + 1);
      output::HexName(item->text.c_str(), item->text.size(), &item->hex[0], item->hex.size());
      item->hex.pop_back();
      break;
    }
    item->folderError = 0;
    item->leftover = false;
    if (!folder) return true;
    std::vector<Entry> entries;
    item->folderError = ListFolder(path, &entries);
    if (item->folderError != 0) return true;
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    folders_.push_back(Folder{path, std::move(entries), 0});
    return false;
  }

  const Options& options_;
  unsigned codePage_;            // paths are printed in it (Windows)
  int argument_ = 2;             // where the command line's next path is looked for
  std::vector<Folder> folders_;  // the folders being walked, outermost first
};

// What became of the containers a worker surveyed.
struct Counts {
  long containers = 0;      // reported
  long intact = 0;          // of them, sound
  long damaged = 0;         // of them, with damage test reports
  long unreadable = 0;      // of them, not opened or without an image
  long images = 0;          // disks surveyed
  long files = 0;           // files of known disks
  long intactFiles = 0;     // of them, intact
  bool jsonBroken = false;  // a report's JSON nested too deep: the run fails

  void Add(const Counts& other) {
    containers += other.containers;
    intact += other.intact;
    damaged += other.damaged;
    unreadable += other.unreadable;
    images += other.images;
    files += other.files;
    intactFiles += other.intactFiles;
    jsonBroken = jsonBroken || other.jsonBroken;
  }
};

// Room for one report before it is handed to the writer.
constexpr std::size_t kReportBytes = 64 * 1024;

// A reader's cache that holds a whole disk, so that each is read once.
constexpr std::size_t kCacheBytes = 2 * 1024 * 1024;

struct Shared;

// One worker: its reader, its survey and its report, all its own.
struct Worker {
  std::uint8_t cache[kCacheBytes];  // disk's cache
  diskimage::DiskImage disk;
  survey::DiskSurvey survey;        // one disk at a time
  survey::FileSystems fileSystems;  // and its file system
  char report[kReportBytes];
  Counts counts;
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

  Shared(const Options& o, unsigned codePage) : options(o), walker(o, codePage) {}

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

// Writes the path of item as JSON members: "path", and "pathHex" when its
// bytes are not all UTF-8.
void WritePath(views::JsonWriter& json, const Item& item) {
  json.String("path", item.text.c_str());
  if (!item.hex.empty()) json.String("pathHex", item.hex.c_str());
}

// Ends item's report as that of a container that could not be read: the
// "status" and "error" members of json's object, or one line when json is
// null.  Counts it.
void ReportUnreadable(Worker& w, const Item& item, const char* what, int error,
                      views::JsonWriter* json, output::Sink& report) {
  ++w.counts.unreadable;
  char reason[256];
  std::snprintf(reason, sizeof reason, "%s%s%s", what, error != 0 ? ": " : "",
                error != 0 ? std::strerror(error) : "");
  if (json == nullptr) {
    report.Escaped(item.text.c_str());
    report.Printf(": %s\n", reason);
    return;
  }
  json->String("status", "unreadable");
  json->String("error", reason);
  json->End();
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

// Surveys item's container into report, and counts it.
void SurveyContainer(Worker& w, const Item& item, output::Sink& report) {
  const Options& options = w.shared->options;
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
  if (!OpenContainer(w.disk, item.path))
    return ReportUnreadable(w, item, "cannot open", errno != 0 ? errno : EIO, lines, report);
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
  for (int k = 0; k < images; ++k) {
    survey::SurveyDisk(w.disk, k, &w.survey, false);
    // Only a disk read in full is reported.
    if (w.disk.GetReadError() != 0) break;
    survey::ReadFileSystem(w.disk, w.survey, w.fileSystems, options.fileSystem);
    survey::Tally disk;
    survey::AddToTally(disk, w.survey, w.fileSystems);
    survey::AddToTally(tally, w.survey, w.fileSystems);
    const survey::ImageSummary& image = w.survey.image;
    if (!titled && (list || !disk.Sound() || image.mediumFromRecords || image.sizeFieldBroken ||
                    image.headerBytes != diskimage::kImageHeaderSize)) {
      report.Escaped(item.text.c_str());
      report.Puts(":\n");
      titled = true;
    }
    // JSON tells of what the warnings say in its own fields.
    ReportImage(w.survey, w.fileSystems, list, lines, report, options.json ? nullptr : &report);
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
    SurveyContainer(*w, item, report);
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
  explicit Progress(output::Sink& err) : err_(err) {
#if defined(_WIN32)
    wanted_ = _isatty(_fileno(err.Stream())) != 0;
#else
    wanted_ = isatty(fileno(err.Stream())) != 0;
#endif
  }

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

const char* Plural(long count) { return count == 1 ? "" : "s"; }

void WriteSummary(const Counts& counts, bool json, output::Sink& out) {
  const long damagedFiles = counts.files - counts.intactFiles;
  if (!json) {
    out.Printf("%ld container%s: %ld intact, %ld damaged, %ld unreadable; ", counts.containers,
               Plural(counts.containers), counts.intact, counts.damaged, counts.unreadable);
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
  line.Int("images", counts.images);
  line.Int("files", counts.files);
  line.Int("intactFiles", counts.intactFiles);
  line.Int("damagedFiles", damagedFiles);
  line.End();
  line.End();
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
  return options.pathCount == 1 && !IsFolder(FromArgument(options.container));
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
  Shared shared(options, PathCodePage(out, options.json));
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
