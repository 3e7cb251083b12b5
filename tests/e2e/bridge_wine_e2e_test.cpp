// The Windows build as Windows users run it, under Wine: p50x-bridge.exe in a
// console (a pseudo-terminal as its standard input), its COM port mapped by
// Wine to a pseudo-terminal whose other end is the control software, and the
// host simulator on loopback.
//
// Runs only when P50X_WINE_BRIDGE names the .exe (make test-windows sets it,
// together with WINEPREFIX and a running wineserver); otherwise it is skipped.
//
// Every run ends with Ctrl-C typed on the console: Wine's console swallows a
// lone ESC while it waits for the rest of an escape sequence, so ESC cannot end
// the bridge here. Ctrl-C runs the same orderly shutdown.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bridge_process.h"
#include "host_simulator.h"
#include "support/recording.h"

namespace p50x::test {
namespace {

using namespace std::chrono_literals;
using hostsim::HostSimulator;
using Line = std::vector<unsigned char>;

// Wine is slow to start a program and reads a COM port at a few KB/s.
constexpr auto kWineDeadline = 30s;
constexpr char kCtrlC[] = "\x03";

class WineBridge : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* exe = std::getenv("P50X_WINE_BRIDGE");
    const char* prefix = std::getenv("WINEPREFIX");
    if (exe == nullptr || *exe == '\0') GTEST_SKIP() << "P50X_WINE_BRIDGE is not set";
    ASSERT_NE(prefix, nullptr) << "WINEPREFIX must name the Wine prefix in use";
    exe_ = exe;
    prefix_ = prefix;

    char pattern[] = "/tmp/p50x-wine-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    hostsim::Options options;
    options.eventPort = 0;
    options.commandPort = 0;
    host_ = std::make_unique<HostSimulator>(options);
    ASSERT_TRUE(host_->start()) << host_->error();
    writeFile(dir_ + "/Loks.txt", "Lok1;3;0;2;28;100;80\n");
    writeFile(dir_ + "/Weichen.txt", "W1;5;0;1;6\n");
    writeFile(dir_ + "/Melder.txt", "K1;1;1\n");
  }

  void TearDown() override {
    bridge_.reset();
    if (!comLink_.empty()) ::unlink(comLink_.c_str());
    host_.reset();
    if (!dir_.empty()) std::system(("rm -rf " + dir_).c_str());
  }

  // Maps COM<number> to a fresh pseudo-terminal (the line) and starts the
  // bridge with a console. Each test has its own number, so tests may run side
  // by side in one prefix; two digits also show that COM10 and above open.
  void startBridge(int comNumber) {
    std::string farEnd;
    ASSERT_TRUE(line_.openPseudoTerminal(farEnd));
    comLink_ = prefix_ + "/dosdevices/com" + std::to_string(comNumber);
    ::unlink(comLink_.c_str());
    ASSERT_EQ(::symlink(farEnd.c_str(), comLink_.c_str()), 0) << comLink_;

    std::ostringstream c;
    c << "1;Loks.txt\n2;Melder.txt\n3;Weichen.txt\n4;COM" << comNumber << "\n5;127.0.0.1\n"
      << "6;monitor.txt\n7;" << host_->eventPort() << "\n8;" << host_->commandPort()
      << "\n9;57600\n10;1\n";
    writeFile(dir_ + "/Config.txt", c.str());
    bridge_ = std::make_unique<BridgeProcess>();
    ASSERT_TRUE(
        bridge_->start("wine", {exe_, "Config.txt"}, dir_, BridgeProcess::Input::kTerminal));
  }

  void waitUntilReady() {
    ASSERT_TRUE(bridge_->waitForOutput("ESC=BREAK", kWineDeadline))
        << bridge_->output() << bridge_->errors();
  }

  std::string exe_;
  std::string prefix_;
  std::string dir_;
  std::string comLink_;
  std::unique_ptr<HostSimulator> host_;
  std::unique_ptr<BridgeProcess> bridge_;
  ControlLine line_;
};

