// Replays every kept fuzz input through its property.
#include <gtest/gtest.h>

#include <filesystem>

#include "fuzz/properties.h"
#include "test_files.h"

namespace {

void Replay(const char* target, std::string (*check)(const std::uint8_t*, std::size_t)) {
  std::filesystem::path corpus = std::filesystem::path(RYMAIL_SOURCE_DIR) / "tests/fuzz/corpus" / target;
  int replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    std::string input = ReadWholeFile(entry.path().string());
    EXPECT_EQ(check(reinterpret_cast<const std::uint8_t*>(input.data()), input.size()), "") << entry.path();
    ++replayed;
  }
  EXPECT_GT(replayed, 0);
}

TEST(FuzzRegressions, ReplyReader) { Replay("reply_reader", CheckReplyReader); }
TEST(FuzzRegressions, BodyPath) { Replay("body_path", CheckBodyPath); }

TEST(FuzzRegressions, OptionWalk) {
  TempDir dir;
  std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  dir.Write("body.txt", "body\n");
  Replay("option_walk", CheckOptionWalk);
  std::filesystem::current_path(previous);
}

}  // namespace
