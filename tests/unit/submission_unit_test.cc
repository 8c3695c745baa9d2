// The pure pieces of the submission steps: EHLO keywords and Base64.
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
  EXPECT_FALSE(offer.plain || offer.login || offer.startTls);
  offer = ParseEhloReply("250 relay.example.com\r\n");
  EXPECT_FALSE(offer.auth || offer.startTls);
}

TEST(Base64, TheStandardVectors) {
  const char* vectors[][2] = {{"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},        {"foo", "Zm9v"},
                              {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
  for (const auto& vector : vectors) EXPECT_EQ(Base64(vector[0]), vector[1]);
  EXPECT_EQ(Base64(std::string("\0alice\0\xff", 8)), "AGFsaWNlAP8=");
}

}  // namespace
