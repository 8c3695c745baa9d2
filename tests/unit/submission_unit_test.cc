// The pure pieces of the submission steps: EHLO keywords, Base64 and the
// bearer mechanisms' error report.
#include <gtest/gtest.h>

#include "smtp/submission.h"

namespace {

TEST(EhloReply, KeywordsOfEveryLineButTheFirst) {
  RelayOffer offer = ParseEhloReply(
      "250-relay.example.com STARTTLS AUTH PLAIN\r\n250-PIPELINING\r\n250-auth=login\r\n250 starttls\r\n");
  EXPECT_TRUE(offer.startTls);
  EXPECT_TRUE(offer.auth);
  EXPECT_FALSE(offer.plain) << "the first line is the relay's name, not a keyword";
  EXPECT_TRUE(offer.login);

  offer = ParseEhloReply("250-relay\r\n250-AUTH CRAM-MD5 XOAUTH2\r\n250-STARTTLSX\r\n250 SIZE 1000\n");
  EXPECT_TRUE(offer.auth);
  EXPECT_TRUE(offer.xoauth2);
  EXPECT_FALSE(offer.plain || offer.login || offer.startTls || offer.oauthBearer);
  offer = ParseEhloReply("250-relay\r\n250-AUTH=oauthbearer\r\n250 AUTH XOAUTH\r\n");
  EXPECT_TRUE(offer.oauthBearer);
  EXPECT_FALSE(offer.xoauth2) << "XOAUTH is another mechanism";
  offer = ParseEhloReply("250 relay.example.com\r\n");
  EXPECT_FALSE(offer.auth || offer.startTls);
}

TEST(Base64, TheStandardVectors) {
  const char* vectors[][2] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},        {"foo", "Zm9v"},
                              {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
  for (const auto& vector : vectors) {
    EXPECT_EQ(Base64(vector[0]), vector[1]);
    std::string decoded;
    EXPECT_TRUE(DecodeBase64(vector[1], decoded));
    EXPECT_EQ(decoded, vector[0]);
  }
  EXPECT_EQ(Base64(std::string("\0alice\0\xff", 8)), "AGFsaWNlAP8=");
  std::string decoded;
  EXPECT_TRUE(DecodeBase64("AGFsaWNlAP8", decoded)) << "padding may be left out";
  EXPECT_EQ(decoded, std::string("\0alice\0\xff", 8));
  for (const char* broken : {"Zm9v YmFy", "Zg==Zg", "Zm9v\r\n", "Zm9-"}) EXPECT_FALSE(DecodeBase64(broken, decoded)) << broken;
}

TEST(ErrorReport, MembersOfTheTopLevelOnly) {
  const char* cases[][3] = {
      {R"({"status":"invalid_token","scope":"https://mail.example.com/"})", "status", "invalid_token"},
      {R"({"status":"invalid_token","scope":"https://mail.example.com/"})", "scope", "https://mail.example.com/"},
      {R"({ "status" : "401", "schemes":"bearer" })", "status", "401"},
      {R"({"status": 401})", "status", "401"},
      {R"({"nested":{"status":"no"},"status":"yes"})", "status", "yes"},
      {R"({"scope":"status","x":"\"status\":1"})", "status", ""},
      {R"({"status":"a\"b"})", "status", "a\"b"},
      {R"({"status":)", "status", ""},
      {"not json", "status", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(JsonMember(c[0], c[1]), c[2]) << c[0];
}

}  // namespace
