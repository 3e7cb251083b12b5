// The outbox on its own: order, the give-way rule when full, and the sender's
// view of it (no sockets, no threads).
#include "host/host_outbox.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace p50x::test {
namespace {

// Everything next() hands out without blocking: texts, "<state>" for
// kFellBehind, "<woken>", and "<end>" once finished.
std::vector<std::string> drain(HostOutbox& outbox) {
  std::vector<std::string> out;
  outbox.finish();
  for (;;) {
    std::string text;
    switch (outbox.next(text)) {
      case HostOutbox::Work::kMessage:
        out.push_back(text);
        break;
      case HostOutbox::Work::kFellBehind:
        out.push_back("<state>");
        break;
      case HostOutbox::Work::kWoken:
        out.push_back("<woken>");
        break;
      case HostOutbox::Work::kFinished:
        out.push_back("<end>");
        return out;
    }
  }
}

TEST(HostOutbox, OrderAndGivingWayWhenFull) {
  struct Case {
    const char* name;
    std::vector<std::string> posts;
    std::vector<std::string> taken;
    std::uint64_t givenWay;
  } cases[] = {
      {"below the bound every message, in order",
       {"371;Lok1;1;5.0\n", "381;Lok1;1\n", "371;Lok1;1;6.0\n"},
       {"371;Lok1;1;5.0\n", "381;Lok1;1\n", "371;Lok1;1;6.0\n", "<end>"},
       0},
      {"full: the latest state takes the place of the oldest of its subject",
       {"371;Lok1;1;5.0\n", "381;Lok1;1\n", "305;W1;0;\n", "305;W1;1;\n", "371;Lok1;1;9.0\n"},
       {"371;Lok1;1;9.0\n", "381;Lok1;1\n", "305;W1;1;\n", "<end>"},
       2},
      {"full with two of a subject waiting: the latest state is heard last",
       {"305;W1;0;\n", "305;W2;0;\n", "305;W1;1;\n", "305;W1;0;\n"},
       {"305;W1;0;\n", "305;W2;0;\n", "305;W1;0;\n", "<end>"},
       1},
      {"a name that only begins like another is another subject",
       {"305;W1;0;\n", "305;W10;1;\n", "305;W100;0;\n", "305;W1;1;\n"},
       {"305;W1;1;\n", "305;W10;1;\n", "305;W100;0;\n", "<end>"},
       1},
      {"full with a new subject: the state of everything instead of what waits",
       {"305;W1;0;\n", "305;W2;0;\n", "305;W3;0;\n", "305;W4;0;\n", "305;W5;1;\n"},
       {"<state>", "<end>"},
       4},
      {"start messages are one subject",
       {"41;0\n", "305;W1;0;\n", "305;W2;0;\n", "41;0\n"},
       {"41;0\n", "305;W1;0;\n", "305;W2;0;\n", "<end>"},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HostOutbox outbox(3);
    for (const std::string& p : c.posts) outbox.post(p);
    EXPECT_LE(outbox.size(), 3u);
    EXPECT_EQ(drain(outbox), c.taken);
    EXPECT_EQ(outbox.givenWay(), c.givenWay);
  }
}

TEST(HostOutbox, SaysOnceWhenItStartsGivingWayAndForgetsOnceCaughtUp) {
  HostOutbox outbox(2);
  EXPECT_FALSE(outbox.post("305;W1;0;\n"));
  EXPECT_FALSE(outbox.post("305;W2;0;\n"));
  EXPECT_TRUE(outbox.post("305;W1;1;\n"));
  EXPECT_FALSE(outbox.post("305;W2;1;\n"));
  EXPECT_TRUE(outbox.behind());
  std::string text;
  ASSERT_EQ(outbox.next(text), HostOutbox::Work::kMessage);
  ASSERT_EQ(outbox.next(text), HostOutbox::Work::kMessage);
  outbox.wake();
  ASSERT_EQ(outbox.next(text), HostOutbox::Work::kWoken);  // asked again with nothing left
  EXPECT_FALSE(outbox.behind());
  EXPECT_FALSE(outbox.post("305;W1;0;\n"));
  EXPECT_FALSE(outbox.post("305;W2;0;\n"));
  EXPECT_TRUE(outbox.post("305;W3;0;\n")) << "a new episode is said again";
}

TEST(HostOutbox, ClearDropsWaitingMessagesAndFinishDropsLaterPosts) {
  HostOutbox outbox(2);
  outbox.post("305;W1;0;\n");
  outbox.post("305;W2;0;\n");
  outbox.post("305;W3;0;\n");  // full with a new subject: the state is due
  outbox.clear();              // the catch-up covers it all
  outbox.post("305;W4;0;\n");
  outbox.finish();
  outbox.post("305;W5;0;\n");
  std::string text;
  ASSERT_EQ(outbox.next(text), HostOutbox::Work::kMessage);
  EXPECT_EQ(text, "305;W4;0;\n");
  EXPECT_EQ(outbox.next(text), HostOutbox::Work::kFinished);
}

}  // namespace
}  // namespace p50x::test
