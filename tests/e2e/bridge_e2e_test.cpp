// The bridge as users run it: a separate process with a configuration file,
// a pseudo-terminal for the control software and the host simulator on
// loopback. Each test reads as the story of one road through the system.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bridge_fixture.h"

namespace p50x::test {
namespace {

TEST_F(BridgeEndToEnd, LocomotiveCommandIsAnsweredThenReachesTheHost) {
  startBridge();
  ASSERT_TRUE(host_->waitForMessages(1, 5s));  // the start message

  // XLok for address 3/0: speed 126, forward with light.
  line_.send({'X', 0x80, 3, 0, 126, 0x30});
  EXPECT_EQ(line_.receive(1), Line{0x00});
  // The host hears both messages, speed first, once the reply has gone.
  ASSERT_TRUE(host_->waitForMessages(3, 5s));
  EXPECT_EQ(host_->messageTexts(),
            (std::vector<std::string>{"41;0\n", "371;Lok1;1;319.3\n", "381;Lok1;1\n"}));
}

TEST_F(BridgeEndToEnd, FeedbackReportFromTheHostShowsInXEvtSen) {
  startBridge();
  ASSERT_TRUE(host_->sendEvent("150;1;K2"));
  const Line expected = {1, 0x00, 0x01, 2, 0, 0, 3, 0, 0, 0x00};
  // The event travels on another thread: ask until it shows (or the deadline).
  EXPECT_TRUE(waitFor([&] {
    line_.send({'X', 0xCB});
    return line_.receive(expected.size()) == expected;
  }));
}

TEST_F(BridgeEndToEnd, EscEndsTheBridgeAndTheMonitorFileHoldsEveryByte) {
  startBridge();
  line_.send({'X', 0xA0});
  EXPECT_EQ(line_.receive(10), (Line{0x03, 0x01, 0x04, 0x06, 0x04, 0x00, 0x13, 0x07, 0x56, 0x00}));
  bridge_->type("A");
  EXPECT_EQ(line_.receive(1), Line{'A'});
  bridge_->type("\x1b");
  EXPECT_EQ(bridge_->waitForExit(), 1);

  EXPECT_EQ(bridge_->output(),
            "Version 0.3\nConfig-Datei:            Config.txt\nMonitorFlag=1\n\nESC=BREAK\n\n"
            "65\n27\n");
  EXPECT_EQ(readFile(dir_ + "/monitor.txt"),
            "\n-------------\n\nR 58 a0 \nS 03 01 04 06 04 00 13 07 56 00 41 ");
  EXPECT_TRUE(host_->waitForClosed(4, 5s));
}

TEST_F(BridgeEndToEnd, SigtermRunsTheSameOrderlyShutdown) {
  startBridge();
  line_.send({'X', 0xA2});
  EXPECT_EQ(line_.receive(1), Line{0x08});
  bridge_->signal(SIGTERM);
  EXPECT_EQ(bridge_->waitForExit(), 1);
  EXPECT_EQ(readFile(dir_ + "/monitor.txt"), "\n-------------\n\nR 58 a2 \nS 08 ");
  EXPECT_TRUE(host_->waitForClosed(4, 5s));
  struct stat st {};
  EXPECT_NE(::lstat((dir_ + "/tty").c_str(), &st), 0) << "the pty link is removed at close";
}

// The terminal's settings, read through a descriptor of its own.
bool terminalSettings(const std::string& path, termios& settings) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool read = ::tcgetattr(fd, &settings) == 0;
  ::close(fd);
  return read;
}

// At a terminal the keys reach the line as typed, as they do on Windows: Enter
// is CR, and Ctrl-Z, Ctrl-\, Ctrl-Q and Ctrl-S are bytes, not signals or flow
// control. Ctrl-C ends the bridge in order, and the terminal is as it was.
TEST_F(BridgeEndToEnd, KeysAtATerminalReachTheLineAsTypedAndCtrlCEndsInOrder) {
  startBridge(true, BridgeProcess::Input::kTerminal);
  termios during{};
  ASSERT_TRUE(terminalSettings(bridge_->terminal(), during));
  EXPECT_EQ(during.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(during.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF), 0u);

  bridge_->type("\x0d\x1a\x1c\x11\x13");
  EXPECT_EQ(line_.receive(5), (Line{0x0D, 0x1A, 0x1C, 0x11, 0x13}));
  ASSERT_TRUE(bridge_->waitForOutput("13\n26\n28\n17\n19\n"));
  EXPECT_TRUE(bridge_->running());
  line_.send({'X', 0xC4});  // still serving: XNop
  EXPECT_EQ(line_.receive(1), Line{0x00});

  bridge_->type("\x03");
  EXPECT_EQ(bridge_->waitForExit(), 1);
  EXPECT_EQ(bridge_->output().find("\n3\n"), std::string::npos) << "Ctrl-C is no key for the line";
  EXPECT_TRUE(line_.receive(1, 100ms).empty()) << "Ctrl-C reached the line";
  struct stat st {};
  EXPECT_NE(::lstat((dir_ + "/tty").c_str(), &st), 0) << "the pty link is left behind";
  // As a terminal that nobody has changed.
  termios after{};
  termios fresh{};
  ASSERT_TRUE(terminalSettings(bridge_->terminal(), after));
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master) | ::unlockpt(master), 0);
  ASSERT_TRUE(terminalSettings(::ptsname(master), fresh));
  ::close(master);
  EXPECT_EQ(after.c_lflag, fresh.c_lflag);
  EXPECT_EQ(after.c_iflag, fresh.c_iflag);
  EXPECT_EQ(after.c_oflag, fresh.c_oflag);
  EXPECT_NE(after.c_lflag & ICANON, 0u);
}

