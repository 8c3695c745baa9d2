// The connection: whole replies from any chunks, bounded waits, full sends.
#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "smtp/connection.h"
#include "smtp/reply_reader.h"

namespace {

using platform::IoResult;
using platform::IoStatus;

// Hands out scripted pieces, then what the script ends with.
struct ScriptedReads {
  explicit ScriptedReads(std::deque<std::string> script = {}, IoStatus end = IoStatus::kClosed)
      : pieces(std::move(script)), atEnd(end) {}
  std::deque<std::string> pieces;
  IoStatus atEnd;
  std::vector<int> timeouts;  // the bound passed to each call

  IoResult operator()(char* buffer, std::size_t capacity, int timeoutMs) {
    timeouts.push_back(timeoutMs);
    if (pieces.empty()) return {atEnd, 0};
    std::string& next = pieces.front();
    std::size_t count = std::min(capacity, next.size());
    next.copy(buffer, count);
    next.erase(0, count);
    if (next.empty()) pieces.pop_front();
    return {IoStatus::kDone, count};
  }
};

Connection MakeConnection(ScriptedReads& reads, std::string* sent = nullptr, std::size_t sendLimit = 1 << 20) {
  ConnectionOps ops;
  ops.receive = [&reads](char* b, std::size_t c, int t) { return reads(b, c, t); };
  ops.send = [sent, sendLimit](const char* data, std::size_t length, int) {
    std::size_t count = std::min(length, sendLimit);
    if (sent) sent->append(data, count);
    return IoResult{IoStatus::kDone, count};
  };
  ops.close = [] {};
  return Connection(std::move(ops), ReplyBounds());
}

TEST(ReplyScanner, FindsTheEndOfOneReply) {
  struct Case {
    std::string bytes;
    std::size_t end;
    std::string code;
  } cases[] = {
      {"220 ready\r\n", 11, "220"},
      {"250-one\r\n250-two\r\n250 three\r\nnext", 29, "250"},
      {"250-one\r\n", 0, ""},
      {"354\r\n", 5, "354"},
      {"25\r\n", 4, "25"},
      {"250 bare lf\n", 12, "250"},
      {"\r\n", 2, ""},
      {"250-a\r\n550 b\r\n", 14, "550"},
  };
  for (const Case& c : cases) {
    ReplyScanner whole;
    EXPECT_EQ(whole.Scan(c.bytes.data(), c.bytes.size()), c.end) << c.bytes;
    // Byte by byte gives the same end.
    ReplyScanner bytewise;
    std::size_t end = 0;
    for (std::size_t n = 1; n <= c.bytes.size() && end == 0; ++n) end = bytewise.Scan(c.bytes.data(), n);
    EXPECT_EQ(end, c.end) << c.bytes;
    if (c.end > 0) {
      EXPECT_EQ(ReplyCode(std::string_view(c.bytes).substr(0, c.end)), c.code);
    }
  }
}

TEST(Connection, ReplySplitAcrossReadsAndBytesKeptForTheNext) {
  ScriptedReads reads({"220-first\r", "\n220 second\r\n250 ", "next\r\n"});
  Connection connection = MakeConnection(reads);
  Reply greeting = connection.ReadReply(Milliseconds(1000));
  EXPECT_EQ(greeting.status, ReplyStatus::kComplete);
  EXPECT_EQ(greeting.text, "220-first\r\n220 second\r\n");
  Reply next = connection.ReadReply(Milliseconds(1000));
  EXPECT_EQ(next.status, ReplyStatus::kComplete);
  EXPECT_EQ(next.text, "250 next\r\n");
  Reply closed = connection.ReadReply(Milliseconds(1000));
  EXPECT_EQ(closed.status, ReplyStatus::kClosed);
  EXPECT_EQ(closed.text, "");
  for (int timeout : reads.timeouts) EXPECT_LE(timeout, 1000);
}

TEST(Connection, PartialReplyThenCloseOrTimeout) {
  ScriptedReads closing({"250 no line end"});
  Connection a = MakeConnection(closing);
  Reply reply = a.ReadReply(Milliseconds(1000));
  EXPECT_EQ(reply.status, ReplyStatus::kClosed);
  EXPECT_EQ(reply.text, "250 no line end");

  ScriptedReads silent({"250-more to come\r\n"}, IoStatus::kTimedOut);
  Connection b = MakeConnection(silent);
  EXPECT_EQ(b.ReadReply(Milliseconds(1000)).status, ReplyStatus::kTimedOut);
}

TEST(Connection, ReplyCappedAt64KiB) {
  ScriptedReads reads({std::string(kReplyBufferCapacity - 1, 'x'), "yyyy\r\n"});
  Connection connection = MakeConnection(reads);
  Reply reply = connection.ReadReply(Milliseconds(1000));
  EXPECT_EQ(reply.status, ReplyStatus::kTooLong);
  EXPECT_EQ(reply.text.size(), kReplyBufferCapacity);

  ScriptedReads fits({"250-" + std::string(kReplyBufferCapacity - 14, 'x') + "\r\n", "250 ok\r\n"});
  Connection other = MakeConnection(fits);  // exactly 64 KiB
  EXPECT_EQ(other.ReadReply(Milliseconds(1000)).status, ReplyStatus::kComplete);
}

TEST(Connection, SendLoopsOverPartialSends) {
  ScriptedReads reads;
  std::string sent;
  Connection connection = MakeConnection(reads, &sent, 3);
  EXPECT_TRUE(connection.Send("HELO example.com\r\n", Milliseconds(1000)));
  EXPECT_EQ(sent, "HELO example.com\r\n");
  connection.Close();
  EXPECT_FALSE(connection.Send("QUIT\r\n", Milliseconds(1000)));
}

}  // namespace
