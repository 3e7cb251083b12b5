#include "common/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace p50x {
namespace {

std::vector<std::string> tokens(std::string text) {
  std::vector<std::string> out;
  TokenCursor cursor(text.data(), ';');
  while (char* t = cursor.next()) out.emplace_back(t);
  return out;
}

TEST(TokenCursor, SplitsLikeStrtokSoRunsOfSeparatorsCountAsOne) {
  EXPECT_EQ(tokens("150;1;K1"), (std::vector<std::string>{"150", "1", "K1"}));
  EXPECT_EQ(tokens(";;150;;K1;"), (std::vector<std::string>{"150", "K1"}));
  EXPECT_TRUE(tokens(";;;").empty());
  EXPECT_TRUE(tokens("").empty());
  EXPECT_EQ(tokens("K1\n"), (std::vector<std::string>{"K1\n"}));
}

TEST(ToInt, FollowsAtoiAndClampsInsteadOfOverflowing) {
  EXPECT_EQ(toInt("  42abc"), 42);
  EXPECT_EQ(toInt("-7"), -7);
  EXPECT_EQ(toInt("+3"), 3);
  EXPECT_EQ(toInt("abc"), 0);
  EXPECT_EQ(toInt(""), 0);
  EXPECT_EQ(toInt("99999999999999999999"), INT_MAX);
  EXPECT_EQ(toInt("-99999999999999999999"), INT_MIN);
  EXPECT_EQ(toInt("-2147483648"), INT_MIN);
}

TEST(CopyField, CutsSoTheZeroAlwaysFits) {
  char field[4];
  EXPECT_TRUE(copyField(field, sizeof field, "abc"));
  EXPECT_STREQ(field, "abc");
  EXPECT_FALSE(copyField(field, sizeof field, "abcd"));
  EXPECT_STREQ(field, "abc");
}

TEST(IsDottedIpv4, TakesFourPartsFrom0To255) {
  for (const char* good : {"127.0.0.1", "0.0.0.0", "255.255.255.255", "192.168.1.7"}) {
    EXPECT_TRUE(isDottedIpv4(good)) << good;
  }
  for (const char* bad : {"", "localhost", "1.2.3", "1.2.3.4.5", "256.1.1.1", "01.2.3.4",
                          "1.2.3.4 ", " 1.2.3.4", "1..3.4", "1.2.3.", "1.2.3.1000", "-1.2.3.4"}) {
    EXPECT_FALSE(isDottedIpv4(bad)) << bad;
  }
}

}  // namespace
}  // namespace p50x
