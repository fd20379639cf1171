// The page's way into d88: each function below is exported from the
// WebAssembly module.  The page hands the container over as the file
// /container; each function writes its answer to standard output, which
// the page collects, and returns a status.  The same survey and views as
// d88's verbs, so the page shows what the program prints; the same editor
// as d88's add, rm, mkdir and rmdir, writing its copy to /copy.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>

#include "change/Editor.h"
#include "diskimage/DiskImage.h"
#include "filesystem/FileSystem.h"
#include "output/Cp932Table.h"
#include "output/NameText.h"
#include "output/Sink.h"
#include "survey/FileSystems.h"
#include "survey/ImageHashes.h"
#include "survey/Survey.h"
#include "tool/Extraction.h"
#include "views/FileSystemViews.h"
#include "views/JsonWriter.h"
#include "views/SurveyJson.h"
#include "views/SurveyMap.h"
#include "views/SurveyText.h"
#include "web/wasm/FileLosses.h"
#include "web/wasm/StoredZip.h"

#define D88_EXPORT(name) extern "C" __attribute__((export_name(#name)))

namespace {

// The container, its image count, and the one disk surveyed at a time.
diskimage::DiskImage container;
int imageCount = 0;
survey::DiskSurvey disk;
survey::FileSystems fileSystems;  // the file system disk holds
int surveyed = -1;                // the image disk holds; -1 when none
survey::Tally listed;             // what the last list of the container found
char containerName[1024];         // the container's file name, UTF-8, as the page has it
web::StoredZip zip(stdout);
std::uint8_t fileBytes[survey::kDataBytes];  // one file read through its file system

// An edit's items, as the page hands them over: their names back to back,
// each with its terminator (host files for an add, paths on the disk
// otherwise); for an add, the host files' bytes back to back, their sizes
// and times; the path the added file takes (empty: its own name).
constexpr int kMostItems = 64;
char itemText[kMostItems * 256];
const char* items[kMostItems];
std::uint8_t hostBytes[survey::kDataBytes];
double hostSizes[kMostItems];  // bytes
double hostTimes[kMostItems];  // seconds since 1970, as the page's local time reads in UTC
char diskPath[change::kPathBytes];
diskimage::DiskImage checkDisk;  // the copy's reader
change::Outcome editOutcome;     // the last edit's

// Surveys image k into disk unless it is there; false when there is no
// image k.
bool SurveyImage(int k) {
  if (k == surveyed) return true;
  surveyed = -1;
  if (k < 0 || k >= imageCount || !survey::SurveyDisk(container, k, &disk)) return false;
  survey::ReadFileSystem(container, disk, fileSystems, survey::FileSystemChoice::kAny);
  surveyed = k;
  return true;
}

// Returns status, or 1 when out lost a byte.
int Finish(output::Sink& out, int status) { return out.Finish() ? status : 1; }

// The file system disk is read as when it is not the flat directory, whose
// files keep the extraction tool's bytes; null for a flat disk or none.
const filesystem::FileSystem* OtherFileSystem() {
  return fileSystems.IsFlat() ? nullptr : fileSystems.chosen;
}

// Returns the entry of file i (the i-th regular file, as the JSON counts
// them) of fs; -1 when there is none.
int FileEntry(const filesystem::FileSystem& fs, int i) {
  for (int e = 0; e < fs.EntryCount(); ++e) {
    if (fs.EntryAt(e).kind == filesystem::EntryKind::kFile && i-- == 0) return e;
  }
  return -1;
}

// True when every name on the path of entry e of fs is one d88 extract writes.
bool WritablePath(const filesystem::FileSystem& fs, int e) {
  for (int at = e; at != filesystem::kInRoot; at = fs.EntryAt(at).parent) {
    if (!tool::IsWritableName(fs.EntryAt(at).nameText)) return false;
  }
  return true;
}

// Reads the bytes of entry e of fs into fileBytes; returns how many.
std::uint32_t ReadEntry(const filesystem::FileSystem& fs, int e) {
  const std::size_t size =
      fs.EntryAt(e).size < sizeof fileBytes ? fs.EntryAt(e).size : sizeof fileBytes;
  return static_cast<std::uint32_t>(fs.ReadFile(e, 0, fileBytes, size));
}

// Adds the folders and files of fs that d88 extract writes to zip, each
// under its path.  False when the zip broke.
bool ZipEntries(const filesystem::FileSystem& fs) {
  char path[filesystem::kMaxPathBytes + 2];
  bool written = true;
  for (int e = 0; e < fs.EntryCount() && written; ++e) {
    if (!WritablePath(fs, e)) continue;
    const std::size_t length = fs.Path(e, path, sizeof path - 1);
    if (fs.EntryAt(e).kind == filesystem::EntryKind::kFolder) {
      path[length] = '/';
      path[length + 1] = '\0';
      written = zip.Add(path, nullptr, 0);
    } else {
      written = zip.Add(path, fileBytes, ReadEntry(fs, e));
    }
  }
  return written;
}

// Writes the name file i of disk takes in a .zip into text: as d88 list
// shows it, decoded from Shift_JIS, controls as \xNN (unzip refuses them).
void ZipName(int i, char (&text)[output::kNameTextBytes]) {
  const char* bytes = disk.files[i].entry.name;
  output::DecodeName(bytes, std::strlen(bytes), text, sizeof text, output::Controls::kEscape);
}

// What becomes of file i of disk in the .zip.
enum class ZipFate { kZipped, kRefused, kReplaced };

// A name d88 extract refuses is left out; of files whose names come out
// the same, the last is kept, as d88 extract's last write of a name is.
ZipFate FateInZip(int i) {
  if (!tool::IsWritableName(disk.files[i].entry.name)) return ZipFate::kRefused;
  char name[output::kNameTextBytes];
  char later[output::kNameTextBytes];
  ZipName(i, name);
  for (int j = i + 1; j < disk.fileCount; ++j) {
    if (!tool::IsWritableName(disk.files[j].entry.name)) continue;
    ZipName(j, later);
    if (std::strcmp(later, name) == 0) return ZipFate::kReplaced;
  }
  return ZipFate::kZipped;
}

// Returns the bytes d88 extract writes for file i of disk, as it finds
// them: the stretch of the loaded disk the entry covers.
tool::DataRange FileRange(int i) {
  return tool::EntryDataRange(disk.files[i].entry, *disk.image.medium, tool::kLargestDiskBytes);
}

// The host files of an add, from the bytes the page put in hostBytes.
class HostFilesInMemory final : public change::HostFiles {
 public:
  explicit HostFilesInMemory(int count) : count_(count) {}

