#include "host/line_framer.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace p50x {
namespace {

struct Case {
  const char* name;
  std::vector<std::string> receives;  // what the connection delivers, in order
  std::vector<std::string> messages;  // what reaches the parser, in order
  int overlong = 0;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

std::string repeat(char c, std::size_t n) {
  return std::string(n, c);
}

std::vector<Case> cases() {
  using namespace std::string_literals;
  const std::string full = "150;1;" + repeat('x', 250);  // 256 bytes
  return {
      {"BareMessagesAreOneReceiveEach", {"150;1;K1", "151;1;K1"}, {"150;1;K1", "151;1;K1"}},
      {"BareMessageKeepsItsCarriageReturn", {"21\r"}, {"21\r"}},
      {"LineFeedEndsTheMessage", {"150;1;K1\n"}, {"150;1;K1"}},
      {"CrLfEndsTheMessage", {"150;1;K1\r\n"}, {"150;1;K1"}},
      {"TwoLinesInOneReceive", {"150;1;K1\n150;1;K2\n"}, {"150;1;K1", "150;1;K2"}},
      // Until the first line feed a receive is a whole message: a host that
      // ends its lines is known only from its first line end on.
      {"SplitBeforeTheFirstLineEndFollowsTheBareRule", {"150;1;", "K1\n"}, {"150;1;", "K1"}},
      {"RestAfterTheLastLineEndWaitsForTheNext",
       {"150;1;K1\n150;", "1;K2\n15", "1;1;K1\r", "\n"},
       {"150;1;K1", "150;1;K2", "151;1;K1"}},
      {"EmptyLinesCarryNothing", {"\n\r\n150;1;K1\n\n"}, {"150;1;K1"}},
      {"ZeroByteStaysInTheText",
       {"150;1;K\0"s
        "1\n"},
       {"150;1;K\0"s
        "1"}},
      {"FullLineFitsWithItsLineEnd", {"\n" + full.substr(0, 100), full.substr(100) + "\n"}, {full}},
      {"OverlongLineIsPassedOnAndItsRestDropped",
       {"\n" + full.substr(0, 200), full.substr(200) + "yyy", "zzz\n150;1;K1\n"},
       {full, "150;1;K1"},
       1},
      {"TwoOverlongLinesAreTwoNotices", {"\n" + full + "a\n", full + "b\n"}, {full, full}, 2},
  };
}

class Framing : public ::testing::TestWithParam<Case> {};

TEST_P(Framing, Cuts) {
  const Case& c = GetParam();
  LineFramer framer;
  std::vector<std::string> got;
  int overlong = 0;
  for (const std::string& receive : c.receives) {
    overlong += framer.feed(receive.data(), receive.size(), [&](char* text, int length) {
      ASSERT_EQ(text[length], '\0');
      got.emplace_back(text, static_cast<std::size_t>(length));
    });
  }
  EXPECT_EQ(got, c.messages);
  EXPECT_EQ(overlong, c.overlong);
}

INSTANTIATE_TEST_SUITE_P(Lines, Framing, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace p50x
