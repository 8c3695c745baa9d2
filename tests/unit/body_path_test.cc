// The body path: text-mode reading, then the DATA encoding, in any chunks.
#include <gtest/gtest.h>

#include <string>

#include "platform/text_stream.h"
#include "smtp/body_encoder.h"
#include "test_files.h"

namespace {

using namespace std::string_literals;

std::string Decode(const std::string& raw, std::size_t chunk) {
  platform::TextModeDecoder decoder;
  std::string text;
  std::string out(chunk + 1, '\0');
  for (std::size_t at = 0; at < raw.size(); at += chunk) {
    std::size_t length = std::min(chunk, raw.size() - at);
    text.append(out.data(), decoder.Decode(raw.data() + at, length, out.data()));
  }
  text.append(out.data(), decoder.Finish(out.data()));
  return text;
}

std::string Encode(const std::string& text, std::size_t chunk) {
  BodyEncoder encoder;
  std::string wire;
  char out[64];
  for (std::size_t at = 0; at < text.size(); at += chunk) {
    std::size_t length = std::min(chunk, text.size() - at);
    wire.append(out, encoder.Encode(text.data() + at, length, out));
  }
  return wire;
}

TEST(TextModeDecoder, TranslatesWhateverTheChunks) {
  struct Case {
    std::string raw, text;
  } cases[] = {
      {"one\r\ntwo", "one\ntwo"},
      {"lone\rcr\r", "lone\rcr\r"},
      {"cr cr lf\r\r\n", "cr cr lf\r\n"},
      {"end\x1Anot this\r\n", "end"},
      {"cr before end\r\x1Ax", "cr before end\r"},
      {"zero\0byte\n"s, "zero\0byte\n"s},
      {"", ""},
  };
  for (const Case& c : cases) {
    for (std::size_t chunk = 1; chunk <= 8; ++chunk) EXPECT_EQ(Decode(c.raw, chunk), c.text) << c.raw;
  }
}

TEST(BodyEncoder, CrLfLineEndsAndStuffedDots) {
  struct Case {
    std::string text, wire;
  } cases[] = {
      {"one\ntwo", "one\r\ntwo"},
      {".\n..x\n", "..\r\n...x\r\n"},
      {"a.b\n.", "a.b\r\n.."},
      {"lone\r.cr\n", "lone\r.cr\r\n"},
      {"\n\n.\n", "\r\n\r\n..\r\n"},
  };
  for (const Case& c : cases) {
    for (std::size_t chunk = 1; chunk <= 4; ++chunk) EXPECT_EQ(Encode(c.text, chunk), c.wire) << c.text;
  }
}

// Undoing the stuffing and the CR LF of the wire gives back the text.
TEST(BodyEncoder, WireDecodesBackToTheText) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text.push_back("..\n\r\0ab"[(i * 7919 + i / 5) % 7]);
  std::string wire = Encode(text, 33);
  ASSERT_LE(wire.size(), BodyEncoder::MaxEncodedLength(text.size()));
  std::string back;
  bool lineStart = true;
  for (std::size_t i = 0; i < wire.size(); ++i) {
    if (lineStart && wire[i] == '.') ++i;
    if (wire[i] == '\r' && i + 1 < wire.size() && wire[i + 1] == '\n') ++i;
    back.push_back(wire[i]);
    lineStart = wire[i] == '\n';
  }
  EXPECT_EQ(back, text);
  EXPECT_EQ((wire + "\r\n.\r\n").find("\r\n.\r\n"), wire.size()) << "no early end of data";
}

TEST(TextFileReader, LinesUpToTheCapacity) {
  TempDir dir;
  std::string path = dir.Write("lines.txt", "abc\r\n" + std::string(10, 'x') + "\nlast");
  platform::TextFileReader reader;
  ASSERT_TRUE(reader.Open(path.c_str()));
  char line[8];
  auto read = reader.ReadLine(line, sizeof line);
  EXPECT_EQ(std::string(line), "abc\n");
  EXPECT_TRUE(read.lineEnd);
  read = reader.ReadLine(line, sizeof line);
  EXPECT_EQ(std::string(line), "xxxxxxx") << "capacity - 1 bytes, terminated";
  EXPECT_FALSE(read.lineEnd);
  read = reader.ReadLine(line, sizeof line);
  EXPECT_EQ(std::string(line), "xxx\n");
  read = reader.ReadLine(line, sizeof line);
  EXPECT_EQ(std::string(line), "last");
  EXPECT_FALSE(read.lineEnd);
  read = reader.ReadLine(line, sizeof line);
  EXPECT_EQ(read.length, 0u);
  EXPECT_FALSE(read.failed);
}

TEST(TextFileReader, RefusesMissingFilesAndDirectories) {
  TempDir dir;
  platform::TextFileReader reader;
  EXPECT_FALSE(reader.Open((dir.path() + "/missing").c_str()));
  EXPECT_FALSE(reader.Open(dir.path().c_str()));
  EXPECT_FALSE(platform::CanOpenForReading(dir.path().c_str()));
}

TEST(TextFileReader, BlocksOfALargeFileKeepEveryByte) {
  TempDir dir;
  std::string raw;
  for (int i = 0; raw.size() < 3 * platform::kFileBlockSize; ++i) raw += (i % 3 ? "line\r\n" : "cr\r");
  std::string path = dir.Write("big.txt", raw);
  platform::TextFileReader reader;
  ASSERT_TRUE(reader.Open(path.c_str()));
  std::string text;
  char block[1000];
  for (std::ptrdiff_t got; (got = reader.Read(block, sizeof block)) > 0;) text.append(block, static_cast<std::size_t>(got));
  EXPECT_EQ(text, Decode(raw, raw.size()));
}

}  // namespace
