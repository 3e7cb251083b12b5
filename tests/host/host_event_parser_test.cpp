#include "host/host_event_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "host_test_support.h"
#include "support/recording.h"

namespace p50x::test {
namespace {

struct Case {
  const char* name;
  std::string chunk;  // may hold a zero byte
  std::vector<std::string> calls;
  std::string console;
};

const std::string kUnknown0 = "!!!=== Unbekanntes Socket-Ereignis 0 ===!!!\n";

std::vector<Case> cases() {
  using namespace std::string_literals;
  return {
      {"ProjectClosed", "21", {}, "* Das Projekt wurde geschlossen. *\n"},
      {"ProjectClosedWithLineEnd", "21\r\n", {}, "* Das Projekt wurde geschlossen. *\n"},
      {"ContactOccupied", "150;1;K1", {"set:K1"}, ""},
      {"ContactFree", "151;1;K1", {"clear:K1"}, ""},
      {"LineFeedStaysInTheName", "150;1;K1\n", {"set:K1\n"}, ""},
      {"SeparatorKeepsTheLineFeedOutOfTheName", "150;1;K1;\n", {"set:K1"}, ""},
      {"EmptyTokenCollapsesSoTheNameIsEmpty", "150;;K1", {"set:"}, ""},
      {"TwoMessagesInOneChunkActOnTheFirst", "150;1;K1;151;1;K2;", {"set:K1"}, ""},
      {"ZeroByteEndsTheMessage",
       "150;1;K\0"
       "1;151;1;K2"s,
       {"set:K"},
       ""},
      {"CodeWithSpaceSignAndTrailingLetters", " +150xyz;1;K1", {"set:K1"}, ""},
      {"TurnoutEvent", "100;W1;1", {"turnout:W1:1"}, ""},
      {"TurnoutEventWithoutNumber", "100;W1", {"turnout:W1:0"}, ""},
      {"UnknownCode", "999;x", {}, "!!!=== Unbekanntes Socket-Ereignis 999 ===!!!\n"},
      {"NegativeCode", "-7", {}, "!!!=== Unbekanntes Socket-Ereignis -7 ===!!!\n"},
      {"NonNumericCodeIsZero", "abc", {}, kUnknown0},
      {"OnlySeparatorsIsZero", ";;;", {}, kUnknown0},
      {"EmptyChunkIsZero", "", {}, kUnknown0},
      {"Quiet20", "20", {}, ""},
      {"Quiet40", "40;a;b", {}, ""},
      {"Quiet50", "50", {}, ""},
      {"Quiet60", "60\n", {}, ""},
      {"Quiet200", "200", {}, ""},
      {"Quiet210", "210", {}, ""},
  };
}

// Failures show the case by its name and its bytes, never as raw memory.
void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name << ' ' << ::testing::PrintToString(c.chunk);
}

class HostParser : public ::testing::TestWithParam<Case> {};

TEST_P(HostParser, ActsOnFirstFields) {
  const Case& c = GetParam();
  RecordingConsole console;
  RecordingLayout layout;
  HostEventParser parser(console, &layout);
  char chunk[HostConnection::kReceiveSize + 1] = {};
  std::memcpy(chunk, c.chunk.data(), c.chunk.size());
  parser.dispatch(static_cast<int>(c.chunk.size()), chunk);
  EXPECT_EQ(layout.calls(), c.calls);
  EXPECT_EQ(console.outText(), c.console);
  EXPECT_EQ(console.errText(), "");
}

INSTANTIATE_TEST_SUITE_P(Chunk, HostParser, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HostEventParser, LongTokensAreCutAndExtraTokensDropped) {
  RecordingConsole console;
  RecordingLayout layout;
  HostEventParser parser(console, &layout);
  std::string text = "150;1;" + std::string(200, 'N');
  for (int i = 0; i < 20; ++i) text += ";" + std::to_string(i);
  parser.dispatch(static_cast<int>(text.size()), text.data());
  EXPECT_EQ(layout.calls(), std::vector<std::string>{"set:" + std::string(127, 'N')});

  // The split itself: exactly ten fields filled, nothing beyond them touched.
  struct {
    char fields[HostEventParser::kFields][HostEventParser::kFieldSize];
    char guard[64];
  } store;
  std::memset(store.guard, 0x5A, sizeof store.guard);
  std::string many = "0;1;2;3;4;5;6;7;8;" + std::string(300, 'x') + ";10;11";
  EXPECT_TRUE(HostEventParser::split(many.data(), store.fields, HostEventParser::kFields));
  EXPECT_STREQ(store.fields[8], "8");
  EXPECT_EQ(std::strlen(store.fields[9]), 127u);
  for (const char g : store.guard) ASSERT_EQ(g, 0x5A);
}

TEST(HostEventParser, EverySplitStartsFromEmptyFields) {
  RecordingConsole console;
  RecordingLayout layout;
  HostEventParser parser(console, &layout);
  char first[] = "100;W1;3";
  char second[] = "150;1";
  parser.dispatch(0, first);
  parser.dispatch(0, second);
  EXPECT_EQ(layout.calls(), (std::vector<std::string>{"turnout:W1:3", "set:"}));
}

TEST(HostEventParser, WithoutLayoutEventsAreDroppedQuietly) {
  RecordingConsole console;
  HostEventParser parser(console, nullptr);
  char a[] = "150;1;K1";
  char b[] = "100;W1;1";
  parser.dispatch(0, a);
  parser.dispatch(0, b);
  parser.dispatch(0, nullptr);
  EXPECT_EQ(console.outText(), kUnknown0);  // the null text reads as an empty message
}

// Both receivers dispatch at once: each message must reach the layout with its
// own fields, never with the other thread's.
TEST(HostEventParser, ConcurrentDispatchesNeverMixFields) {
  RecordingConsole console;
  RecordingLayout layout;
  HostEventParser parser(console, &layout);
  constexpr int kEach = 2000;
  auto flood = [&](const char* message) {
    for (int i = 0; i < kEach; ++i) {
      char text[32];
      std::snprintf(text, sizeof text, "%s", message);
      parser.dispatch(0, text);
    }
  };
  std::thread a(flood, "150;1;AAAAAAAA");
  std::thread b(flood, "151;22;BBBB;x;y");
  a.join();
  b.join();
  const auto calls = layout.calls();
  ASSERT_EQ(calls.size(), 2u * kEach);
  for (const auto& call : calls)
    ASSERT_TRUE(call == "set:AAAAAAAA" || call == "clear:BBBB") << call;
  EXPECT_EQ(console.outText(), "");
}

}  // namespace
}  // namespace p50x::test
