#include "views/JsonWriter.h"

namespace views {

namespace {

void WriteQuoted(std::FILE* out, const char* text) {
  std::fputc('"', out);
  for (const char* p = text; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\') {
      std::fputc('\\', out);
      std::fputc(c, out);
    } else if (c < 0x20) {
      std::fprintf(out, "\\u%04x", c);
    } else {
      std::fputc(c, out);
    }
  }
  std::fputc('"', out);
}

}  // namespace

void JsonWriter::Next(const char* key) {
  const bool flat = depth_ > 0 && inline_[depth_ - 1];
  if (depth_ > 0) {
    if (!empty_[depth_ - 1]) std::fputc(',', out_);
    std::fputs(flat ? (empty_[depth_ - 1] ? "" : " ") : "\n", out_);
    empty_[depth_ - 1] = false;
  }
  for (int i = 0; i < depth_ && !flat; ++i) std::fputs("  ", out_);
  if (key != nullptr) {
    WriteQuoted(out_, key);
    std::fputs(": ", out_);
  }
}

void JsonWriter::Begin(const char* key, char bracket, bool inlined) {
  if (depth_ == kMaxDepth) return;
  Next(key);
  std::fputc(bracket, out_);
  closer_[depth_] = bracket == '{' ? '}' : ']';
  empty_[depth_] = true;
  inline_[depth_] = inlined || (depth_ > 0 && inline_[depth_ - 1]);
  ++depth_;
}

void JsonWriter::End() {
  if (depth_ == 0) return;
  --depth_;
  if (!empty_[depth_] && !inline_[depth_]) {
    std::fputc('\n', out_);
    for (int i = 0; i < depth_; ++i) std::fputs("  ", out_);
  }
  std::fputc(closer_[depth_], out_);
  if (depth_ == 0) std::fputc('\n', out_);
}

void JsonWriter::Int(const char* key, std::int64_t value) {
  Next(key);
  std::fprintf(out_, "%lld", static_cast<long long>(value));
}

void JsonWriter::Bool(const char* key, bool value) {
  Next(key);
  std::fputs(value ? "true" : "false", out_);
}

void JsonWriter::Null(const char* key) {
  Next(key);
  std::fputs("null", out_);
}

void JsonWriter::String(const char* key, const char* text) {
  Next(key);
  WriteQuoted(out_, text);
}

}  // namespace views