TEST_F(WineBridge, SerialHostAndConsoleRoadsWorkAndCtrlCShutsDownInOrder) {
  // XVer sent as soon as the start message is out must be answered, whether
  // start-up is done or not.
  startBridge(12);
  ASSERT_TRUE(host_->waitForMessages(1, kWineDeadline)) << bridge_->output();
  line_.send({'X', 0xA0});
  EXPECT_EQ(line_.receive(10, 10s),
            (Line{0x03, 0x01, 0x04, 0x06, 0x04, 0x00, 0x13, 0x07, 0x56, 0x00}));
  waitUntilReady();

  // XLok for 3/0: speed 126, forward, light on. The reply does not wait for
  // the host; the host then hears both messages, speed first, even though it
  // answers each one late.
  host_->setAnswerDelay(800);
  line_.send({'X', 0x80, 3, 0, 126, 0x30});
  EXPECT_EQ(line_.receive(1, 1s), Line{0x00});
  ASSERT_TRUE(host_->waitForMessages(3, 10s));
  host_->setAnswerDelay(0);
  EXPECT_EQ(host_->messageTexts(),
            (std::vector<std::string>{"41;0\n", "371;Lok1;1;319.3\n", "381;Lok1;1\n"}));

  // A letter, then a cursor key: _getch gives it as 0xE0 and its own code,
  // and both are echoed and put on the line.
  bridge_->type("A");
  EXPECT_EQ(line_.receive(1, 10s), Line{'A'});
  bridge_->type("\x1b[A");
  EXPECT_EQ(line_.receive(2, 10s), (Line{0xE0, 0x48}));

  // Wine's _getch takes F1 without giving a code and goes on waiting: Ctrl-C
  // must still end the bridge, so the stop has to reach a _getch that is
  // already waiting.
  bridge_->type("\x1bOP");
  EXPECT_TRUE(line_.silentFor(300ms));
  bridge_->type(kCtrlC);
  EXPECT_EQ(bridge_->waitForExit(kWineDeadline), 1);
  // Text mode: every line end on the console is CR LF.
  EXPECT_EQ(bridge_->output(),
            "Version 0.3\r\nConfig-Datei:            Config.txt\r\nMonitorFlag=1\r\n\r\n"
            "ESC=BREAK\r\n\r\n65\r\n224\r\n72\r\n");
  EXPECT_EQ(readFile(dir_ + "/monitor.txt"),
            "\r\n-------------\r\n\r\nR 58 a0 \r\nS 03 01 04 06 04 00 13 07 56 00 \r\n"
            "R 58 80 03 00 7e 30 \r\nS 00 41 e0 48 ");
  EXPECT_TRUE(host_->waitForClosed(4, 10s));
}

TEST_F(WineBridge, CtrlCDoesNotWaitForAHostThatNeverAnswers) {
  startBridge(13);
  waitUntilReady();
  host_->setNeverAnswer(true);
  line_.send({'X', 0x80, 3, 0, 10, 0x20});
  ASSERT_TRUE(host_->waitForMessages(2, 10s));  // the speed message waits for its answer
  const auto begin = std::chrono::steady_clock::now();
  bridge_->type(kCtrlC);
  EXPECT_EQ(bridge_->waitForExit(kWineDeadline), 1);
  // Each of the two messages would wait 2 s for its answer; shutdown gives
  // what is waiting 2 s in all, then closes the links.
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 4s);
  EXPECT_TRUE(host_->waitForClosed(4, 10s));
}

// The control software's end going away completes the pending read with an
// error: the bridge says so instead of going on deaf, and keeps running.
TEST_F(WineBridge, LostLineIsReportedAndTheBridgeStaysUntilCtrlC) {
  startBridge(14);
  waitUntilReady();
  line_.send({'X', 0xA2});
  EXPECT_EQ(line_.receive(1, 10s), Line{0x08});
  line_.close();
  EXPECT_TRUE(bridge_->waitForOutput("Serielle Verbindung verloren: ", 10s)) << bridge_->output();
  bridge_->type("A");  // the console loop goes on
  EXPECT_TRUE(bridge_->waitForOutput("\r\n65\r\n", 10s)) << bridge_->output();
  bridge_->type(kCtrlC);
  EXPECT_EQ(bridge_->waitForExit(kWineDeadline), 1);
}

}  // namespace
}  // namespace p50x::test