  bool Open(const char* item, change::HostFile* file, change::Outcome*) override {
    open_ = 0;
    offset_ = 0;
    while (open_ + 1 < count_ && items[open_] != item) offset_ += Size(open_++);
    *file = change::HostFile{static_cast<long long>(Size(open_)),
                             static_cast<std::time_t>(hostTimes[open_])};
    return true;
  }

  bool Read(const char* item, std::uint8_t* to, change::Outcome* outcome) override {
    const std::size_t size = Size(open_);
    if (offset_ + size > sizeof hostBytes)
      return change::Fail(outcome, "no room for %s (%zu bytes); nothing written",
                          change::Shown(item), size);
    std::memcpy(to, hostBytes + offset_, size);
    return true;
  }

  void Close() override {}

 private:
  static std::size_t Size(int i) { return static_cast<std::size_t>(hostSizes[i]); }

  int count_;
  int open_ = 0;
  std::size_t offset_ = 0;
};

// The copy's stream, into /copy.
class FileSink final : public change::CopySink {
 public:
  explicit FileSink(std::FILE* file) : file_(file) {}
  bool Write(const std::uint8_t* bytes, std::size_t length) override {
    return std::fwrite(bytes, 1, length, file_) == length;
  }

 private:
  std::FILE* file_;
};

// Names typed in the page (UTF-8) into Shift_JIS, as d88 converts them.
change::Conversion ToShiftJis(const char* text, char* out, int outSize) {
  return output::EncodeCp932(text, out, static_cast<std::size_t>(outSize))
             ? change::Conversion::kDone
             : change::Conversion::kNoForm;
}

// Writes the container with the planned change to /copy and reads it back;
// null when the copy is whole and as planned, else why not.
const char* WriteAndCheck(change::Editor& editor) {
  std::FILE* source = std::fopen("/container", "rb");
  std::FILE* target = std::fopen("/copy", "wb");
  const char* problem = source == nullptr || target == nullptr ? std::strerror(errno) : nullptr;
  if (problem == nullptr) {
    FileSink sink(target);
    problem = editor.WriteCopy(source, sink);
  }
  if (source != nullptr) std::fclose(source);
  if (target != nullptr && std::fclose(target) != 0 && problem == nullptr)
    problem = std::strerror(errno);
  if (problem != nullptr) return problem;
  const bool same = checkDisk.Open("/copy") && editor.ReadsBack(container, checkDisk);
  checkDisk.Open(nullptr);
  return same ? nullptr : "the copy does not read back as planned";
}

// Carries out an edit of image k with the count items in itemText: the
// checked copy in /copy.  Returns 0 then; 1 after d88's message on
// standard error, as d88 prints it (with the disk's warnings, as there).
int Edit(int k, int count, bool remove, bool folders, double now) {
  static change::Editor editor;
  change::Begin(&editOutcome);
  output::Sink err(stderr);
  // The walk over the names ends within their buffer.
  itemText[sizeof itemText - 1] = '\0';
  int found = 0;
  for (const char* at = itemText; found < count && found < kMostItems && at < std::end(itemText);
       at += std::strlen(at) + 1)
    items[found++] = at;
  if (count < 1) err.Puts("d88: no name given\n");
  if (count >= 1 && found < count)
    err.Printf("d88: too many files or names at once (at most %d)\n", kMostItems);
  if (count < 1 || found < count) return Finish(err, 1);
  change::Request request{};
  request.container = containerName;
  request.image = k;
  request.remove = remove;
  request.items = items;
  request.itemCount = count;
  request.diskName = diskPath[0] != '\0' ? diskPath : nullptr;
  request.folders = folders;
  request.now = static_cast<std::time_t>(now);
  request.toShiftJis = ToShiftJis;
  surveyed = -1;  // the editor moves the reader
  HostFilesInMemory files(count);
  bool done = editor.Plan(container, request, files, &editOutcome);
  if (done) {
    const char* problem = WriteAndCheck(editor);
    done = problem == nullptr || change::Fail(&editOutcome, "cannot write %s: %s; nothing written",
                                              change::Shown(containerName), problem);
  }
  if (editOutcome.surveyed) views::PrintImageWarnings(err, editOutcome.image, true);
  if (!done) err.Printf("d88: %s\n", editOutcome.message);
  return Finish(err, done ? 0 : 1);
}

}  // namespace

