// The pure pieces a script's account is made of: reply classes, the result
// line's strings, and the addresses of a Cc or Bcc list.
#include <gtest/gtest.h>

#include "front/result_file.h"
#include "smtp/address_list.h"
#include "smtp/result.h"

namespace {

TEST(ClassOfReply, CodeThenEnhancedCodeThenStep) {
  struct Case {
    const char* reply;
    Step step;
    Outcome outcome;
  } cases[] = {
      {"451 4.3.0 Try later\r\n", Step::kMail, Outcome::kTemporary},
      {"550 5.1.1 No such user\r\n", Step::kRcpt, Outcome::kRefused},
      {"450 5.1.1 No such user\r\n", Step::kRcpt, Outcome::kRefused},
      {"550 4.2.0 Later\r\n", Step::kRcpt, Outcome::kTemporary},
      {"550-5.7.1 first\r\n550 4.7.1 the last line decides\r\n", Step::kRcpt, Outcome::kTemporary},
      {"550 5.1.10\r\n", Step::kRcpt, Outcome::kRefused},
      {"450 5.1.1234 not an enhanced code\r\n", Step::kRcpt, Outcome::kTemporary},
      {"421 5.3.2 Going down\r\n", Step::kGreeting, Outcome::kTemporary},
      {"454 5.7.0 No TLS\r\n", Step::kStartTls, Outcome::kTemporary},
      {"454 5.7.0 Auth failed\r\n", Step::kAuth, Outcome::kLoginRefused},
      {"535 5.7.8 Bad credentials\r\n", Step::kAuth, Outcome::kLoginRefused},
      {"250 2.0.0 Ok\r\n", Step::kData, Outcome::kProtocol},
      {"334 VXNlcm5hbWU6\r\n", Step::kAuth, Outcome::kProtocol},
      {"\x01\xffgarbage\r\n", Step::kGreeting, Outcome::kProtocol},
      {"650 Six hundred\r\n", Step::kMail, Outcome::kProtocol},
      {"5\r\n", Step::kMail, Outcome::kProtocol},
  };
  for (const Case& c : cases) EXPECT_EQ(ClassOfReply(c.reply, c.step), c.outcome) << c.reply;
}

TEST(JsonString, EscapesControlsAndBytesThatAreNotUtf8) {
  struct Case {
    std::string bytes;
    const char* json;
  } cases[] = {
      {"250 Ok\r\n", "\"250 Ok\\r\\n\""},
      {"\"quoted\" \\ \t\x7f", "\"\\\"quoted\\\" \\\\ \\u0009\x7f\""},
      {std::string("\0z", 2), "\"\\u0000z\""},
      {"caf\xc3\xa9 \xe6\x9d\xb1 \xf0\x9f\x98\x80", "\"caf\xc3\xa9 \xe6\x9d\xb1 \xf0\x9f\x98\x80\""},
      {"\xc3", "\"\\u00c3\""},                          // cut short
      {"\xc0\xaf", "\"\\u00c0\\u00af\""},               // overlong
      {"\xed\xa0\x80", "\"\\u00ed\\u00a0\\u0080\""},    // a surrogate
      {"\xf4\x90\x80\x80", "\"\\u00f4\\u0090\\u0080\\u0080\""},  // past U+10FFFF
      {"\xff\xfe", "\"\\u00ff\\u00fe\""},
  };
  for (const Case& c : cases) EXPECT_EQ(JsonString(c.bytes), c.json) << c.json;
}

TEST(ListAddresses, CommasInsideQuotesAndBracketsDoNotSplit) {
  struct Case {
    const char* list;
    std::vector<std::string_view> addresses;
  } cases[] = {
      {"a@example.com", {"a@example.com"}},
      {" a@example.com ,b@example.com,, ", {"a@example.com", "b@example.com"}},
      {"Pat <pat@example.com>, <q@example.com>", {"pat@example.com", "q@example.com"}},
      {"\"Doe, J\" <j@example.com>, \"a \\\" b, c\" <k@example.com>", {"j@example.com", "k@example.com"}},
      {"<odd,one@example.com>", {"odd,one@example.com"}},
      {"Pat <pat@example.com", {""}},
      {"\"unclosed, x@example.com", {""}},
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(ListAddresses(c.list), c.addresses) << c.list;
  EXPECT_EQ(ComparableAddress(" <Pat@Example.COM> "), "Pat@example.com");
}

}  // namespace
