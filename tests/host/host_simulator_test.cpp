#include "host_simulator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "host/host_connection.h"
#include "host_test_support.h"
#include "script_line.h"
#include "support/recording.h"
#include "text_escapes.h"

namespace p50x::test {
namespace {

using namespace std::chrono_literals;
using hostsim::HostSimulator;
using hostsim::Link;
using hostsim::Role;
using hostsim::ScriptLine;

hostsim::Options freePorts() {
  hostsim::Options options;
  options.eventPort = 0;
  options.commandPort = 0;
  return options;
}

// The bridge's side: both links, connected in the bridge's order.
struct Bridge {
  RecordingConsole console;
  LinkRecorder eventEvents;
  LinkRecorder commandEvents;
  HostConnection eventLink{console};
  HostConnection commandLink{console};

  bool connect(const HostSimulator& host) {
    eventLink.setCallback(eventEvents.callback());
    commandLink.setCallback(commandEvents.callback());
    return eventLink.connect("127.0.0.1", host.eventPort()) == 0 &&
           commandLink.connect("127.0.0.1", host.commandPort()) == 0;
  }
};

TEST(HostSimulator, TakesTheFourConnectionsAndAnswersOnTheWriteConnection) {
  HostSimulator host(freePorts());
  ASSERT_TRUE(host.start()) << host.error();
  Bridge bridge;
  ASSERT_TRUE(bridge.connect(host));
  ASSERT_TRUE(host.waitForConnections(4, 5000ms));

  EXPECT_EQ(bridge.commandLink.sendAndAwaitAnswer("41;0\n"), 1);
  EXPECT_EQ(bridge.commandLink.lastAnswerLength(), 3);  // "OK\n"
  ASSERT_TRUE(host.waitForMessages(1, 5000ms));
  const auto m = host.messages().at(0);
  EXPECT_EQ(m.link, Link::kCommand);
  EXPECT_EQ(m.role, Role::kWrite);
  EXPECT_EQ(m.connection, 1);  // per port: read connection first, then write
  EXPECT_EQ(m.text, "41;0\n");

  EXPECT_TRUE(host.sendEvent("150;1;K1"));
  EXPECT_TRUE(host.sendEvent("151;1;K2", Link::kCommand));
  EXPECT_TRUE(waitFor([&] { return bridge.eventEvents.received() == "150;1;K1"; }));
  EXPECT_TRUE(waitFor([&] { return bridge.commandEvents.received() == "151;1;K2"; }));
  EXPECT_FALSE(host.sendEvent(""));
}

TEST(HostSimulator, AnswerCanBeChangedDelayedOrWithheld) {
  HostSimulator host(freePorts());
  ASSERT_TRUE(host.start());
  Bridge bridge;
  ASSERT_TRUE(bridge.connect(host));
  auto& link = bridge.commandLink;

  host.setAnswer("ACK;longer\n");
  EXPECT_EQ(link.sendAndAwaitAnswer("381;Lok1;1\n"), 1);
  EXPECT_EQ(link.lastAnswerLength(), 11);

  host.setAnswer("OK\n");
  host.setAnswerDelay(30);
  link.setAnswerTimeout(-1);
  EXPECT_EQ(link.sendAndAwaitAnswer("381;Lok1;0\n"), 1);
  EXPECT_EQ(link.lastAnswerLength(), 3);

  host.setNeverAnswer(true);
  link.setAnswerTimeout(20);
  EXPECT_EQ(link.sendAndAwaitAnswer("305;W1;1;\n"), 1);
  EXPECT_EQ(link.lastAnswerLength(), 0);
  ASSERT_TRUE(host.waitForMessages(3, 5000ms));
  EXPECT_EQ(host.messages().at(2).text, "305;W1;1;\n");
}

TEST(HostSimulator, RecordsOneMessagePerLineAndAnswersEach) {
  HostSimulator host(freePorts());
  ASSERT_TRUE(host.start());
  const auto read = platform::createStreamSocket();
  const auto write = platform::createStreamSocket();
  ASSERT_EQ(platform::connectIpv4(read, "127.0.0.1", host.commandPort()), 0);
  ASSERT_TRUE(host.waitForConnections(1, 5000ms));  // the order decides the roles
  ASSERT_EQ(platform::connectIpv4(write, "127.0.0.1", host.commandPort()), 0);
  ASSERT_TRUE(host.waitForConnections(2, 5000ms));
  ASSERT_TRUE(sendText(write, "a;1\nb;2\nc"));
  EXPECT_EQ(receiveBytes(write, 6), "OK\nOK\n");
  platform::shutdownSocket(write);
  ASSERT_TRUE(host.waitForMessages(3, 5000ms));
  const auto messages = host.messages();
  EXPECT_EQ(messages[0].text, "a;1\n");
  EXPECT_EQ(messages[1].text, "b;2\n");
  EXPECT_EQ(messages[2].text, "c");  // what was left when the connection ended
  EXPECT_EQ(messages[2].role, Role::kWrite);
  platform::closeSocket(read);
  platform::closeSocket(write);
}

TEST(HostSimulator, ClosingAConnectionEndsTheBridgesLink) {
  HostSimulator host(freePorts());
  ASSERT_TRUE(host.start());
  Bridge bridge;
  ASSERT_TRUE(bridge.connect(host));
  ASSERT_TRUE(host.waitForConnections(4, 5000ms));
  EXPECT_TRUE(host.closeConnection(Link::kCommand, Role::kRead));
  EXPECT_FALSE(host.closeConnection(Link::kCommand, Role::kRead));  // already ended
  EXPECT_TRUE(waitFor([&] { return bridge.commandEvents.count(kHostClosed) == 2; }));
  EXPECT_FALSE(host.sendEvent("150;1;K1", Link::kCommand));
  // The bridge's receiver closed both its sockets, so the host sees both end.
  EXPECT_TRUE(host.waitForClosed(2, 5000ms));
  EXPECT_EQ(bridge.commandLink.sendAndAwaitAnswer("41;0\n"), 0);
  // The event link is untouched.
  EXPECT_TRUE(host.sendEvent("21"));
  EXPECT_TRUE(waitFor([&] { return bridge.eventEvents.received() == "21"; }));
}

TEST(HostSimulator, RestartedBridgeGetsANewPair) {
  HostSimulator host(freePorts());
  ASSERT_TRUE(host.start());
  {
    Bridge first;
    ASSERT_TRUE(first.connect(host));
    ASSERT_TRUE(host.waitForConnections(4, 5000ms));
  }
  ASSERT_TRUE(host.waitForClosed(4, 5000ms));
  Bridge second;
  ASSERT_TRUE(second.connect(host));
  ASSERT_TRUE(host.waitForConnections(8, 5000ms));
  EXPECT_TRUE(host.sendEvent("150;1;K1"));
  EXPECT_TRUE(waitFor([&] { return second.eventEvents.received() == "150;1;K1"; }));
  EXPECT_EQ(second.commandLink.sendAndAwaitAnswer("41;0\n"), 1);
  EXPECT_EQ(second.commandLink.lastAnswerLength(), 3);
}

TEST(HostSimulator, StopCutsAPendingAnswerDelayShort) {
  HostSimulator host(freePorts());
  ASSERT_TRUE(host.start());
  host.setAnswerDelay(10 * 60 * 1000);
  Bridge bridge;
  ASSERT_TRUE(bridge.connect(host));
  bridge.commandLink.setAnswerTimeout(20);
  bridge.commandLink.sendAndAwaitAnswer("41;0\n");
  ASSERT_TRUE(host.waitForMessages(1, 5000ms));
  host.stop();  // would hang for ten minutes if the delay ignored it
  EXPECT_FALSE(host.pause(1h));
  EXPECT_TRUE(waitFor([&] { return bridge.eventEvents.count(kHostClosed) == 2; }));
}

// A hung host application: the message waits unread and unanswered in the
// socket, and is read and answered once the host thaws.
TEST(HostSimulator, FrozenHostReadsAndAnswersOnlyOnceThawed) {
  HostSimulator host(freePorts());
  ASSERT_TRUE(host.start());
  Bridge bridge;
  ASSERT_TRUE(bridge.connect(host));
  ASSERT_TRUE(host.waitForConnections(4, 5000ms));
  auto& link = bridge.commandLink;
  host.setFrozen(true);
  link.setAnswerTimeout(50);
  link.sendAndAwaitAnswer("305;W1;1;\n");
  EXPECT_EQ(link.lastAnswerLength(), 0);
  EXPECT_TRUE(host.messages().empty());
  host.setFrozen(false);
  ASSERT_TRUE(host.waitForMessages(1, 5000ms));
  EXPECT_EQ(host.takeMessages().at(0).text, "305;W1;1;\n");
  EXPECT_TRUE(host.messages().empty());  // taken
  link.setAnswerTimeout(-1);
  link.sendAndAwaitAnswer("305;W1;0;\n");  // the late answer, read now
  EXPECT_GE(link.lastAnswerLength(), 3);
}

TEST(HostSimulator, RandomAnswerDelayKeepsItsLowerBound) {
  HostSimulator host(freePorts());
  ASSERT_TRUE(host.start());
  Bridge bridge;
  ASSERT_TRUE(bridge.connect(host));
  host.setAnswerDelay(40, 60);
  auto& link = bridge.commandLink;
  link.setAnswerTimeout(-1);
  for (int i = 0; i < 3; ++i) {
    const auto begin = std::chrono::steady_clock::now();
    link.sendAndAwaitAnswer("381;Lok1;1\n");
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 40ms);
    EXPECT_EQ(link.lastAnswerLength(), 3);
  }
}

TEST(HostSimulator, PortInUseIsReported) {
  HostSimulator first(freePorts());
  ASSERT_TRUE(first.start());
  hostsim::Options same;
  same.eventPort = 0;
  same.commandPort = first.commandPort();
  HostSimulator second(same);
  EXPECT_FALSE(second.start());
  EXPECT_NE(second.error().find("command port"), std::string::npos) << second.error();
}

struct LineCase {
  const char* line;
  ScriptLine::Kind kind;
  Link link;
  Role role;
  std::string text;
  int milliseconds;
};

TEST(HostSimulatorScript, LinesAreReadAsTheHelpSays) {
  using namespace std::string_literals;
  const LineCase cases[] = {
      {"150;1;K1", ScriptLine::kSend, Link::kEvent, Role::kRead, "150;1;K1", 0},
      {"150;1;K1\r", ScriptLine::kSend, Link::kEvent, Role::kRead, "150;1;K1", 0},
      {"c:151;1;K1", ScriptLine::kSend, Link::kCommand, Role::kRead, "151;1;K1", 0},
      {"cw:x", ScriptLine::kSend, Link::kCommand, Role::kWrite, "x", 0},
      {"ew:x", ScriptLine::kSend, Link::kEvent, Role::kWrite, "x", 0},
      {"e:sleep 5", ScriptLine::kSend, Link::kEvent, Role::kRead, "sleep 5", 0},
      {"150;1;K1;\\n", ScriptLine::kSend, Link::kEvent, Role::kRead, "150;1;K1;\n", 0},
      {"150;1;K\\01\\x41\\\\", ScriptLine::kSend, Link::kEvent, Role::kRead,
       "150;1;K\0"
       "1A\\"s,
       0},
      {"sleep 500", ScriptLine::kSleep, Link::kEvent, Role::kRead, "", 500},
      {"freeze 4000", ScriptLine::kFreeze, Link::kEvent, Role::kRead, "", 4000},
      {"close command write", ScriptLine::kClose, Link::kCommand, Role::kWrite, "", 0},
      {"close event read", ScriptLine::kClose, Link::kEvent, Role::kRead, "", 0},
      {"quit", ScriptLine::kQuit, Link::kEvent, Role::kRead, "", 0},
      {"", ScriptLine::kNothing, Link::kEvent, Role::kRead, "", 0},
      {"# a comment", ScriptLine::kNothing, Link::kEvent, Role::kRead, "", 0},
  };
  for (const auto& c : cases) {
    const ScriptLine got = hostsim::parseScriptLine(c.line, Link::kEvent);
    EXPECT_EQ(got.kind, c.kind) << c.line;
    if (got.kind == ScriptLine::kSend) {
      EXPECT_EQ(got.text, c.text) << c.line;
    }
    if (got.kind == ScriptLine::kSend || got.kind == ScriptLine::kClose) {
      EXPECT_EQ(got.link, c.link) << c.line;
      EXPECT_EQ(got.role, c.role) << c.line;
    }
    EXPECT_EQ(got.milliseconds, c.milliseconds) << c.line;
  }
  EXPECT_EQ(hostsim::parseScriptLine("150;1;K1", Link::kCommand).link, Link::kCommand);
  for (const char* bad :
       {"sleep", "sleep x", "sleep -1", "freeze", "freeze 1s", "close", "close event",
        "close foo read", "bad\\q", "cut\\x4", "e:", "trailing\\"}) {
    EXPECT_EQ(hostsim::parseScriptLine(bad, Link::kEvent).kind, ScriptLine::kError) << bad;
  }
}

TEST(HostSimulatorScript, PrintableShowsControlBytes) {
  EXPECT_EQ(hostsim::printable("371;Lok1;1;-0.0\n"), "371;Lok1;1;-0.0\\n");
  EXPECT_EQ(hostsim::printable(std::string("a\0\x7F\\\r\t\xC3\xA4", 8)),
            "a\\x00\\x7F\\\\\\r\\t\xC3\xA4");
}

}  // namespace
}  // namespace p50x::test