TEST_F(BridgeEndToEnd, EndOfConsoleInputKeepsTheBridgeRunningUntilHangUp) {
  startBridge();
  bridge_->closeInput();
  line_.send({'X', 0xA2});
  EXPECT_EQ(line_.receive(1), Line{0x08});
  EXPECT_TRUE(bridge_->running());
  bridge_->signal(SIGHUP);
  EXPECT_EQ(bridge_->waitForExit(), 1);
  EXPECT_EQ(readFile(dir_ + "/monitor.txt"), "\n-------------\n\nR 58 a2 \nS 08 ");
}

TEST_F(BridgeEndToEnd, InputArrivingDuringStartUpIsHeldNotLost) {
  // The line is opened the moment it appears and a command and a host event
  // go in at once, while start-up may still be loading the lists.
  startBridge(/*waitForReady=*/false);
  ASSERT_TRUE(waitFor([&] { return line_.open(dir_ + "/tty"); }))
      << bridge_->output() << bridge_->errors();
  line_.send({'X', 0xA0});
  ASSERT_TRUE(host_->waitForConnections(4, 5s));
  ASSERT_TRUE(waitFor([&] { return host_->sendEvent("150;1;K1"); }));
  EXPECT_EQ(line_.receive(10, 5s).size(), 10u);
  EXPECT_TRUE(bridge_->waitForOutput("ESC=BREAK"));
  // The held event and the serial commands go on together once start-up is
  // done, so ask until the contact shows.
  const Line expected = {1, 0x80, 0x00, 2, 0, 0, 3, 0, 0, 0x00};
  EXPECT_TRUE(waitFor([&] {
    line_.send({'X', 0xCB});
    return line_.receive(expected.size()) == expected;
  }));
}

TEST_F(BridgeEndToEnd, ShutdownDoesNotWaitForAHostThatNeverAnswers) {
  startBridge();
  ASSERT_TRUE(host_->waitForMessages(1, 5s));
  host_->setNeverAnswer(true);
  line_.send({'X', 0x80, 3, 0, 10, 0x20});
  ASSERT_TRUE(host_->waitForMessages(2, 5s));  // the speed message waits for its answer
  const auto begin = std::chrono::steady_clock::now();
  bridge_->type("\x1b");
  EXPECT_EQ(bridge_->waitForExit(5s), 1);
  // What waits is given 2 s in all, however many messages it is.
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 4s);
}

