// One output stream of d88 over a C stream, or over a buffer that hands its
// text on when full, with a sticky error: the first write the system
// refuses is kept, with its errno, and everything after it is dropped, so a
// run checks its output once, at the end.
#ifndef D88EXTRACT_OUTPUT_SINK_H
#define D88EXTRACT_OUTPUT_SINK_H

#include <cstddef>
#include <cstdio>

#if defined(__MINGW32__)
#define D88_PRINTF_LIKE(formatAt, argumentsAt) \
  __attribute__((format(__MINGW_PRINTF_FORMAT, formatAt, argumentsAt)))
#elif defined(__GNUC__)
#define D88_PRINTF_LIKE(formatAt, argumentsAt) \
  __attribute__((format(printf, formatAt, argumentsAt)))
#else
#define D88_PRINTF_LIKE(formatAt, argumentsAt)
#endif

namespace output {

// Where a sink over a buffer hands its text: drain(context, bytes, length)
// takes the bytes before the buffer is reused.
struct Drain {
  void (*drain)(void* context, const char* bytes, std::size_t length);
  void* context;
};

class Sink {
 public:
  explicit Sink(std::FILE* stream) : stream_(stream) {}
  // Collects the text in buffer (size bytes) and hands it to drain when it
  // is full and at each Flush, so that one thread's text reaches a stream
  // as another thread decides.  Stream() is then null.
  Sink(char* buffer, std::size_t size, Drain drain) : buffer_(buffer), size_(size), drain_(drain) {}
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  // Each writes its text unless an earlier write was lost.
  void Puts(const char* text);
  void Putc(char c);
  void Printf(const char* format, ...) D88_PRINTF_LIKE(2, 3);
  void Write(const char* bytes, std::size_t length);

  // Writes text (a name's raw bytes, a path, an argument) as it stands,
  // controls as \xNN (see ControlBytes).
  void Escaped(const char* text);
  // Writes the Shift_JIS name bytes decoded into UTF-8, each control as the
  // \xNN of the bytes it came from.
  void DecodedName(const char* bytes);

  // Hands the buffered text to the system (or to the drain), so that
  // another stream's text comes after it.
  void Flush();
  // Flushes; true when every byte reached the system.  Otherwise Error()
  // gives the errno of the first loss.
  bool Finish();
  int Error() const { return error_; }

  // The stream, to ask whether it is a terminal.
  std::FILE* Stream() const { return stream_; }

 private:
  // Keeps the first loss: written false, with errno saying why.
  void Check(bool written);
  // Adds length bytes to the buffer, draining it first when they do not fit.
  void Append(const char* bytes, std::size_t length);

  std::FILE* stream_ = nullptr;  // where the text goes; null for a buffer
  char* buffer_ = nullptr;       // the text not yet drained
  std::size_t size_ = 0;         // bytes buffer_ holds
  std::size_t used_ = 0;         // bytes of buffer_ in use
  Drain drain_ = {};             // where a full buffer goes
  bool lost_ = false;            // a write was refused; nothing more is written
  int error_ = 0;                // errno of the first refusal
};

}  // namespace output

#endif
