#include "views/JsonWriter.h"

#include "output/NameText.h"

namespace views {

namespace {

// DEL and the C1 controls are escaped too, though JSON allows them, so
// that the document is safe on a terminal; a byte that is not UTF-8 (a
// path's) becomes U+FFFD, so that the document stays JSON.
void WriteQuoted(output::Sink& out, const char* text) {
  out.Putc('"');
  for (const char* p = text; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    const std::size_t control = output::ControlBytes(p);
    const std::size_t character = output::Utf8Bytes(p);
    if (character == 0) {
      out.Puts("\\ufffd");
    } else if (c == '"' || c == '\\') {
      out.Putc('\\');
      out.Putc(*p);
    } else if (control == 2) {
      out.Printf("\\u%04x", static_cast<unsigned char>(p[1]));
      ++p;
    } else if (control == 1) {
      out.Printf("\\u%04x", c);
    } else {
      for (std::size_t i = 1; i < character; ++i) out.Putc(*p++);
      out.Putc(*p);
    }
  }
  out.Putc('"');
}

}  // namespace

void JsonWriter::Next(const char* key) {
  const bool flat = compact_ || (depth_ > 0 && inline_[depth_ - 1]);
  if (depth_ > 0) {
    if (!empty_[depth_ - 1]) out_.Putc(',');
    if (!compact_) out_.Puts(flat ? (empty_[depth_ - 1] ? "" : " ") : "\n");
    empty_[depth_ - 1] = false;
  }
  for (int i = 0; i < depth_ && !flat; ++i) out_.Puts("  ");
  if (key != nullptr) {
    WriteQuoted(out_, key);
    out_.Puts(compact_ ? ":" : ": ");
  }
}

void JsonWriter::Begin(const char* key, char bracket, bool inlined) {
  if (depth_ == kMaxDepth) broken_ = true;
  if (broken_) return;
  Next(key);
  out_.Putc(bracket);
  closer_[depth_] = bracket == '{' ? '}' : ']';
  empty_[depth_] = true;
  inline_[depth_] = inlined || (depth_ > 0 && inline_[depth_ - 1]);
  ++depth_;
}

void JsonWriter::End() {
  if (depth_ == 0) broken_ = true;
  if (broken_) return;
  --depth_;
  if (!empty_[depth_] && !inline_[depth_] && !compact_) {
    out_.Putc('\n');
    for (int i = 0; i < depth_; ++i) out_.Puts("  ");
  }
  out_.Putc(closer_[depth_]);
  if (depth_ == 0) out_.Putc('\n');
}

void JsonWriter::Int(const char* key, std::int64_t value) {
  if (broken_) return;
  Next(key);
  out_.Printf("%lld", static_cast<long long>(value));
}

void JsonWriter::Bool(const char* key, bool value) {
  if (broken_) return;
  Next(key);
  out_.Puts(value ? "true" : "false");
}

void JsonWriter::Null(const char* key) {
  if (broken_) return;
  Next(key);
  out_.Puts("null");
}

void JsonWriter::String(const char* key, const char* text) {
  if (broken_) return;
  Next(key);
  WriteQuoted(out_, text);
}

}  // namespace views
