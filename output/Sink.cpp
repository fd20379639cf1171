#include "output/Sink.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "output/NameText.h"

namespace output {

void Sink::Check(bool written) {
  if (written || lost_) return;
  lost_ = true;
  // A stream can fail without saying why; EIO is the nearest reason.
  error_ = errno != 0 ? errno : EIO;
}

void Sink::Append(const char* bytes, std::size_t length) {
  if (used_ + length > size_) Flush();
  if (length > size_) {
    drain_.drain(drain_.context, bytes, length);
    return;
  }
  std::memcpy(buffer_ + used_, bytes, length);
  used_ += length;
}

void Sink::Puts(const char* text) {
  if (lost_ || *text == '\0') return;
  if (stream_ == nullptr) return Append(text, std::strlen(text));
  errno = 0;
  Check(std::fputs(text, stream_) != EOF);
}

void Sink::Write(const char* bytes, std::size_t length) {
  if (lost_ || length == 0) return;
  if (stream_ == nullptr) return Append(bytes, length);
  errno = 0;
  Check(std::fwrite(bytes, 1, length, stream_) == length);
}

void Sink::Putc(char c) {
  if (lost_) return;
  if (stream_ == nullptr) return Append(&c, 1);
  errno = 0;
  Check(std::fputc(static_cast<unsigned char>(c), stream_) != EOF);
}

void Sink::Printf(const char* format, ...) {
  if (lost_) return;
  errno = 0;
  std::va_list arguments;
  va_start(arguments, format);
  if (stream_ != nullptr) {
    Check(std::vfprintf(stream_, format, arguments) >= 0);
  } else {
    // Every format of this program gives a short line.
    char text[1024];
    const int length = std::vsnprintf(text, sizeof text, format, arguments);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof text) errno = EOVERFLOW;
    Check(length >= 0 && static_cast<std::size_t>(length) < sizeof text);
    if (!lost_) Append(text, static_cast<std::size_t>(length));
  }
  va_end(arguments);
}

void Sink::DecodedName(const char* bytes) {
  char text[kNameTextBytes];
  DecodeName(bytes, std::strlen(bytes), text, sizeof text, Controls::kEscape);
  Puts(text);
}

void Sink::Escaped(const char* text) {
  for (const char* p = text; *p != '\0';) {
    const std::size_t control = ControlBytes(p);
    for (std::size_t i = 0; i < control; ++i) Printf("\\x%02x", static_cast<unsigned char>(p[i]));
    if (control == 0) Putc(*p);
    p += control > 0 ? control : 1;
  }
}

void Sink::Flush() {
  if (lost_) return;
  if (stream_ == nullptr) {
    if (used_ > 0) drain_.drain(drain_.context, buffer_, used_);
    used_ = 0;
    return;
  }
  errno = 0;
  Check(std::fflush(stream_) == 0);
}

bool Sink::Finish() {
  Flush();
  if (stream_ == nullptr) return !lost_;
  errno = 0;
  Check(std::ferror(stream_) == 0);
  return !lost_;
}

}  // namespace output
