// The host receivers report contacts and turnouts while the serial worker runs
// turnout and feedback commands on the same tables. Run under ThreadSanitizer
// too: it must find nothing, and no report may be lost or misdirected.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "layout/feedback_image.h"
#include "layout/host_messages.h"
#include "layout/loco_table.h"
#include "layout/turnout_table.h"
#include "list_files.h"
#include "support/recording.h"

namespace p50x {
namespace {

using test::bytes;
using test::Bytes;

TEST(LayoutThreads, HostEventsOnTwoThreadsWhileTheSerialSideRunsCommands) {
  test::TempListFiles files;
  test::RecordingConsole console;
  test::RecordingHostSender host;
  std::string contacts;
  for (int c = 1; c <= 16; ++c)
    contacts += "C" + std::to_string(c) + ";1;" + std::to_string(c) + "\n";
  FeedbackImage image(console);
  image.load(files.write("feedback.txt", contacts).c_str());
  TurnoutTable turnouts(console, host);
  turnouts.load(files.write("turnouts.txt", "W1;5;0;1;6\nW2;6;0;0;0\nW3;7;0;0;7\n").c_str());

  // Each receiver owns half of the contacts of both bytes of module 1, so
  // their bit changes hit the same bytes: odd contacts end set, even ones clear.
  constexpr int kRounds = 300;
  auto receiver = [&](int first) {
    for (int round = 0; round < kRounds; ++round) {
      for (int c = first; c <= 16; c += 2) {
        const std::string name = "C" + std::to_string(c);
        image.setContact(name.c_str());
        image.clearContact(name.c_str());
        if (c % 2 == 1) image.setContact(name.c_str());
      }
      turnouts.hostTurnout(round % 2 == 0 ? "W1" : "W3", round);
    }
  };

  std::vector<Bytes> evtSenReplies;
  std::vector<Bytes> statusReplies;
  auto serialWorker = [&] {
    test::RecordingSink sink;
    ReplyChannel channel(sink);
    for (int round = 0; round < kRounds; ++round) {
      turnouts.xTrnt(channel, 5, round % 2 == 0 ? 0x00 : static_cast<std::int8_t>(0x80));
      turnouts.xTrnt(channel, 7, 0x00);
      turnouts.xTrntSts(channel, 6, 0);
      image.xEvtSen(channel);
      image.x88PGet(channel, 0);
    }
    for (const Bytes& w : sink.writes) {
      if (w.size() == 4) evtSenReplies.push_back(w);
      if (w.size() == 2 && w[1] != 2) statusReplies.push_back(w);
    }
  };

  std::thread a(receiver, 1);
  std::thread b(receiver, 2);
  std::thread serial(serialWorker);
  a.join();
  b.join();
  serial.join();

  test::RecordingSink sink;
  ReplyChannel channel(sink);
  image.xEvtSen(channel);
  EXPECT_EQ(sink.all(), bytes({1, 0xAA, 0xAA, 0x00}));

  // Every turnout message names the commanded turnout with its own state.
  for (const std::string& m : host.messages()) {
    EXPECT_TRUE(m == "305;W1;1;\n" || m == "305;W1;3;\n" || m == "305;W3;0;\n") << m;
  }
  EXPECT_EQ(host.messages().size(), 2u * kRounds);
  EXPECT_EQ(evtSenReplies.size(), static_cast<std::size_t>(kRounds));
  for (const Bytes& s : statusReplies) EXPECT_EQ(s, bytes({0x00, 0x04}));
}

// The host links come back while the serial worker drives: every state asked
// for is one the station really had, a speed always with its own light.
TEST(LayoutThreads, CommandedStateIsReadWhileTheSerialSideRunsCommands) {
  test::TempListFiles files;
  test::RecordingConsole console;
  test::RecordingHostSender host;
  LocoTable locos(console, host);
  locos.load(files.write("locos.txt", "Lok1;3;0;3;0;100;80\n").c_str());
  TurnoutTable turnouts(console, host);
  turnouts.load(files.write("turnouts.txt", "W1;5;0;1;6\nW2;6;0;0;0\n").c_str());

  constexpr int kRounds = 500;
  std::atomic<bool> done{false};
  // The commands start once the reader runs, so the two overlap also where a
  // new thread gets going slowly (under Wine the commands could otherwise be
  // over before the first read).
  std::promise<void> readerRunning;
  std::thread serial([&, started = readerRunning.get_future()] {
    started.wait();
    test::RecordingSink sink;
    ReplyChannel channel(sink);
    for (int round = 0; round < kRounds; ++round) {
      locos.xLok(channel, 3, 0, 126, 0x30);  // full speed, light on
      locos.xLok(channel, 3, 0, 0, 0x20);    // standing, light off
      turnouts.xTrnt(channel, 6, round % 2 == 0 ? 0x00 : static_cast<std::int8_t>(0x80));
    }
    done = true;
  });

  int replays = 0;
  readerRunning.set_value();
  do {
    std::vector<HostMessage> locoMessages;
    locos.appendCommandedMessages(locoMessages);
    std::vector<HostMessage> turnoutMessages;
    turnouts.appendCommandedMessages(turnoutMessages);
    ++replays;
    if (!locoMessages.empty()) {
      EXPECT_EQ(locoMessages.size(), 2u);
      const std::string speed = locoMessages[0].text;
      const std::string light = locoMessages.back().text;
      EXPECT_TRUE((speed == "371;Lok1;1;319.3\n" && light == "381;Lok1;1\n") ||
                  (speed == "371;Lok1;1;0.0\n" && light == "381;Lok1;0\n"))
          << speed << light;
    }
    for (const HostMessage& m : turnoutMessages) {
      const std::string turnout = m.text;
      EXPECT_TRUE(turnout == "305;W2;0;\n" || turnout == "305;W2;1;\n") << turnout;
    }
  } while (!done);
  serial.join();
  EXPECT_GT(replays, 0);
}

}  // namespace
}  // namespace p50x
