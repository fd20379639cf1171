// A streaming JSON writer over an output sink: objects and arrays nest up
// to a fixed depth, values are written as they come, two spaces per level.
// Enough for the documents of this program, and nothing is held in memory.
#ifndef D88EXTRACT_VIEWS_JSONWRITER_H
#define D88EXTRACT_VIEWS_JSONWRITER_H

#include <cstdint>

#include "output/Sink.h"

namespace views {

class JsonWriter {
 public:
  // With compact, every document is one line without spaces: JSON Lines.
  explicit JsonWriter(output::Sink& out, bool compact = false) : out_(out), compact_(compact) {}

  // Each call writes one member (key given) or one array element (key
  // null).  Begin opens '{' or '[', End closes the innermost one; closing
  // the outermost ends the line.  An inline level and everything in it is
  // written on one line.  A Begin past kMaxDepth, or an End with nothing
  // open, breaks the document: from then on nothing more is written.
  void Begin(const char* key, char bracket, bool inlined = false);
  void End();
  void Int(const char* key, std::int64_t value);
  void Bool(const char* key, bool value);
  void Null(const char* key);
  // text is UTF-8; quotes, backslashes and control characters are escaped.
  void String(const char* key, const char* text);

  // True once the document is broken; its text is then incomplete and the
  // run must fail.
  bool Broken() const { return broken_; }

 private:
  static constexpr int kMaxDepth = 8;

  // Writes the separator, line break, indent and key before a value.
  void Next(const char* key);

  output::Sink& out_;            // where the document goes
  bool compact_;                 // one line, no spaces
  int depth_ = 0;                // open objects and arrays
  char closer_[kMaxDepth] = {};  // '}' or ']' for each open level
  bool empty_[kMaxDepth] = {};   // no value written yet at that level
  bool inline_[kMaxDepth] = {};  // that level is written on one line
  bool broken_ = false;          // nesting went wrong; nothing more is written
};

}  // namespace views

#endif
