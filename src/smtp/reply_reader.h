// Finding where one relay reply ends in the bytes received so far.
#pragma once

#include <cstddef>
#include <string_view>

/// The ReplyBuffer holds one whole reply, all its lines, and what follows it.
/// 64 KiB rather than 200 bytes: replies are read whole, not one receive each.
constexpr std::size_t kReplyBufferCapacity = 64 * 1024;

/// Scans received bytes for the end of one reply. Lines end with LF (normally
/// CR LF); a line whose code is followed by "-" is continued, and any other
/// line ends the reply. Scanning resumes where the previous call stopped, so
/// bytes can arrive in any chunks.
class ReplyScanner {
 public:
  /// Scans data, of which the first bytes were seen by earlier calls. Returns
  /// the length of the complete reply, its last line end included, or 0 when
  /// more bytes are needed.
  std::size_t Scan(const char* data, std::size_t length);
  void Reset() { lineStart_ = scanned_ = 0; }

 private:
  std::size_t lineStart_ = 0;
  std::size_t scanned_ = 0;
};

/// The ReplyCode of a complete reply: the first three bytes of its last
/// line, or fewer when that line is shorter.
std::string_view ReplyCode(std::string_view reply);
