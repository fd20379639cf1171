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

void Sink::Puts(const char* text) {
  if (lost_ || *text == '\0') return;
  errno = 0;
  Check(std::fputs(text, stream_) != EOF);
}

void Sink::Putc(char c) {
  if (lost_) return;
  errno = 0;
  Check(std::fputc(static_cast<unsigned char>(c), stream_) != EOF);
}

void Sink::Printf(const char* format, ...) {
  if (lost_) return;
  errno = 0;
  std::va_list arguments;
  va_start(arguments, format);
  Check(std::vfprintf(stream_, format, arguments) >= 0);
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
  errno = 0;
  Check(std::fflush(stream_) == 0);
}

bool Sink::Finish() {
  Flush();
  errno = 0;
  Check(std::ferror(stream_) == 0);
  return !lost_;
}

}  // namespace output
