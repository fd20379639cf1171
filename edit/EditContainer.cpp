// An edit of a container on this machine: the host files read from their
// paths, the editor's plan made with the container locked, and its copy
// written beside the target, read back and published.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "edit/CopyWriter.h"
#include "edit/Edit.h"
#include "edit/Plan.h"
#include "platform/Platform.h"

namespace edit {

namespace {

// The host files an add takes, read from their paths.
class HostFilesOnDisk final : public change::HostFiles {
 public:
  bool Open(const char* path, change::HostFile* file, Outcome* outcome) override {
    file_ = platform::OpenStream(path, "rb");
    if (file_ == nullptr)
      return Fail(outcome, "cannot open %s: %s; nothing written", Shown(path),
                  std::strerror(errno));
    std::int64_t size = 0;
    std::time_t modified = 0;
    if (!platform::PlainFileFacts(file_, &size, &modified)) {
      Close();
      return Fail(outcome, "%s is not a plain file; nothing written", Shown(path));
    }
    size_ = static_cast<long long>(size);
    *file = change::HostFile{size_, modified};
    return true;
  }

  bool Read(const char* path, std::uint8_t* to, Outcome* outcome) override {
    const std::size_t read = std::fread(to, 1, static_cast<std::size_t>(size_), file_);
    bool done = false;
    if (std::ferror(file_) != 0) {
      Fail(outcome, "cannot read %s: %s; nothing written", Shown(path), std::strerror(errno));
    } else if (read != static_cast<std::size_t>(size_) || std::fgetc(file_) != EOF) {
      Fail(outcome, "%s changed while it was read; nothing written", Shown(path));
    } else {
      done = true;
    }
    Close();
    return done;
  }

  void Close() override {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
  }

 private:
  std::FILE* file_ = nullptr;
  long long size_ = 0;
};

// The copy's file, for the editor's stream.
class DescriptorSink final : public change::CopySink {
 public:
  explicit DescriptorSink(int fd) : fd_(fd) {}
  bool Write(const std::uint8_t* bytes, std::size_t length) override {
    return WriteAll(fd_, bytes, length);
  }

 private:
  int fd_;
};

// The edit under way, for the copy's producer.
struct EditCopy {
  change::Editor* editor;
  diskimage::DiskImage* original;
  diskimage::DiskImage* check;
};

const char* WriteEdit(void* context, std::FILE* source, int fd) {
  DescriptorSink sink(fd);
  return static_cast<EditCopy*>(context)->editor->WriteCopy(source, sink);
}

const char* CheckEdit(void* context, const char* path) {
  const EditCopy& copy = *static_cast<EditCopy*>(context);
  const bool opened = OpenContainerFile(*copy.check, path);
  const bool same = opened && copy.editor->ReadsBack(*copy.original, *copy.check);
  copy.check->Open(nullptr);
  return same ? nullptr : "the copy does not read back as planned";
}

}  // namespace

bool EditContainer(change::Editor& editor, diskimage::DiskImage& original,
                   diskimage::DiskImage& check, const EditRequest& request, Outcome* outcome) {
  change::Begin(outcome);
  ContainerLock lock;
  if (!lock.Take(request.container, outcome)) return false;
  HostFilesOnDisk files;
  EditCopy copy{&editor, &original, &check};
  const bool done = OpenLocked(original, lock, request.container, outcome) &&
                    editor.Plan(original, request, files, outcome) &&
                    WriteProducedCopy(original, lock, request.container, request.output,
                                      CopyProducer{WriteEdit, CheckEdit, &copy}, outcome);
  files.Close();
  original.Open(nullptr);
  return done;
}

}  // namespace edit
