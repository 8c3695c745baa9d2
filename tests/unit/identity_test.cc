// Time texts and the identity of a message.
#include <gtest/gtest.h>

#include <regex>

#include "front/mail_settings.h"
#include "identity/identity.h"
#include "log/time_text.h"
#include "platform/clock.h"
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
  EXPECT_TRUE(std::regex_match(base, std::regex("[A-Z][a-z]{2}-[A-Z][a-z]{2}-[0-9]{2}-[0-9]{2}\\.[0-9]{2}\\.[0-9]{2}-[0-9]{4}")))
      << base;
  AppendHostSuffix();
  std::string first(Settings.MessageId.view());
  EXPECT_EQ(first.rfind(base + ".", 0), 0u);
  EXPECT_TRUE(std::regex_search(first, std::regex("\\.[0-9]+\\.[0-9a-f]{8}(@.+|-NullHostName@localhost)$"))) << first;
  Settings.MessageId.Assign(base);
  AppendHostSuffix();
  EXPECT_NE(std::string(Settings.MessageId.view()), first);
}

TEST(MessageId, LongSuffixIsCutToTheFieldAndStaysAMessageId) {
  CleanRun run;
  Settings.MessageId.Assign(std::string(120, 'b'));
  AppendHostSuffix();
  std::string id(Settings.MessageId.view());
  EXPECT_EQ(id.size(), Field::kMaxLength);
  EXPECT_EQ(id.find('@'), id.size() - 2 - (id.back() == '.' ? 1 : 0)) << id;
  EXPECT_NE(id.back(), '.');
}

TEST(MessageId, HostNamesBecomeDotAtomText) {
  EXPECT_EQ(DotAtomText("mail.example.com"), "mail.example.com");
  EXPECT_EQ(DotAtomText("host name.example"), "host-name.example");
  EXPECT_EQ(DotAtomText(".a..b."), "-a.-b-");
  EXPECT_EQ(DotAtomText("a[1]:\"x\"\xc3\xa9"), "a-1---x---");
  EXPECT_EQ(DotAtomText("o'neil+{x}"), "o'neil+{x}");
}

TEST(MailDate, OffsetsAndLeadingZeros) {
  platform::LocalTime time;
  time.year = 2026;
  time.month = 11;
  time.dayOfMonth = 8;
  time.dayOfWeek = 2;
  time.hour = 3;
  time.minute = 48;
  time.second = 12;
  struct Case {
    int offset;
    const char* text;
  } cases[] = {{0, "Tue, 08 Dec 2026 03:48:12 +0000"},
               {-5 * 3600, "Tue, 08 Dec 2026 03:48:12 -0500"},
               {5 * 3600 + 30 * 60, "Tue, 08 Dec 2026 03:48:12 +0530"},
               {-(9 * 3600 + 30 * 60), "Tue, 08 Dec 2026 03:48:12 -0930"}};
  for (const Case& c : cases) {
    time.utcOffsetSeconds = c.offset;
    char text[kMailDateCapacity];
    FormatMailDate(time, text);
    EXPECT_STREQ(text, c.text);
  }
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
