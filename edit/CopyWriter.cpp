// The copy from a producer: the refusals of a target that replacing
// would harm, the temporary file, its check and its publishing.
#include "edit/CopyWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "edit/Plan.h"
#include "platform/Platform.h"

namespace edit {

bool OpenLocked(diskimage::DiskImage& original, const ContainerLock& lock, const char* container,
                Outcome* outcome) {
  // The survey reads the file locked, whatever the path names by now;
  // where an open file cannot be replaced, it keeps no second one open.
  const bool opened = platform::kOpenFilesReplaceable ? original.OpenDescriptor(lock.Descriptor())
                                                      : OpenContainerFile(original, container);
  if (!opened) return Fail(outcome, "cannot open %s: %s", Shown(container), std::strerror(errno));
  return true;
}

bool WriteProducedCopy(diskimage::DiskImage& original, ContainerLock& lock, const char* container,
                       const char* output, const CopyProducer& producer, Outcome* outcome) {
  const bool inPlace = output == nullptr;
  const char* target = inPlace ? container : output;
  const platform::FileIdentity& locked = lock.Identity();
  if (inPlace && platform::IsLink(container))
    return Fail(outcome,
                "%s is a symbolic link, which replacing would cut; write the result with -o OUT; "
                "nothing written",
                Shown(container));
  if (inPlace && locked.links > 1)
    return Fail(outcome,
                "%s has %d hard links, which replacing would part; write the result with -o OUT; "
                "nothing written",
                Shown(container), locked.links);
  if (!inPlace) {
    const int error = LookAt(output);
    if (error != ENOENT)
      return Fail(outcome, "cannot write %s: %s; nothing written", Shown(output),
                  std::strerror(error));
  }
  std::FILE* source = platform::OpenStream(container, "rb");
  if (source == nullptr)
    return Fail(outcome, "cannot open %s: %s", Shown(container), std::strerror(errno));
  platform::FileIdentity streamed;
  if (!platform::IdentityOfDescriptor(fileno(source), &streamed) ||
      !platform::SameFile(streamed, locked) || original.GetFileSize() != locked.size) {
    std::fclose(source);
    return Fail(outcome, "cannot write %s: the container changed during the run; nothing written",
                Shown(target));
  }
  IgnoreFileSizeSignal();
  FindLeftover(target, outcome->leftover);
  TempFile temp;
  const int fd = temp.Create(target, streamed.mode);
  if (fd < 0) {
    const int error = errno;
    std::fclose(source);
    return Fail(outcome, "cannot write %s: %s; nothing written", Shown(target),
                std::strerror(error));
  }
  platform::TakeOwnerAndMode(fd, streamed, inPlace);
  const char* problem = producer.write(producer.context, source, fd);
  std::fclose(source);
  if (problem == nullptr && !Flush(fd)) problem = std::strerror(errno);
  if (!platform::Close(fd) && problem == nullptr) problem = std::strerror(errno);
  platform::FileIdentity now;
  if (problem == nullptr) problem = producer.check(producer.context, temp.Path());
  if (problem != nullptr) {
    // Its own message stands.
  } else if (!platform::IdentityOfPath(container, &now) || !platform::SameFile(now, locked)) {
    problem = "the container changed during the run";
  } else if (!original.Open(nullptr)) {  // Windows replaces no file still open
    problem = "the container cannot be closed";
  }
  if (problem != nullptr) {
    temp.Drop();
    return Fail(outcome, "cannot write %s: %s; nothing written", Shown(target), problem);
  }
  if (!inPlace) {
    if (!temp.Publish(target, outcome, "write")) return false;
  } else {
    // The last check of the file is done; its open lock would stop the move.
    if (!platform::kOpenFilesReplaceable) lock.Release();
    // Moved over target, flushed to the disk.
    if (!platform::Rename(temp.Path(), target)) {
      const int failure = errno;
      temp.Drop();
      return Fail(outcome, "cannot write %s: %s; nothing written", Shown(target),
                  std::strerror(failure));
    }
  }
  outcome->changed = true;
  temp.Release();
  return !FlushFailed(target, outcome);
}

}  // namespace edit
