#include "platform/text_stream.h"

#include <cstring>

namespace platform {
namespace {
constexpr char kCtrlZ = 0x1A;
}

std::size_t TextModeDecoder::Decode(const char* raw, std::size_t length, char* out) {
  if (ended_) return 0;
  if (const void* ctrlZ = std::memchr(raw, kCtrlZ, length)) {
    length = static_cast<std::size_t>(static_cast<const char*>(ctrlZ) - raw);
    ended_ = true;
  }
  char* start = out;
  const char* end = raw + length;
  if (pendingCr_ && raw < end) {
    pendingCr_ = false;
    if (*raw == '\n') {
      *out++ = '\n';
      ++raw;
    } else {
      *out++ = '\r';
    }
  }
  while (raw < end) {
    const char* cr = static_cast<const char*>(std::memchr(raw, '\r', static_cast<std::size_t>(end - raw)));
    const char* stop = cr ? cr : end;
    std::memcpy(out, raw, static_cast<std::size_t>(stop - raw));
    out += stop - raw;
    raw = stop;
    if (!cr) break;
    if (cr + 1 == end) {
      pendingCr_ = true;  // the next chunk decides
      break;
    }
    if (cr[1] == '\n') {
      *out++ = '\n';
      raw = cr + 2;
    } else {
      *out++ = '\r';
      raw = cr + 1;
    }
  }
  // A CR just before the Ctrl-Z has no LF after it.
  if (ended_ && pendingCr_) {
    pendingCr_ = false;
    *out++ = '\r';
  }
  return static_cast<std::size_t>(out - start);
}

std::size_t TextModeDecoder::Finish(char* out) {
  if (!pendingCr_) return 0;
  pendingCr_ = false;
  out[0] = '\r';
  return 1;
}

TextFileReader::TextFileReader()
    : raw_(new char[kFileBlockSize]), text_(new char[kFileBlockSize + 1]) {}

TextFileReader::~TextFileReader() { Close(); }

bool TextFileReader::Open(const char* path) {
  Close();
  file_ = std::string_view(path) == "-" ? OpenStandardInput() : OpenForReading(path);
  decoder_ = TextModeDecoder();
  textStart_ = textEnd_ = 0;
  atEnd_ = false;
  return file_ != kNoFile;
}

void TextFileReader::Close() {
  if (file_ != kNoFile) CloseFile(file_);
  file_ = kNoFile;
}

bool TextFileReader::Fill() {
  textStart_ = textEnd_ = 0;
  while (textEnd_ == 0 && !atEnd_) {
    if (decoder_.Ended()) {
      atEnd_ = true;
      break;
    }
    std::ptrdiff_t got = ReadFile(file_, raw_.get(), kFileBlockSize);
    if (got < 0) return false;
    if (got == 0) {
      textEnd_ = decoder_.Finish(text_.get());
      atEnd_ = true;
      break;
    }
    textEnd_ = decoder_.Decode(raw_.get(), static_cast<std::size_t>(got), text_.get());
  }
  return true;
}

std::ptrdiff_t TextFileReader::Read(char* out, std::size_t capacity) {
  if (textStart_ == textEnd_ && !Fill()) return -1;
  std::size_t count = textEnd_ - textStart_;
  if (count > capacity) count = capacity;
  std::memcpy(out, text_.get() + textStart_, count);
  textStart_ += count;
  return static_cast<std::ptrdiff_t>(count);
}

TextFileReader::Line TextFileReader::ReadLine(char* out, std::size_t capacity) {
  Line line;
  while (line.length + 1 < capacity && !line.lineEnd) {
    if (textStart_ == textEnd_) {
      if (!Fill()) {
        line.failed = true;
        break;
      }
      if (textStart_ == textEnd_) break;  // end of the text
    }
    std::size_t room = capacity - 1 - line.length;
    std::size_t available = textEnd_ - textStart_;
    const char* start = text_.get() + textStart_;
    const void* lf = std::memchr(start, '\n', available < room ? available : room);
    std::size_t take = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - start) + 1
                          : (available < room ? available : room);
    std::memcpy(out + line.length, start, take);
    line.length += take;
    textStart_ += take;
    line.lineEnd = lf != nullptr;
  }
  if (capacity > 0) out[line.length] = '\0';
  return line;
}

bool CanOpenForReading(const char* path) {
  FileHandle file = OpenForReading(path);
  if (file == kNoFile) return false;
  CloseFile(file);
  return true;
}

}  // namespace platform
