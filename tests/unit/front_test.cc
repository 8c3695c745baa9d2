// The option walk and settings completion over given arguments and environments.
#include <gtest/gtest.h>

#include <vector>

#include "front/completion.h"
#include "front/connect_settings.h"
#include "front/options.h"
#include "test_files.h"
#include "unit/unit_support.h"

namespace {

std::string Parse(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "RyMail");
  return ParseOptions(static_cast<int>(arguments.size()), arguments.data()).text;
}

class FrontEnd : public ::testing::Test {
 protected:
  CleanRun run_;
  TempDir dir_;
  std::string body_ = dir_.Write("body.txt", "x");
};

TEST_F(FrontEnd, PairsAreTakenInOrderAndTheLastRepetitionWins) {
  EXPECT_EQ(Parse({"-f", "first@example.com", "-s", "-f", "-f", "second@example.com"}), "");
  EXPECT_EQ(Settings.Subject.view(), "-f");
  EXPECT_EQ(Settings.MailFrom.view(), "second@example.com");
  EXPECT_EQ(Parse({"-s", ""}), "");
  EXPECT_FALSE(Settings.Subject.IsSet());
}

TEST_F(FrontEnd, DebugFileThenScreenKeepsTheFile) {
  std::string log = dir_.path() + "/debug.log";
  EXPECT_EQ(Parse({"-d", log.c_str(), "-d", "S"}), "");
  EXPECT_TRUE(Settings.DebugEnabled);
  EXPECT_EQ(Settings.DebugFile.view(), log);
  EXPECT_EQ(CleanRun::Captured(), "-RyMail-Info, Initializing Debug File [" + log +
                                      "]\r\n-RyMail-Info, You're in SCREEN Debug Mode\r\n");
}

TEST_F(FrontEnd, LengthLimitsOfAField) {
  std::string longest(Field::kMaxLength, 'a');
  EXPECT_EQ(Parse({"-g", longest.c_str()}), "");
  EXPECT_EQ(Settings.Gateway.view(), longest);
  std::string tooLong = longest + "a";
  EXPECT_EQ(Parse({"-g", tooLong.c_str()}),
            "\n-RyMail-FAIL, The Gateway value is longer than 127 characters.\n\n");
  EXPECT_EQ(Settings.Gateway.view(), longest) << "a refused value leaves the field as it was";
  std::string longPath = dir_.path() + "/" + std::string(130, 'p');
  EXPECT_EQ(Parse({"-i", longPath.c_str()}),
            "\n-RyMail-FAIL, The InputFile value is longer than 127 characters.\n\n");
}

TEST_F(FrontEnd, CompletionFillsHeadersFromTheEnvelope) {
  ASSERT_EQ(Parse({"-f", "me@example.com", "-t", "you@example.com", "-g", "relay", "-h", "abc", "-i", body_.c_str()}),
            "");
  EXPECT_EQ(CompleteSettings(platform::Environment()), "");
  EXPECT_EQ(Settings.From.view(), "me@example.com");
  EXPECT_EQ(Settings.To.view(), "you@example.com");
  EXPECT_EQ(Settings.Subject.view(), "None");
  EXPECT_FALSE(Settings.ReplyTo.IsSet());
  EXPECT_FALSE(Settings.DebugEnabled);
}

TEST_F(FrontEnd, CompletionWithARecipientFile) {
  std::string list = dir_.Write("list.txt", "a@example.com\n");
  ASSERT_EQ(Parse({"-f", "me@example.com", "-t", "you@example.com", "-l", list.c_str(), "-g", "relay", "-h", "abc",
                   "-i", body_.c_str(), "-r", "r@x"}),
            "");
  platform::Environment environment({"ryreplyto=", "RYREPLYTO=second", "rySubject="});
  EXPECT_EQ(CompleteSettings(environment), "");
  EXPECT_EQ(Settings.To.view(), kPlaceholderList) << "not MailTo: the envelope uses the file";
  EXPECT_EQ(Settings.ReplyTo.view(), "") << "the first matching variable wins, even empty";
  EXPECT_EQ(Settings.Subject.view(), "");
  EXPECT_EQ(CleanRun::Captured(), "") << "MailTo was valid: no message";
}

TEST_F(FrontEnd, EmptyHeaderVariablesGivePlaceholders) {
  ASSERT_EQ(Parse({"-f", "me@example.com", "-t", "you@example.com", "-g", "relay", "-h", "abc", "-i", body_.c_str()}),
            "");
  EXPECT_EQ(CompleteSettings(platform::Environment({"ryFrom=", "ryTo="})), "");
  EXPECT_EQ(Settings.From.view(), kPlaceholderSender);
  EXPECT_EQ(Settings.To.view(), kPlaceholderRecipient);
}

TEST_F(FrontEnd, ScreenModeFromTheEnvironment) {
  ASSERT_EQ(Parse({"-f", "me@example.com", "-t", "you@example.com", "-g", "relay", "-h", "abc", "-i", body_.c_str()}),
            "");
  EXPECT_EQ(CompleteSettings(platform::Environment({"RYDEBUGFILE=s"})), "");
  EXPECT_TRUE(Settings.DebugEnabled);
  EXPECT_FALSE(Settings.DebugFile.IsSet());
  EXPECT_EQ(CleanRun::Captured(), "-RyMail-Info, You're in SCREEN Debug Mode\r\n");
}

TEST_F(FrontEnd, ConnectTimeoutIsTheBoundOfEachAttempt) {
  const std::pair<const char*, Milliseconds> cases[] = {
      {"", std::chrono::seconds(30)}, {"1", std::chrono::seconds(1)}, {"600", std::chrono::seconds(600)},
      {"007", std::chrono::seconds(7)}};
  for (const auto& [value, bound] : cases) {
    Settings.ConnectTimeout.Assign(value);
    EXPECT_EQ(DeliveryBounds().connect, bound) << value;
  }
}

TEST(EnvironmentSnapshot, NamesIgnoreCaseAndTheFirstEntryWins) {
  platform::Environment environment({"noequals", "=C:=C:\\", "RYHELO=one", "ryHelo=two", "ryHeloX=three"});
  EXPECT_EQ(environment.Find("ryhelo").value_or("absent"), "one");
  EXPECT_FALSE(environment.Find("ryHel").has_value());
  EXPECT_FALSE(environment.Find("noequals").has_value());
}

}  // namespace
