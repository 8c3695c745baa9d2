// Time texts and the identity of a message.
#include <gtest/gtest.h>

#include <regex>

#include "front/mail_settings.h"
#include "identity/identity.h"
#include "log/time_text.h"
#include "unit/unit_support.h"

namespace {

TEST(TimeText, FixedWidthEnglishFields) {
  char text[kTimeTextCapacity];
  platform::LocalTime monday;
  monday.year = 2027;
  monday.month = 2;
  monday.dayOfMonth = 1;
  monday.dayOfWeek = 1;
  monday.hour = 9;
  monday.minute = 5;
  monday.second = 3;
  FormatTimeText(monday, text);
  EXPECT_STREQ(text, "Mon Mar 01 09:05:03 2027\n");
  EXPECT_EQ(std::string(text).size(), kTimeTextLength);
}

TEST(MessageId, BaseThenUniqueSuffix) {
  CleanRun run;
  StartTime = 1796174400;  // a fixed moment; the zone decides the fields
  BuildMessageIdBase();
  std::string base(Settings.MessageId.view());
  EXPECT_TRUE(std::regex_match(base, std::regex("[A-Z][a-z]{2}-[A-Z][a-z]{2}-[0-9]{2}-[0-9]{2}:[0-9]{2}:[0-9]{2}-[0-9]{4}")))
      << base;
  AppendHostSuffix();
  std::string first(Settings.MessageId.view());
  EXPECT_EQ(first.rfind(base + ".", 0), 0u);
  EXPECT_TRUE(std::regex_search(first, std::regex("\\.[0-9]+\\.[0-9a-f]{8}(@.+|-NullHostName)$"))) << first;
  Settings.MessageId.Assign(base);
  AppendHostSuffix();
  EXPECT_NE(std::string(Settings.MessageId.view()), first);
}

TEST(MessageId, LongSuffixIsCutToTheField) {
  CleanRun run;
  Settings.MessageId.Assign(std::string(120, 'b'));
  AppendHostSuffix();
  EXPECT_EQ(Settings.MessageId.Length(), Field::kMaxLength);
}

TEST(SystemKeyName, FromTheOsVariable) {
  std::string_view nt = "Windows_NT", other = "Plan9";
  EXPECT_EQ(SystemKeyNameFor(nullptr), "Windows");
  EXPECT_EQ(SystemKeyNameFor(&nt), "Windows NT");
  EXPECT_EQ(SystemKeyNameFor(&other), "Plan9");
}

TEST(Originator, OwnerOfOrganisationAndAKeyNameCutToFit) {
  CleanRun run;
  ReadOriginator(platform::Environment());
  std::string originator(Settings.Originator.view());
  EXPECT_NE(originator.find(" of "), std::string::npos);
  std::string longOs = "OS=" + std::string(40, 'o');
  ReadOriginator(platform::Environment({longOs}));
  EXPECT_EQ(Settings.SystemKeyName.view(), std::string(15, 'o'));
}

}  // namespace
