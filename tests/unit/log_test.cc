// The log's three modes and its record formats.
#include <gtest/gtest.h>

#include "log/log.h"
#include "test_files.h"
#include "unit/unit_support.h"

namespace {

using namespace std::string_literals;

class Log : public ::testing::Test {
 protected:
  CleanRun run_;
  TempDir dir_;
};

TEST_F(Log, OffShowsOnlyFailures) {
  LogMessage("Sending DATA", false);
  LogMessage("Error saying HELO", true);
  EXPECT_EQ(CleanRun::Captured(), "-RyMail-FAIL, Error saying HELO\r\n");
}

TEST_F(Log, ScreenModeAddsALineEndEvenAfterOne) {
  Settings.DebugEnabled = true;
  LogMessage("Your mail has been sent.\n", false);
  LogMessage("Error saying HELO", true);
  EXPECT_EQ(CleanRun::Captured(),
            "-RyMail-Info, Your mail has been sent.\r\n\r\n"
            "-RyMail-FAIL, Error saying HELO\r\n");
}

TEST_F(Log, FileModeAppendsOneRecordPerMessage) {
  Settings.DebugFile.Assign(dir_.path() + "/debug.log");
  dir_.Write("debug.log", "old text\n");
  ASSERT_EQ(StartDebugFile({}), "");
  Settings.DebugEnabled = true;
  LogMessage("Your mail has been sent.\n", false);
  LogMessage("Invalid Socket\n-RyMail-LASTMSG, -97-", true);
  LogMessage(std::string_view("Received 250 a\0b\r\n", 18), false);
  EXPECT_EQ(MaskVolatile(ReadWholeFile(Settings.DebugFile.c_str())),
            "Initiated RyMail at <TIME>\r\n\r\n"
            "-RyMail-Info, Your mail has been sent.\r\n"
            "-RyMail-FAIL, Invalid Socket\r\n-RyMail-LASTMSG, -97-\r\n"
            "-RyMail-Info, Received 250 a\0b\r\r\n"s);
  EXPECT_EQ(CleanRun::Captured(), "-RyMail-Info, Initializing Debug File [" + std::string(Settings.DebugFile.view()) +
                                      "]\r\n-RyMail-FAIL, Invalid Socket\r\n-RyMail-LASTMSG, -97-\r\n");
}

TEST_F(Log, FileThatCannotBeOpenedDropsTheRecord) {
  Settings.DebugEnabled = true;
  Settings.DebugFile.Assign(dir_.path() + "/gone/debug.log");
  LogMessage("Socket Startup Done", false);
  LogMessage("Error saying HELO", true);
  EXPECT_EQ(CleanRun::Captured(), "-RyMail-FAIL, Error saying HELO\r\n");
}

}  // namespace