// Opens /container; returns its number of images (0: none), -1 when it
// cannot be read.
D88_EXPORT(d88_open) int OpenContainer() {
  surveyed = -1;
  imageCount = container.Open("/container") ? survey::CountImages(container) : -1;
  return imageCount;
}

// Where the page writes the container's name, and the room there with
// its terminator.
D88_EXPORT(d88_name_buffer) char* NameBuffer() { return containerName; }
D88_EXPORT(d88_name_capacity) int NameCapacity() { return sizeof containerName; }

// Writes what `d88 list --json NAME` writes for the container, NAME the
// one in the name buffer (its warnings are in each image's notes).
// Returns 0; 1 when the output broke.
D88_EXPORT(d88_list) int ListJson() {
  output::Sink out(stdout);
  views::JsonWriter json(out);
  json.Begin(nullptr, '{');
  json.String("path", containerName);
  json.Begin("images", '[');
  survey::Tally tally;
  for (int k = 0; k < imageCount; ++k) {
    if (!SurveyImage(k)) break;
    survey::AddToTally(tally, disk, fileSystems);
    views::WriteImageJson(json, disk, &fileSystems);
  }
  json.End();
  survey::NoteBytesAfter(container, imageCount, &tally);
  views::WriteSummaryJson(json, tally);
  json.String("status", tally.Sound() ? "intact" : "damaged");
  json.End();
  listed = tally;
  return Finish(out, json.Broken() ? 1 : 0);
}

// Writes the summary line `d88 test` ends with, for the container d88_list
// last read.  Returns d88 test's status: 0 when all is sound, 2 otherwise.
D88_EXPORT(d88_summary) int Summary() {
  output::Sink out(stdout);
  views::PrintSummary(out, listed);
  return Finish(out, listed.Sound() ? 0 : 2);
}

