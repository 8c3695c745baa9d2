// One connection to the relay: bounded sends and whole replies, with the
// bytes after a reply kept for the next one.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>

#include "platform/socket.h"
#include "smtp/reply_reader.h"

using Milliseconds = std::chrono::milliseconds;

/// How long the program waits for each connection attempt, each reply and each send.
struct ReplyBounds {
  Milliseconds connect{std::chrono::seconds(30)};   // each attempt at one of the relay's addresses
  Milliseconds greeting{std::chrono::minutes(5)};
  Milliseconds tlsGreeting{std::chrono::seconds(15)};  // on port 465 without --tls implicit
  Milliseconds command{std::chrono::minutes(5)};    // HELO, MAIL FROM, RCPT TO replies
  Milliseconds dataStart{std::chrono::minutes(2)};  // the reply to DATA
  Milliseconds send{std::chrono::minutes(3)};       // each send of commands or data
  Milliseconds endOfData{std::chrono::minutes(10)};
  Milliseconds quit{std::chrono::seconds(5)};
};

/// The operations a connection runs on; tests replace the network with them.
struct ConnectionOps {
  std::function<platform::IoResult(char* buffer, std::size_t capacity, int timeoutMs)> receive;
  std::function<platform::IoResult(const char* data, std::size_t length, int timeoutMs)> send;
  std::function<void()> close;  // shut down both ways, then close
};

/// Connection operations over a connected socket.
ConnectionOps SocketOps(platform::SocketHandle socket);

enum class ReplyStatus {
  kComplete,
  kClosed,
  kTimedOut,
  kFailed,
  kTooLong,
  kTlsRecord,  // the bytes begin a TLS record, not a reply (asked for with tlsRecords)
};

struct Reply {
  ReplyStatus status;
  std::string_view text;  // the whole reply, or what arrived before the failure
};

class Connection {
 public:
  Connection(ConnectionOps ops, ReplyBounds bounds);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  const ReplyBounds& Bounds() const { return bounds_; }

  /// Sends every byte within the bound; false on an error, a closed
  /// connection or when the bound runs out. sent, when given, receives the
  /// count of bytes that went out.
  bool Send(std::string_view data, Milliseconds bound, std::size_t* sent = nullptr);

  /// Sends every byte within the bound, like Send; whenever the connection
  /// takes no more, takes in what the relay sent meanwhile (kept for
  /// ReadReply), so that a relay answering a long run of commands is never
  /// stuck writing while we are stuck writing too.
  bool SendWhileReceiving(std::string_view data, Milliseconds bound, std::size_t* sent = nullptr);

  /// Reads one complete reply within the bound. The text stays valid until
  /// the next call; bytes after the reply wait for it. With tlsRecords,
  /// bytes that begin a TLS record (0x15 or 0x16, then 0x03) end the read at
  /// once as kTlsRecord.
  Reply ReadReply(Milliseconds bound, bool tlsRecords = false);

  /// Shuts the connection down and closes it; later calls do nothing.
  void Close();

  /// Whether bytes arrived that no reply has taken yet.
  bool HasUnreadBytes() const { return used_ > delivered_; }
  /// Goes on over other operations (a TLS session over the same socket);
  /// bytes already received stay.
  void SwitchTo(ConnectionOps ops) { ops_ = std::move(ops); }

 private:
  ConnectionOps ops_;
  ReplyBounds bounds_;
  std::unique_ptr<char[]> replyBuffer_;  // the ReplyBuffer
  std::size_t used_ = 0;       // bytes received and not yet handed out
  std::size_t delivered_ = 0;  // length of the reply last handed out
  ReplyScanner scanner_;
  bool open_ = true;
};