TEST_F(BridgeEndToEnd, P50XOnlyClientGetsAnAnswerToEveryCommand) {
  startBridge();
  ASSERT_TRUE(host_->waitForMessages(1, 5s));
  host_->clearMessages();
  // Each step: what the client sends, the reply it waits for.
  struct Step {
    const char* what;
    Line command;
    Line reply;
  };
  const auto run = [&](const std::vector<Step>& steps) {
    for (const Step& step : steps) {
      line_.send(step.command);
      EXPECT_EQ(line_.receive(step.reply.size()), step.reply) << step.what;
    }
  };
  const Line prompt = {0x0D, 0x5D};
  run({
      {"probe: mixed mode answers two bytes", {0xC4}, prompt},
      {"switch to P50X-only mode", {'x', 'Z', 'z', 'A', '1', 0x0D}, prompt},
      {"probe: one byte now", {0xC4}, {0x00}},
      {"XVer", {0xA0}, {0x03, 0x01, 0x04, 0x06, 0x04, 0x00, 0x13, 0x07, 0x56, 0x00}},
      {"XSensOff", {0x99}, {0x00}},
      {"XStatus", {0xA2}, {0x08}},
      {"power off", {0xA6}, {0x00}},
      {"power on", {0xA7}, {0x00}},
      {"XEvent: nothing to fetch", {0xC8}, {0x00}},
      {"XLok forward, light", {0x80, 3, 0, 63, 0xF0}, {0x00}},
      {"F1 to F8", {0x88, 3, 0, 0x05}, {0x00}},
      {"F9 to F16", {0x89, 3, 0, 0x00}, {0x00}},
      {"turnout coil on", {0x90, 6, 0x40}, {0x00}},
      {"turnout coil off", {0x90, 6, 0x00}, {0x00}},
  });
  ASSERT_TRUE(host_->waitForMessages(3, 5s));  // delivered after the replies
  EXPECT_EQ(host_->messageTexts(),
            (std::vector<std::string>{"371;Lok1;1;159.6\n", "381;Lok1;1\n", "305;W2;0;\n"}));

  // The host reports a contact; the client learns of it through the event bit.
  ASSERT_TRUE(host_->sendEvent("150;1;K3"));
  EXPECT_TRUE(waitFor([&] {
    line_.send({0xC8});
    return line_.receive(1) == Line{0x04};
  }));
  run({
      {"XEvtSen", {0xCB}, {1, 0x00, 0x00, 2, 0, 0, 3, 0, 0x80, 0x00}},
      {"XEvent: fetched", {0xC8}, {0x00}},
      {"leave P50X-only mode", {'Z', 'z', 'A', '0', 0x0D}, prompt},
      {"mixed mode again", {'X', 0xA2}, {0x08}},
  });
  EXPECT_TRUE(line_.silentFor(50ms)) << "no stray reply";
}

