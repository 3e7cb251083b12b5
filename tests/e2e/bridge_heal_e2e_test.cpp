// Links that heal, on the built binary: the host application restarted, the
// serial adapter replugged, a full disk under the monitor file, host events
// that TCP merges, and a stop request while start-up waits for the host.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bridge_fixture.h"

namespace p50x::test {
namespace {

namespace fs = std::filesystem;

std::size_t entries(const std::string& dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++n;
  return n;
}

int countOf(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

const Line kVersion = {0x03, 0x01, 0x04, 0x06, 0x04, 0x00, 0x13, 0x07, 0x56, 0x00};

class BridgeHealing : public BridgeEndToEnd {
 protected:
  // The host simulator started again on the ports it had.
  void restartHost(int eventPort, int commandPort) {
    hostsim::Options options;
    options.eventPort = eventPort;
    options.commandPort = commandPort;
    host_ = std::make_unique<HostSimulator>(options);
    ASSERT_TRUE(host_->start()) << host_->error();
  }
  // The number of contacts XEvtSen reports occupied.
  int occupiedContacts(std::size_t modules) {
    line_.send({'X', 0xCB});
    const Line reply = line_.receive(3 * modules + 1);
    if (reply.size() != 3 * modules + 1) return -1;
    int occupied = 0;
    for (std::size_t m = 0; m < modules; ++m) {
      occupied += std::popcount(reply[3 * m + 1]) + std::popcount(reply[3 * m + 2]);
    }
    return occupied;
  }
};

TEST_F(BridgeHealing, HostRestartedThreeTimesGetsTheLatestStateAndNothingLeaks) {
  startBridge();
  ASSERT_TRUE(host_->waitForMessages(1, 5s));
  const int eventPort = host_->eventPort();
  const int commandPort = host_->commandPort();
  const std::string proc = "/proc/" + std::to_string(bridge_->pid());
  const std::size_t descriptors = entries(proc + "/fd");
  const std::size_t threads = entries(proc + "/task");

  for (int restart = 1; restart <= 3; ++restart) {
    host_.reset();
    ASSERT_TRUE(waitFor([&] { return countOf(bridge_->output(), "Host link lost") == restart; }))
        << bridge_->output();
    // While the host is away every command is answered at once as usual: an
    // XLok that waited for the host would take two seconds per message.
    const bool reverse = restart % 2 == 1;
    const auto begin = std::chrono::steady_clock::now();
    line_.send({'X', 0x80, 3, 0, 126, static_cast<unsigned char>(reverse ? 0x10 : 0x30)});
    EXPECT_EQ(line_.receive(1), Line{0x00});
    line_.send({'X', 0x90, 6, static_cast<unsigned char>(reverse ? 0xC0 : 0x40)});
    EXPECT_EQ(line_.receive(1), Line{0x00});
    line_.send({'X', 0xA0});
    EXPECT_EQ(line_.receive(10), kVersion);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s);

    restartHost(eventPort, commandPort);
    ASSERT_TRUE(host_->waitForMessages(4, 6s)) << bridge_->output();
    EXPECT_EQ(
        host_->messageTexts(),
        (std::vector<std::string>{"41;0\n", reverse ? "371;Lok1;1;-255.4\n" : "371;Lok1;1;319.3\n",
                                  "381;Lok1;1\n", reverse ? "305;W2;1;\n" : "305;W2;0;\n"}));
    ASSERT_TRUE(waitFor(
        [&] { return countOf(bridge_->output(), "Host links connected again.\n") == restart; }));
  }
  EXPECT_EQ(entries(proc + "/fd"), descriptors);
  EXPECT_EQ(entries(proc + "/task"), threads);

  // Life goes on as before the restarts.
  host_->clearMessages();
  line_.send({'X', 0x80, 3, 0, 0, 0x20});
  EXPECT_EQ(line_.receive(1), Line{0x00});
  ASSERT_TRUE(host_->waitForMessages(2, 5s));
  EXPECT_EQ(host_->messageTexts(), (std::vector<std::string>{"371;Lok1;1;0.0\n", "381;Lok1;0\n"}));
  bridge_->type("\x1b");
  EXPECT_EQ(bridge_->waitForExit(), 1);
}

TEST_F(BridgeHealing, EscEndsTheBridgeWhileItWaitsForTheHost) {
  startBridge();
  host_.reset();
  ASSERT_TRUE(bridge_->waitForOutput("Reconnecting in the background.\n")) << bridge_->output();
  bridge_->type("\x1b");
  EXPECT_EQ(bridge_->waitForExit(3s), 1);
}

// 1,000 contacts, 16 to a module: sent as fast as the host can, one line per
// send or several lines per send, on both links at once.
TEST_F(BridgeHealing, ThousandContactEventsAllReachTheFeedbackImage) {
  constexpr int kContacts = 1000;
  constexpr std::size_t kModules = (kContacts + 15) / 16;
  std::string list;
  for (int i = 0; i < kContacts; ++i) {
    list += "C" + std::to_string(i) + ";" + std::to_string(i / 16 + 1) + ";" +
            std::to_string(i % 16 + 1) + "\n";
  }
  writeFile(dir_ + "/Melder.txt", list);
  startBridge();
  auto flood = [&](Link link, int from, int to) {
    std::string several;
    for (int i = from; i < to; ++i) {
      const std::string line = "150;1;C" + std::to_string(i) + "\n";
      if (i % 3 == 0) {
        host_->sendEvent(line, link);
        continue;
      }
      several += line;
      if (i % 7 == 0) {
        host_->sendEvent(several, link);
        several.clear();
      }
    }
    if (!several.empty()) host_->sendEvent(several, link);
  };
  std::thread events(flood, Link::kEvent, 0, kContacts / 2);
  std::thread commands(flood, Link::kCommand, kContacts / 2, kContacts);
  events.join();
  commands.join();
  EXPECT_TRUE(waitFor([&] { return occupiedContacts(kModules) == kContacts; }))
      << occupiedContacts(kModules);
}

// A host that has never ended a message with a line feed sends one message
// per send, with pauses between: each send is still one message.
TEST_F(BridgeHealing, HostSendingBareMessagesStillWorks) {
  startBridge();
  const struct {
    const char* event;
    Line image;  // XEvtSen: modules 1 to 3 (K1 is module 1 contact 1, K2 contact 16)
  } steps[] = {
      {"150;1;K1", {1, 0x80, 0x00, 2, 0, 0, 3, 0, 0, 0x00}},
      {"150;1;K2", {1, 0x80, 0x01, 2, 0, 0, 3, 0, 0, 0x00}},
      {"151;1;K1", {1, 0x00, 0x01, 2, 0, 0, 3, 0, 0, 0x00}},
  };
  for (const auto& step : steps) {
    ASSERT_TRUE(host_->sendEvent(step.event));
    EXPECT_TRUE(waitFor([&] {
      line_.send({'X', 0xCB});
      return line_.receive(step.image.size()) == step.image;
    })) << step.event;
  }
}

TEST_F(BridgeHealing, ReplacedSerialAdapterIsServedWithinThreeSeconds) {
  std::string farEnd;
  auto adapter = std::make_unique<ControlLine>();
  ASSERT_TRUE(adapter->openPseudoTerminal(farEnd));
  const std::string link = dir_ + "/ttyUSB0";
  ASSERT_EQ(::symlink(farEnd.c_str(), link.c_str()), 0);
  serialPort_ = link;
  startBridge();
  line_.close();
  adapter->send({'X', 0xA0});
  EXPECT_EQ(adapter->receive(10), kVersion);

  adapter.reset();  // unplugged
  ASSERT_TRUE(bridge_->waitForOutput("Serielle Verbindung verloren: ")) << bridge_->output();
  adapter = std::make_unique<ControlLine>();
  ASSERT_TRUE(adapter->openPseudoTerminal(farEnd));
  const std::string next = link + ".next";
  ASSERT_EQ(::symlink(farEnd.c_str(), next.c_str()), 0);
  ASSERT_EQ(std::rename(next.c_str(), link.c_str()), 0);
  adapter->send({'X', 0xA0});
  EXPECT_EQ(adapter->receive(10, 3s), kVersion);
  EXPECT_TRUE(bridge_->waitForOutput("Serielle Verbindung wieder offen: " + link + "\n"));
  bridge_->type("\x1b");
  EXPECT_EQ(bridge_->waitForExit(), 1);
}

// /dev/full stands in for a full disk: every write that reaches it fails with
// "No space left on device".
TEST_F(BridgeHealing, MonitorFileOnAFullDiskIsSaidOnceAndRepliesGoOn) {
  monitorFile_ = "/dev/full";
  startBridge();
  for (int i = 0; i < 600; ++i) {
    line_.send({'X', 0xA2});
    ASSERT_EQ(line_.receive(1), Line{0x08}) << "command " << i;
  }
  ASSERT_TRUE(waitFor([&] { return !bridge_->errors().empty(); })) << bridge_->output();
  bridge_->type("\x1b");
  EXPECT_EQ(bridge_->waitForExit(), 1);
  EXPECT_EQ(bridge_->errors(), "Fehler beim Schreiben der Monitordatei: No space left on device\n");
}

TEST_F(BridgeHealing, StopRequestWhileTheHostSitsOnTheStartMessageRemovesThePtyLink) {
  host_->setNeverAnswer(true);
  startBridge(/*waitForReady=*/false);
  ASSERT_TRUE(host_->waitForMessages(1, 5s));  // the sender waits for the answer to 41
  struct stat st {};
  ASSERT_EQ(::lstat((dir_ + "/tty").c_str(), &st), 0);
  bridge_->signal(SIGTERM);
  EXPECT_EQ(bridge_->waitForExit(), 1);
  EXPECT_NE(::lstat((dir_ + "/tty").c_str(), &st), 0) << "the pty link is left behind";
  EXPECT_TRUE(host_->waitForClosed(4, 5s));
}

}  // namespace
}  // namespace p50x::test