// Writes the name of each file of image k as d88 list shows it, one a
// line: a flat disk's decoded with its controls as \xNN, another file
// system's files by their paths.  Returns 0; 1 when there is no image k.
D88_EXPORT(d88_names) int Names(int k) {
  if (!SurveyImage(k)) return 1;
  output::Sink out(stdout);
  const filesystem::FileSystem* fs = OtherFileSystem();
  char path[filesystem::kMaxPathBytes + 1];
  for (int e = 0; fs != nullptr && e < fs->EntryCount(); ++e) {
    if (fs->EntryAt(e).kind != filesystem::EntryKind::kFile) continue;
    fs->Path(e, path, sizeof path);
    out.Escaped(path);
    out.Putc('\n');
  }
  for (int i = 0; fs == nullptr && i < disk.fileCount; ++i) {
    out.DecodedName(disk.files[i].entry.name);
    out.Putc('\n');
  }
  return Finish(out, 0);
}

// Writes what file i of image k has lost and what d88 extract writes in
// its place, a line each; nothing for an intact file.  Returns 0; 1 when
// there is no such file of a flat disk.
D88_EXPORT(d88_losses) int Losses(int k, int i) {
  if (!SurveyImage(k) || OtherFileSystem() != nullptr || i < 0 || i >= disk.fileCount) return 1;
  output::Sink out(stdout);
  web::PrintFileLosses(out, disk, i);
  return Finish(out, 0);
}

// Returns what becomes of file i of image k in its .zip: 0 zipped, 1 left
// out as d88 extract refuses its name, 2 left out for a later file whose
// name comes out the same, 3 no such file.
D88_EXPORT(d88_zip_fate) int ZipFateOf(int k, int i) {
  if (!SurveyImage(k)) return 3;
  const filesystem::FileSystem* fs = OtherFileSystem();
  if (fs != nullptr) {
    const int e = FileEntry(*fs, i);
    return e < 0 ? 3 : WritablePath(*fs, e) ? 0 : 1;
  }
  return i < 0 || i >= disk.fileCount ? 3 : static_cast<int>(FateInZip(i));
}

// Writes image k's notes, as d88 list prints them: the medium and size
// field warnings, cut short, directory damage; then d88 list's line of
// each file: its listing line and its state.  Returns 0; 1 when there is no image k.
D88_EXPORT(d88_image) int ImageNotes(int k) {
  if (!SurveyImage(k)) return 1;
  output::Sink out(stdout);
  views::PrintImageWarnings(out, disk.image, false);
  views::PrintDirectoryDamage(out, disk);
  out.Puts("\n");  // the notes end; the files' states follow
  // As d88 list, a disk of unknown medium where no file system is found
  // has no lines of its own.
  const bool unknown = fileSystems.chosen == nullptr && disk.image.medium == nullptr;
  if (!fileSystems.IsFlat() && !unknown) {
    // As d88 list: the file system's notes, then each folder and file.
    views::PrintFileSystemListing(out, disk, fileSystems);
    return Finish(out, 0);
  }
  for (int i = 0; i < disk.fileCount; ++i) views::PrintListedFile(out, disk.files[i]);
  return Finish(out, 0);
}

// Returns 1 when d88 extract writes file i of image k under its name, 0
// when it refuses the name or there is no such file.
D88_EXPORT(d88_writable) int Writable(int k, int i) {
  if (!SurveyImage(k)) return 0;
  const filesystem::FileSystem* fs = OtherFileSystem();
  if (fs != nullptr) {
    const int e = FileEntry(*fs, i);
    return e >= 0 && WritablePath(*fs, e);
  }
  return i >= 0 && i < disk.fileCount && tool::IsWritableName(disk.files[i].entry.name);
}

// Writes image k's object of `d88 hash --json` with "offset", where the
// "size" bytes it hashes start in the container: those bytes alone are
// the image as a container of its own.  Returns 0; 1 when there is no
// image k or a read failed.
D88_EXPORT(d88_hash) int HashJson(int k) {
  if (k < 0 || k >= imageCount) return 1;
  survey::ImageSummary image;
  survey::ImageHashes hashes;
  surveyed = -1;  // the reader's current image is k now
  if (!survey::HashImage(container, k, &image, &hashes)) return 1;
  output::Sink out(stdout);
  views::JsonWriter json(out);
  json.Begin(nullptr, '{');
  views::WriteHashFields(json, image, hashes);
  json.Int("offset", hashes.offset);
  json.End();
  return Finish(out, json.Broken() ? 1 : 0);
}

