#include "smtp/reply_reader.h"

#include <cstring>

namespace {
constexpr std::size_t kCodeLength = 3;
}

std::size_t ReplyScanner::Scan(const char* data, std::size_t length) {
  while (scanned_ < length) {
    const void* lf = std::memchr(data + scanned_, '\n', length - scanned_);
    if (lf == nullptr) {
      scanned_ = length;
      return 0;
    }
    std::size_t lineEnd = static_cast<std::size_t>(static_cast<const char*>(lf) - data) + 1;
    bool continued = lineEnd - lineStart_ > kCodeLength && data[lineStart_ + kCodeLength] == '-';
    scanned_ = lineEnd;
    if (!continued) {
      lineStart_ = scanned_;
      return lineEnd;
    }
    lineStart_ = lineEnd;
  }
  return 0;
}

std::string_view ReplyCode(std::string_view reply) {
  std::size_t end = reply.size();
  if (end > 0 && reply[end - 1] == '\n') --end;
  if (end > 0 && reply[end - 1] == '\r') --end;
  std::size_t lastLine = reply.rfind('\n', end == 0 ? 0 : end - 1);
  lastLine = (lastLine == std::string_view::npos || lastLine >= end) ? 0 : lastLine + 1;
  std::string_view line = reply.substr(lastLine, end - lastLine);
  return line.substr(0, kCodeLength);
}
