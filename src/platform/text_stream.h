// Text mode as the program defines it on every platform: reading turns CR LF
// into LF, keeps a lone CR and ends the text at a Ctrl-Z byte; writing turns
// every LF into CR LF.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "platform/file.h"

namespace platform {

/// Translates raw file bytes, in any chunks, into the text a text-mode read sees.
class TextModeDecoder {
 public:
  /// Decodes length raw bytes into out, which must hold length + 1 bytes (a CR
  /// held back from the previous chunk). Returns the count written.
  std::size_t Decode(const char* raw, std::size_t length, char* out);
  /// At the end of the input: writes a CR still held back; returns 0 or 1.
  std::size_t Finish(char* out);
  /// A Ctrl-Z was seen: nothing after it belongs to the text.
  bool Ended() const { return ended_; }

 private:
  bool pendingCr_ = false;
  bool ended_ = false;
};

constexpr std::size_t kFileBlockSize = 64 * 1024;

/// Reads a file in text mode through bounded buffers, in blocks or in lines.
class TextFileReader {
 public:
  TextFileReader();
  ~TextFileReader();
  TextFileReader(const TextFileReader&) = delete;
  TextFileReader& operator=(const TextFileReader&) = delete;

  /// False when the file cannot be opened for reading. "-" is standard input.
  bool Open(const char* path);
  /// Whether the open file can be read again from its start.
  bool IsRegular() const { return file_ != kNoFile && IsRegularFile(file_); }
  void Close();

  /// Reads translated text into out; 0 at the end of the text, -1 on a read error.
  std::ptrdiff_t Read(char* out, std::size_t capacity);

  struct Line {
    std::size_t length = 0;  // bytes stored, the LF included
    bool lineEnd = false;    // the line's LF was read
    bool failed = false;     // a read error
  };
  /// Reads up to and including the next LF, at most capacity - 1 bytes, and
  /// terminates out. A length of 0 without failure means the end of the text.
  Line ReadLine(char* out, std::size_t capacity);

 private:
  bool Fill();  // false on a read error

  FileHandle file_ = kNoFile;
  TextModeDecoder decoder_;
  std::unique_ptr<char[]> raw_;
  std::unique_ptr<char[]> text_;
  std::size_t textStart_ = 0;
  std::size_t textEnd_ = 0;
  bool atEnd_ = false;
};

/// Writes text with every LF as CR LF through sink(data, length), in bounded
/// pieces. Returns false as soon as the sink fails.
template <typename Sink>
bool WriteTextMode(std::string_view text, Sink&& sink) {
  constexpr std::size_t kPiece = 1024;
  char piece[kPiece];
  std::size_t used = 0;
  for (char c : text) {
    if (used + 2 > kPiece) {
      if (!sink(piece, used)) return false;
      used = 0;
    }
    if (c == '\n') piece[used++] = '\r';
    piece[used++] = c;
  }
  return used == 0 || sink(piece, used);
}

/// Whether the text-mode reader can open the file (opened and closed at once).
bool CanOpenForReading(const char* path);

}  // namespace platform
