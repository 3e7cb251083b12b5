// The host links as the bridge uses them: made at start-up, lost when the host
// goes away, made again in the background with the catch-up, on loopback.
#include "host/host_links.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
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
  explicit Healing(const HostSimulator& host)
      : links(console, "127.0.0.1", host.eventPort(), host.commandPort()) {
    links.setBackoff(20ms, 100ms);
    links.setReplaySource([this](std::vector<std::string>& m) {
      m.push_back("41;0\n");
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

TEST(HostLinks, RestartedHostGetsTheStartMessageAndTheLatestState) {
  auto host = startHost();
  const int eventPort = host->eventPort();
  const int commandPort = host->commandPort();
  Healing t(*host);
  ASSERT_TRUE(t.connected);
  EXPECT_TRUE(t.links.up());
  EXPECT_EQ(t.links.sendAndAwaitAnswer("41;0\n"), 1);

  for (int restart = 1; restart <= 3; ++restart) {
    host.reset();
    ASSERT_TRUE(waitFor([&] { return !t.links.up(); })) << "restart " << restart;
    // Nothing is tried while the host is away.
    t.state = 10 * restart;
    EXPECT_EQ(t.links.sendAndAwaitAnswer("371;Lok1;1;0\n"), 0);

    host = startHost(eventPort, commandPort);
    ASSERT_TRUE(waitFor([&] { return t.links.reconnections() == restart; }, 6000ms));
    ASSERT_TRUE(host->waitForMessages(2, 5000ms));
    EXPECT_EQ(
        host->messageTexts(),
        (std::vector<std::string>{"41;0\n", "371;Lok1;1;" + std::to_string(10 * restart) + "\n"}));
    EXPECT_EQ(t.links.sendAndAwaitAnswer("381;Lok1;1\n"), 1);
  }
  const std::string console = t.console.outText();
  EXPECT_EQ(countOf(console, "Host link lost ("), 3u) << console;
  EXPECT_EQ(countOf(console, "closed by the host. Reconnecting in the background.\n"), 3u);
  EXPECT_EQ(countOf(console, "Host links connected again.\n"), 3u);
  EXPECT_EQ(console.find("Connect error"), std::string::npos) << "attempts fail quietly";
}

// The ordering hazard: a serial command that changes the state right
// after the catch-up has read it. Its own message must then reach the host
// after the catch-up, never be dropped as if the links were still down.
TEST(HostLinks, CommandDuringTheCatchUpFollowsIt) {
  auto host = startHost();
  const int eventPort = host->eventPort();
  const int commandPort = host->commandPort();
  RecordingConsole console;
  HostLinks links(console, "127.0.0.1", eventPort, commandPort);
  links.setBackoff(20ms, 100ms);
  std::atomic<int> state{1};
  std::atomic<bool> sendReturned{false};
  std::thread serial;
  links.setReplaySource([&](std::vector<std::string>& m) {
    m.push_back("371;Lok1;1;" + std::to_string(state.load()) + "\n");
    serial = std::thread([&] {
      state = 2;
      links.sendAndAwaitAnswer("371;Lok1;1;2\n");
      sendReturned = true;
    });
    // Gives the command every chance to overtake: it cannot, its send waits
    // for the catch-up, so this wait runs to its deadline.
    EXPECT_FALSE(waitFor([&] { return sendReturned.load(); }, 200ms));
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

TEST(HostLinks, FailedSendOnTheWriteConnectionEndsBothLinksAndTheyComeBack) {
  HandDrivenHost host;
  RecordingConsole console;
  HostLinks links(console, "127.0.0.1", host.event.port(), host.command.port());
  links.setBackoff(20ms, 100ms);
  links.setAnswerTimeout(50);
  links.setReplaySource([](std::vector<std::string>& m) { m.push_back("41;0\n"); });
  ASSERT_EQ(links.connectEventLink(), 0);
  ASSERT_EQ(links.connectCommandLink(), 0);
  links.startHealing();
  host.acceptAll();

  platform::setAbortOnClose(host.accepted[3]);
  host.command.release(host.accepted[3]);  // the write connection is reset
  EXPECT_TRUE(waitFor([&] { return links.sendAndAwaitAnswer("381;Lok1;0\n") == 0; }));
  EXPECT_NE(console.outText().find("Host link lost (command link): send failed with error: "),
            std::string::npos)
      << console.outText();
  EXPECT_EQ(receiveBytes(host.accepted[0], 1), "") << "the event link is closed too";

  host.acceptAll();  // the second round, in the start-up order
  EXPECT_EQ(receiveBytes(host.accepted[3], 5), "41;0\n");
  EXPECT_TRUE(waitFor([&] { return links.up(); }));
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
