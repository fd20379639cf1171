// The one writer both plans share: the survey of the disk, the patched
// stream and the read-back of the copy.
#include "change/Editor.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "output/NameText.h"

namespace change {

void Begin(Outcome* outcome) {
  outcome->surveyed = false;
  outcome->changed = false;
  outcome->message[0] = '\0';
  outcome->leftover[0] = '\0';
}

bool Fail(Outcome* outcome, const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(outcome->message, sizeof outcome->message, format, arguments);
  va_end(arguments);
  return false;
}

const char* Shown(const char* text) {
  static char shown[4][4 * 256 + 1];
  static int next = 0;
  char* out = shown[next];
  next = (next + 1) % 4;
  output::EscapeControls(text, out, sizeof shown[0]);
  return out;
}

bool ToDiskName(Converter convert, const char* text, char* out, int outSize, Outcome* outcome) {
  const Conversion conversion = convert(text, out, outSize);
  if (conversion == Conversion::kNoConverter)
    return Fail(outcome,
                "cannot convert names to Shift_JIS: the system has no converter; nothing written");
  if (conversion == Conversion::kNoForm)
    return Fail(outcome, "the name \"%s\" has no Shift_JIS form; nothing written", Shown(text));
  return true;
}

void DosStamp(std::time_t when, std::uint16_t* date, std::uint16_t* time) {
  std::tm local{};
#if defined(_WIN32)
  if (const std::tm* converted = std::localtime(&when)) local = *converted;
#else
  localtime_r(&when, &local);
#endif
  const int year = std::min(std::max(local.tm_year + 1900, 1980), 2107);
  *date = static_cast<std::uint16_t>((year - 1980) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
  *time = static_cast<std::uint16_t>(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
}

const char* BaseName(const char* path) {
  const char* base = path;
  for (const char* c = path; *c != '\0'; ++c) {
    if (*c == '/') base = c + 1;
#if defined(_WIN32)
    if (*c == '\\' || *c == ':') base = c + 1;
#endif
  }
  return base;
}

namespace {

// Fails the edit for a read of the container that failed with error.
bool CannotRead(const char* container, int error, Outcome* outcome) {
  return Fail(outcome, "cannot read %s: %s; nothing written", Shown(container),
              std::strerror(error));
}

}  // namespace

bool Editor::Plan(diskimage::DiskImage& original, const Request& request, HostFiles& files,
                  Outcome* outcome) {
  const int k = request.image;
  image_ = k;
  fat12_ = false;
  fileSize_ = original.GetFileSize();
  patches_.count = 0;
  const int images = survey::CountImages(original);
  const bool surveyed = k < images && survey::SurveyDisk(original, k, &before_);
  if (original.GetReadError() != 0)
    return CannotRead(request.container, original.GetReadError(), outcome);
  if (!surveyed)
    return Fail(outcome, "%s has no image %d (it holds %d)", Shown(request.container), k, images);
  outcome->surveyed = true;
  outcome->image = before_.image;
  // FAT12 disks of any shape have their own plan; the flat directory
  // needs its medium known.
  survey::ReadFileSystem(original, before_, fileSystems_, survey::FileSystemChoice::kAny);
  if (original.GetReadError() != 0)
    return CannotRead(request.container, original.GetReadError(), outcome);
  if (fileSystems_.IsFat12()) {
    fat12_ = true;
    return fat_.Make(original, before_, fileSystems_, request, files, patches_, outcome);
  }
  if (before_.image.medium == nullptr)
    return Fail(outcome, "image %d: medium unknown (media byte 0x%02x); nothing written", k,
                before_.image.mediaByte);
  if (fileSystems_.chosen == nullptr)
    return Fail(outcome, "image %d: no file system recognised; nothing written", k);
  if (request.folders) return Fail(outcome, "the flat directory has no folders; nothing written");
  if (!fileSystems_.IsFlat())
    return Fail(outcome, "image %d: a %s disk; only the flat directory is written; nothing written",
                k, fileSystems_.chosen->Name());
  if (before_.directoryDamage.count > 0)
    return Fail(outcome, "image %d: the directory is damaged; nothing written", k);
  const bool planned = flat_.Make(original, images, before_, request, files, patches_, outcome);
  if (original.GetReadError() != 0)
    return CannotRead(request.container, original.GetReadError(), outcome);
  return planned;
}

const char* Editor::WriteCopy(std::FILE* source, CopySink& sink) {
  bool differs = false;
  std::int64_t at = 0;
  for (;;) {
    const std::size_t got = std::fread(buffer_, 1, sizeof buffer_, source);
    if (got == 0) break;
    // Lays the patches over the chunk, noting a byte under one that is not
    // as surveyed.
    for (int i = 0; i < patches_.count; ++i) {
      const Patch& patch = patches_.list[i];
      const std::int64_t from = std::max(at, patch.position);
      const std::int64_t to =
          std::min(at + static_cast<std::int64_t>(got), patch.position + patch.length);
      if (from >= to) continue;
      if (patch.was != nullptr &&
          std::memcmp(buffer_ + (from - at), patch.was + (from - patch.position),
                      static_cast<std::size_t>(to - from)) != 0)
        differs = true;
      std::memcpy(buffer_ + (from - at), patch.bytes + (from - patch.position),
                  static_cast<std::size_t>(to - from));
    }
    if (!sink.Write(buffer_, got)) return std::strerror(errno);
    at += static_cast<std::int64_t>(got);
  }
  if (std::ferror(source)) return std::strerror(errno);
  if (at != fileSize_) return "the container changed size during the run";
  if (differs) return "the container changed during the run";
  return nullptr;
}

bool SameDisk(const survey::DiskSurvey& a, const survey::DiskSurvey& b) {
  return a.image.medium == b.image.medium && a.slots == b.slots && a.fileCount == b.fileCount &&
         a.strayRecords == b.strayRecords && a.directoryDamage.count == b.directoryDamage.count &&
         std::memcmp(a.directory, b.directory, sizeof a.directory) == 0 &&
         std::memcmp(a.data, b.data, sizeof a.data) == 0 &&
         std::equal(a.sectors, a.sectors + a.slots, b.sectors);
}

bool Editor::ReadsBack(diskimage::DiskImage& original, diskimage::DiskImage& check) {
  const int images = survey::CountImages(original);
  bool same = check.GetFileSize() == fileSize_ && survey::CountImages(check) == images;
  for (int j = 0; same && j < images; ++j) {
    same = survey::SurveyDisk(check, j, &after_);
    if (j == image_) {
      same = same && (fat12_ ? fat_.ReadsAsPlanned(check, after_, afterFileSystems_)
                             : flat_.ReadsAsPlanned(after_));
    } else {
      same = same && survey::SurveyDisk(original, j, &other_) && SameDisk(other_, after_);
    }
  }
  // What failed to read was compared as nothing.
  return same && check.GetReadError() == 0 && original.GetReadError() == 0;
}

}  // namespace change
