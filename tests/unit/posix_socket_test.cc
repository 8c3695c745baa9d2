// The connection over a real POSIX socket pair.
#include <gtest/gtest.h>

#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "smtp/connection.h"

namespace {

// A real socket whose peer says nothing: the wait ends at the bound.
TEST(Connection, SilentPeerEndsAtTheBound) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  Connection connection(SocketOps(pair[0]), ReplyBounds());
  EXPECT_EQ(connection.ReadReply(Milliseconds(50)).status, ReplyStatus::kTimedOut);
  // A peer that reads nothing: sending fills the buffers, then the bound ends it.
  std::string big(8 << 20, 'x');
  EXPECT_FALSE(connection.Send(big, Milliseconds(50)));
  connection.Close();
  ::close(pair[1]);
}

}  // namespace
