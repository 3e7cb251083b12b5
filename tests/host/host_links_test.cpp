// The host links as the bridge uses them: made at start-up, lost when the host
// goes away, made again in the background with the catch-up, on loopback.
#include "host/host_links.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host_simulator.h"
#include "host_test_support.h"
#include "support/recording.h"

#ifndef _WIN32
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace p50x::test {
namespace {

using namespace std::chrono_literals;
using hostsim::HostSimulator;

std::unique_ptr<HostSimulator> startHost(int eventPort = 0, int commandPort = 0) {
  hostsim::Options options;
  options.eventPort = eventPort;
  options.commandPort = commandPort;
  auto host = std::make_unique<HostSimulator>(options);
  EXPECT_TRUE(host->start()) << host->error();
  return host;
}

std::size_t countOf(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Links on a host, connected and healing, with short pauses so tests run fast.
struct Healing {
  explicit Healing(const HostSimulator& host, std::size_t capacity = HostOutbox::kCapacity)
      : links(console, "127.0.0.1", host.eventPort(), host.commandPort(), capacity) {
    links.setBackoff(20ms, 100ms);
    links.setReplaySource([this](std::vector<std::string>& m, HostLinks::CatchUp why) {
      if (why == HostLinks::CatchUp::kReconnected) m.push_back("41;0\n");
      m.push_back("371;Lok1;1;" + std::to_string(state.load()) + "\n");
    });
    connected = links.connectEventLink() == 0 && links.connectCommandLink() == 0;
    links.startHealing();
  }
  RecordingConsole console;
  std::atomic<int> state{0};
  HostLinks links;
  bool connected = false;
};

// The last message the host received about each subject ("371;Lok1").
std::map<std::string, std::string> lastViewOf(const std::vector<std::string>& texts) {
  std::map<std::string, std::string> view;
  for (const std::string& t : texts) view[t.substr(0, t.find(';', t.find(';') + 1))] = t;
  return view;
}

TEST(HostLinks, RestartedHostGetsTheStartMessageAndTheLatestState) {
  auto host = startHost();
  const int eventPort = host->eventPort();
  const int commandPort = host->commandPort();
  Healing t(*host);
  ASSERT_TRUE(t.connected);
  EXPECT_TRUE(t.links.up());
  t.links.post("41;0\n");
  ASSERT_TRUE(host->waitForMessages(1, 5000ms));

  for (int restart = 1; restart <= 3; ++restart) {
    host.reset();
    ASSERT_TRUE(waitFor([&] { return !t.links.up(); })) << "restart " << restart;
    // Posted while the host is away: the catch-up carries its state instead.
    t.state = 10 * restart;
    t.links.post("371;Lok1;1;0\n");

    host = startHost(eventPort, commandPort);
    ASSERT_TRUE(waitFor([&] { return t.links.reconnections() == restart; }, 6000ms));
    ASSERT_TRUE(host->waitForMessages(2, 5000ms));
    t.links.post("381;Lok1;1\n");
    ASSERT_TRUE(host->waitForMessages(3, 5000ms));
    EXPECT_EQ(host->messageTexts(),
              (std::vector<std::string>{
                  "41;0\n", "371;Lok1;1;" + std::to_string(10 * restart) + "\n", "381;Lok1;1\n"}));
  }
  const std::string console = t.console.outText();
  EXPECT_EQ(countOf(console, "Host link lost ("), 3u) << console;
  // A host that stops ends its connections in order, or, when a connection
  // was still coming in as it stopped, with a reset: either is one loss.
  EXPECT_EQ(countOf(console, ". Reconnecting in the background.\n"), 3u) << console;
  EXPECT_EQ(countOf(console, "Host links connected again.\n"), 3u);
  EXPECT_EQ(console.find("Connect error"), std::string::npos) << "attempts fail quietly";
}

// The ordering hazard: a serial command that changes the state right after
// the catch-up has read it. Its own message must reach the host after the
// catch-up, and posting it must not wait for the catch-up to be sent.
TEST(HostLinks, CommandDuringTheCatchUpFollowsIt) {
  auto host = startHost();
  const int eventPort = host->eventPort();
  const int commandPort = host->commandPort();
  RecordingConsole console;
  HostLinks links(console, "127.0.0.1", eventPort, commandPort);
  links.setBackoff(20ms, 100ms);
  std::atomic<int> state{1};
  std::atomic<bool> posted{false};
  std::thread serial;
  links.setReplaySource([&](std::vector<std::string>& m, HostLinks::CatchUp) {
    m.push_back("371;Lok1;1;" + std::to_string(state.load()) + "\n");
    serial = std::thread([&] {
      state = 2;
      links.post("371;Lok1;1;2\n");
      posted = true;
    });
    // The catch-up is being put together, yet the post goes through.
    EXPECT_TRUE(waitFor([&] { return posted.load(); }));
  });
  ASSERT_EQ(links.connectEventLink(), 0);
  ASSERT_EQ(links.connectCommandLink(), 0);
  links.startHealing();
  host.reset();
  ASSERT_TRUE(waitFor([&] { return !links.up(); }));
  host = startHost(eventPort, commandPort);
  ASSERT_TRUE(waitFor([&] { return links.reconnections() == 1; }, 6000ms));
  const bool heard = host->waitForMessages(2, 5000ms);
  serial.join();
  ASSERT_TRUE(heard) << "the command's message was lost";
  EXPECT_EQ(host->messageTexts(), (std::vector<std::string>{"371;Lok1;1;1\n", "371;Lok1;1;2\n"}));
}

// While the host keeps up it hears every message in order; once it falls a
// full outbox behind, older messages give way and it still ends with the
// latest state of each locomotive and turnout. Posting never waits.
TEST(HostLinks, SlowHostHearsEveryMessageOrEndsWithTheLatestState) {
  struct Case {
    const char* name;
    int answerDelayMs;
    int messages;
    bool fallsBehind;
  } cases[] = {
      {"host keeps up", 0, 40, false},
      {"host falls behind", 20, 400, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto host = startHost();
    RecordingConsole console;
    HostLinks links(console, "127.0.0.1", host->eventPort(), host->commandPort(), 8);
    // The station's state as the tables would hold it.
    std::mutex mutex;
    std::map<std::string, std::string> state;
    links.setReplaySource([&](std::vector<std::string>& m, HostLinks::CatchUp) {
      std::lock_guard<std::mutex> lock(mutex);
      for (const auto& [subject, text] : state) m.push_back(text);
    });
    ASSERT_EQ(links.connectEventLink(), 0);
    ASSERT_EQ(links.connectCommandLink(), 0);
    host->setAnswerDelay(c.answerDelayMs);
    std::vector<std::string> posted;
    for (int i = 0; i < c.messages; ++i) {
      posted.push_back(
          i % 4 == 3 ? "305;W" + std::to_string(i % 5) + ";" + std::to_string(i % 2) + ";\n"
                     : "371;Lok" + std::to_string(i % 3) + ";1;" + std::to_string(i) + ".0\n");
      {
        std::lock_guard<std::mutex> lock(mutex);
        state = lastViewOf(posted);
      }
      links.post(posted.back().c_str());
      if (!c.fallsBehind) {
        ASSERT_TRUE(waitFor([&] { return links.delivered() == posted.size(); }));
      }
    }
    const auto expected = lastViewOf(posted);
    ASSERT_TRUE(waitFor([&] { return lastViewOf(host->messageTexts()) == expected; }, 10000ms))
        << host->messageTexts().size() << " messages heard";
    if (c.fallsBehind) {
      EXPECT_LT(host->messageTexts().size(), posted.size());
      // Said each time it falls behind: a slow poster can let it catch up.
      EXPECT_GE(countOf(console.outText(), "Host is falling behind: 8 messages wait"), 1u)
          << console.outText();
      EXPECT_TRUE(waitFor(
          [&] { return console.outText().find("Host has caught up.\n") != std::string::npos; }));
    } else {
      EXPECT_EQ(host->messageTexts(), posted);
      EXPECT_EQ(console.outText().find("falling behind"), std::string::npos) << console.outText();
    }
  }
}

// Two hand-driven listeners: the test takes the four connections itself.
struct HandDrivenHost {
  TestPeer event;
  TestPeer command;
  platform::SocketHandle accepted[4] = {};
  void acceptAll() {
    accepted[0] = event.accept();
    accepted[1] = event.accept();
    accepted[2] = command.accept();
    accepted[3] = command.accept();
  }
};

// Nothing is being sent, yet the end of the command link's write connection
// is seen at once and reported as the loss of the link.
TEST(HostLinks, EndOfTheWriteConnectionEndsTheLinkWhileIdle) {
  struct Case {
    const char* name;
    bool reset;
    const char* reason;
  } cases[] = {
      {"closed", false, "Host link lost (command link): write connection closed by the host."},
      {"reset", true, "Host link lost (command link): write connection: recv failed with error: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HandDrivenHost host;
    RecordingConsole console;
    HostLinks links(console, "127.0.0.1", host.event.port(), host.command.port());
    links.setBackoff(20ms, 100ms);
    links.setReplaySource(
        [](std::vector<std::string>& m, HostLinks::CatchUp) { m.push_back("41;0\n"); });
    ASSERT_EQ(links.connectEventLink(), 0);
    ASSERT_EQ(links.connectCommandLink(), 0);
    links.startHealing();
    host.acceptAll();

    if (c.reset) platform::setAbortOnClose(host.accepted[3]);
    host.command.release(host.accepted[3]);
    EXPECT_TRUE(waitFor([&] { return console.outText().find(c.reason) != std::string::npos; }))
        << console.outText();
    EXPECT_EQ(receiveBytes(host.accepted[0], 1), "") << "the event link is closed too";

    host.acceptAll();  // the second round, in the start-up order
    EXPECT_EQ(receiveBytes(host.accepted[3], 5), "41;0\n");
    EXPECT_TRUE(waitFor([&] { return links.up(); }));
  }
}

// The event link's write connection carries nothing: a host may close it.
TEST(HostLinks, HostClosingTheEventLinksWriteConnectionIsNoLoss) {
  HandDrivenHost host;
  RecordingConsole console;
  HostLinks links(console, "127.0.0.1", host.event.port(), host.command.port());
  ASSERT_EQ(links.connectEventLink(), 0);
  ASSERT_EQ(links.connectCommandLink(), 0);
  links.startHealing();
  host.acceptAll();
  host.event.release(host.accepted[1]);
  links.post("41;0\n");
  EXPECT_EQ(receiveBytes(host.accepted[3], 5), "41;0\n");
  EXPECT_TRUE(links.up());
  EXPECT_EQ(console.outText().find("Host link lost"), std::string::npos) << console.outText();
}

// A host that takes every connection and drops it at once: the pause keeps
// growing (it starts again only after the links stayed up), so the host is
// tried ever less often instead of every first pause for ever.
TEST(HostLinks, HostDroppingEveryLinkAtOnceIsTriedEverLessOften) {
  TestPeer event(64);
  TestPeer command(64);
  std::atomic<int> taken{0};
  std::atomic<bool> stop{false};
  auto dropAll = [&](TestPeer& peer) {
    while (!stop.load()) {
      const auto s = platform::acceptConnection(peer.listener());
      if (s == platform::kInvalidSocket) return;
      ++taken;
      platform::closeSocket(s);
    }
  };
  std::thread eventHost([&] { dropAll(event); });
  std::thread commandHost([&] { dropAll(command); });
  RecordingConsole console;
  auto links = std::make_unique<HostLinks>(console, "127.0.0.1", event.port(), command.port());
  links->setBackoff(10ms, 80ms);
  links->connectEventLink();
  links->connectCommandLink();
  links->startHealing();
  const auto begin = std::chrono::steady_clock::now();
  // Six rounds of four connections: the start-up and five tries.
  ASSERT_TRUE(waitFor([&] { return taken.load() >= 24; }, 10000ms));
  // Pauses of 10, 20, 40, 80 and 80 ms at the least; starting again at the
  // first pause after every connect that was made would take 50 ms.
  EXPECT_GE(std::chrono::steady_clock::now() - begin, 230ms);
  links.reset();
  stop = true;
  platform::shutdownSocket(event.listener());
  platform::shutdownSocket(command.listener());
  eventHost.join();
  commandHost.join();
}

// At shutdown what is still waiting reaches the host.
TEST(HostLinks, FinishDeliversWhatIsWaiting) {
  auto host = startHost();
  host->setAnswerDelay(5);
  Healing t(*host);
  ASSERT_TRUE(t.connected);
  for (int i = 0; i < 30; ++i) t.links.post(("305;W" + std::to_string(i) + ";1;\n").c_str());
  t.links.finish(2000ms);
  EXPECT_EQ(host->messageTexts().size(), 30u);
  EXPECT_EQ(t.links.delivered(), 30u);
  EXPECT_TRUE(host->waitForClosed(4, 5000ms));
}

#ifndef _WIN32
// True when a connect to the loopback port, from none of the local ports
// given, is waiting for its answer.
bool connectWaitingFor(int port, const std::vector<int>& otherLocalPorts) {
  std::ifstream in("/proc/net/tcp");
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    const int localPort = std::stoi(local.substr(local.find(':') + 1), nullptr, 16);
    const int remotePort = std::stoi(remote.substr(remote.find(':') + 1), nullptr, 16);
    const bool ours = std::find(otherLocalPorts.begin(), otherLocalPorts.end(), localPort) !=
                      otherLocalPorts.end();
    if (remotePort == port && state == "02" && !ours) return true;  // SYN_SENT
  }
  return false;
}

// A host whose machine answers nothing leaves a connect waiting for the
// system's time-out; closing the links must not wait for it.
TEST(HostLinks, CloseEndsAConnectThatWaitsForAnAbsentHost) {
  auto host = startHost();
  const int eventPort = host->eventPort();
  auto t = std::make_unique<Healing>(*host);
  ASSERT_TRUE(t->connected);
  host.reset();

  // A listener whose queue is full drops every further connection request
  // unanswered, as an unreachable machine does.
  const platform::SocketHandle deaf = platform::listenIpv4("127.0.0.1", eventPort, 0);
  ASSERT_NE(deaf, platform::kInvalidSocket);
  std::vector<int> queued;
  std::vector<int> queuedPorts;
  for (int i = 0; i < 3; ++i) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(eventPort));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to);
    sockaddr_in from{};
    socklen_t size = sizeof from;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&from), &size);
    queued.push_back(s);
    queuedPorts.push_back(ntohs(from.sin_port));
  }
  ASSERT_TRUE(waitFor([&] { return connectWaitingFor(eventPort, queuedPorts); }, 5000ms));

  std::atomic<bool> closed{false};
  std::thread closer([&] {
    t.reset();  // closes, joins the healer and the receivers
    closed = true;
  });
  const bool prompt = waitFor([&] { return closed.load(); }, 3000ms);
  closer.join();
  EXPECT_TRUE(prompt);
  for (int s : queued) ::close(s);
  platform::closeSocket(deaf);
}
#endif

}  // namespace
}  // namespace p50x::test