// A control program that stays in mixed mode ("X" before every opcode), as it
// drives a locomotive: speed with flags 0x70, functions F1, F9 and F17, the
// emergency stop and power on again, a fast-clock setting and the emergency
// stop as text. Every command gets its answer at once, and both stops reach
// the host.
TEST_F(BridgeEndToEnd, MixedModeSessionWithFunctionsAndEmergencyStop) {
  startBridge();
  ASSERT_TRUE(host_->waitForMessages(1, 5s));
  host_->clearMessages();
  struct Step {
    const char* what;
    Line command;
    Line reply;
  };
  const std::vector<Step> steps = {
      {"XStatus", {'X', 0xA2}, {0x08}},
      {"XLok speed 126, forward, light", {'X', 0x80, 3, 0, 126, 0x70}, {0x00}},
      {"F1", {'X', 0x88, 3, 0, 0x01}, {0x00}},
      {"F9", {'X', 0x89, 3, 0, 0x01}, {0x00}},
      {"F17", {'X', 0x8A, 3, 0, 0x01, 0x00}, {0x00}},
      {"XLok speed 100 keeps F1", {'X', 0x80, 3, 0, 100, 0x70}, {0x00}},
      {"XFuncSts", {'X', 0x8C, 3, 0}, {0x00, 0x01}},
      {"XFuncXSts", {'X', 0x8D, 3, 0}, {0x00, 0x01}},
      {"XFunc34Sts", {'X', 0x8E, 3, 0}, {0x00, 0x01, 0x00}},
      {"XLokSts", {'X', 0x84, 3, 0}, {0x00, 100, 0x31, 22}},
      {"emergency stop", {'X', 0xA5}, {0x00}},
      {"XStatus halted", {'X', 0xA2}, {0x18}},
      {"XLok while halted", {'X', 0x80, 3, 0, 50, 0x70}, {0x41}},
      {"XNop", {'X', 0xC4}, {0x00}},
      {"power on", {'X', 0xA7}, {0x00}},
      {"XStatus running", {'X', 0xA2}, {0x08}},
      {"XLok runs again", {'X', 0x80, 3, 0, 50, 0x70}, {0x00}},
      {"XClkSet with a minute byte 00 and CR", {'X', 0xC0, 0x00, 0x0D, 'X', 0xA2}, {0x00}},
      {"text halt", {'X', 'H', 'A', 'L', 'T', 0x0D}, {'O', 'k', 0x0D}},
      {"XStatus halted by text", {'X', 0xA2}, {0x18}},
      {"XP50Len1 then XVer",
       {'X', 0xC6, 0x61, 'X', 0xA0},
       {0x03, 0x01, 0x04, 0x06, 0x04, 0x00, 0x13, 0x07, 0x56, 0x00}},
      {"XSoGet", {'X', 0xA4, 0, 0}, {0x02}},
      {"X88PGet 1", {'X', 0x9C, 1}, {0x02}},
      {"unknown opcode", {'X', 0xFF}, {0x01}},
  };
  for (const Step& step : steps) {
    line_.send(step.command);
    EXPECT_EQ(line_.receive(step.reply.size(), 1s), step.reply) << step.what;
  }
  EXPECT_TRUE(line_.silentFor(50ms)) << "no stray reply";
  ASSERT_TRUE(host_->waitForMessages(12, 5s));  // delivered after the replies
  EXPECT_EQ(host_->messageTexts(), (std::vector<std::string>{
                                       "371;Lok1;1;319.3\n", "381;Lok1;1\n",  // XLok 126
                                       "371;Lok1;1;253.4\n", "381;Lok1;1\n",  // XLok 100
                                       "371;Lok1;1;0.0\n", "381;Lok1;1\n",    // emergency stop
                                       "371;Lok1;1;0.0\n", "381;Lok1;1\n",    // refused speed
                                       "371;Lok1;1;126.7\n", "381;Lok1;1\n",  // XLok 50
                                       "371;Lok1;1;0.0\n", "381;Lok1;1\n",    // text halt
                                   }));
}

TEST_F(BridgeEndToEnd, StartUpStopsAtAMissingConfigurationFile) {
  bridge_ = std::make_unique<BridgeProcess>();
  ASSERT_TRUE(bridge_->start(P50X_BRIDGE_PATH, {"Nirgends.txt"}, dir_));
  EXPECT_EQ(bridge_->waitForExit(), 1);
  EXPECT_EQ(bridge_->output(), "Version 0.3\nConfig-Datei:            Nirgends.txt\n");
  EXPECT_EQ(bridge_->errors(),
            "Fehler beim Zugriff auf die Konfigurationsdatei.\n: No such file or directory\n");
  EXPECT_EQ(host_->connectionCount(), 0);
}

TEST_F(BridgeEndToEnd, StartUpStopsWhenNoHostListens) {
  const int eventPort = host_->eventPort();
  const int commandPort = host_->commandPort();
  host_->stop();
  writeFile(dir_ + "/Config.txt", config(serialPort_, eventPort, commandPort));
  bridge_ = std::make_unique<BridgeProcess>();
  ASSERT_TRUE(bridge_->start(P50X_BRIDGE_PATH, {"Config.txt"}, dir_));
  EXPECT_EQ(bridge_->waitForExit(), 1);
  EXPECT_NE(bridge_->output().find("Read Connect error\n"), std::string::npos);
  struct stat st {};
  EXPECT_NE(::lstat((dir_ + "/tty").c_str(), &st), 0) << "the serial port is never opened";
}

TEST_F(BridgeEndToEnd, StartUpStopsWhenTheSerialDeviceIsMissing) {
  serialPort_ = dir_ + "/no-such-tty";
  startBridge(/*waitForReady=*/false);
  EXPECT_EQ(bridge_->waitForExit(), 1);
  EXPECT_NE(bridge_->output().find("ERROR : com->connect 8\nSerieller Anschluss \"" + dir_ +
                                   "/no-such-tty\" (Einstellung 4): Geraet nicht vorhanden.\n"),
            std::string::npos);
  EXPECT_TRUE(host_->waitForClosed(4, 5s));
  EXPECT_TRUE(host_->messages().empty()) << "no list is loaded, no start message is sent";
}

}  // namespace
}  // namespace p50x::test