// Writes image k's map as `d88 map --svg` draws it.  Returns 0; 1 when
// there is no image k or its records show no geometry.
D88_EXPORT(d88_map) int MapSvg(int k) {
  if (!SurveyImage(k) || disk.slots == 0) return 1;
  survey::MarkOwners(disk, fileSystems);
  output::Sink out(stdout);
  views::WriteMapSvg(out, disk, &fileSystems);
  return Finish(out, 0);
}

// Writes the bytes d88 extract writes for file i of image k.  Returns 0;
// 1 when d88 extract refuses its name, 2 when there is no such file.
D88_EXPORT(d88_file) int FileBytes(int k, int i) {
  if (!SurveyImage(k)) return 2;
  const filesystem::FileSystem* fs = OtherFileSystem();
  const int e = fs != nullptr ? FileEntry(*fs, i) : i;
  if (e < 0 || (fs == nullptr && i >= disk.fileCount)) return 2;
  if (fs != nullptr ? !WritablePath(*fs, e) : !tool::IsWritableName(disk.files[i].entry.name))
    return 1;
  const std::uint8_t* bytes = fileBytes;
  std::size_t length = 0;
  if (fs != nullptr) {
    length = ReadEntry(*fs, e);
  } else {
    const tool::DataRange range = FileRange(i);
    bytes = disk.data + range.offset;
    length = static_cast<std::size_t>(range.length);
  }
  const bool written = std::fwrite(bytes, 1, length, stdout) == length;
  return std::fflush(stdout) == 0 && written ? 0 : 2;
}

// Writes a stored .zip of the files d88 extract writes for image k, each
// under its decoded path, with the folders.  Returns 0; 1 when there is no image k or the
// output broke.
D88_EXPORT(d88_zip) int ZipFiles(int k) {
  if (!SurveyImage(k)) return 1;
  zip.Clear();
  const filesystem::FileSystem* fs = OtherFileSystem();
  if (fs != nullptr) {
    const bool entries = ZipEntries(*fs);
    return zip.Finish() && entries ? 0 : 1;
  }
  bool written = true;
  for (int i = 0; i < disk.fileCount && written; ++i) {
    if (FateInZip(i) != ZipFate::kZipped) continue;
    const tool::DataRange range = FileRange(i);
    char name[output::kNameTextBytes];
    ZipName(i, name);
    written = zip.Add(name, disk.data + range.offset, static_cast<std::uint32_t>(range.length));
  }
  return zip.Finish() && written ? 0 : 1;
}

// Where the page puts an edit's items (names, each with its terminator),
// the host files' bytes, sizes and times, and the path an added file
// takes; and the room of each.
D88_EXPORT(d88_items_buffer) char* ItemsBuffer() { return itemText; }
D88_EXPORT(d88_items_capacity) int ItemsCapacity() { return sizeof itemText; }
D88_EXPORT(d88_most_items) int MostItems() { return kMostItems; }
D88_EXPORT(d88_host_buffer) std::uint8_t* HostBuffer() { return hostBytes; }
D88_EXPORT(d88_host_capacity) int HostCapacity() { return sizeof hostBytes; }
D88_EXPORT(d88_host_sizes) double* HostSizes() { return hostSizes; }
D88_EXPORT(d88_host_times) double* HostTimes() { return hostTimes; }
D88_EXPORT(d88_path_buffer) char* PathBuffer() { return diskPath; }
D88_EXPORT(d88_path_capacity) int PathCapacity() { return sizeof diskPath; }

// As d88 add, rm, mkdir and rmdir on image k with the count items: the
// container with the change, read back, in /copy.  now: the time a new
// folder takes (seconds, as the host files' times).  Returns 0; 1 when
// refused, d88's message on standard error.
D88_EXPORT(d88_add) int Add(int k, int count) { return Edit(k, count, false, false, 0); }
D88_EXPORT(d88_remove) int Remove(int k, int count) { return Edit(k, count, true, false, 0); }
D88_EXPORT(d88_mkdir) int MakeFolder(int k, int count, double now) {
  return Edit(k, count, false, true, now);
}
D88_EXPORT(d88_rmdir) int RemoveFolder(int k, int count) { return Edit(k, count, true, true, 0); }
