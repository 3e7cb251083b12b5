// The example host of examples/ against the built bridge, so the example
// cannot drift from what the bridge sends and takes: every message answered
// and said in words, a contact typed on its console reaching XEvtSen.
#include <signal.h>

#include <cstdio>
#include <string>

#include "bridge_fixture.h"

namespace p50x::test {
namespace {

class ExampleHostEndToEnd : public BridgeEndToEnd {
 protected:
  bool pythonMissing() {
    BridgeProcess python;
    return !python.start("python3", {"--version"}, dir_) || python.waitForExit() != 0;
  }

  void startBoth() {
    ASSERT_TRUE(exampleHost_.start(
        "python3", {P50X_EXAMPLE_HOST, "--event-port", "0", "--command-port", "0"}, dir_));
    ASSERT_TRUE(exampleHost_.waitForOutput("type a contact name")) << exampleHost_.errors();
    int eventPort = 0;
    int commandPort = 0;
    const std::string said = exampleHost_.output();
    ASSERT_EQ(std::sscanf(said.c_str(), "listening on 127.0.0.1: event port %d, command port %d",
                          &eventPort, &commandPort),
              2)
        << said;
    writeFile(dir_ + "/Config.txt", config(serialPort_, eventPort, commandPort));
    bridge_ = std::make_unique<BridgeProcess>();
    ASSERT_TRUE(bridge_->start(P50X_BRIDGE_PATH, {"Config.txt"}, dir_));
    ASSERT_TRUE(bridge_->waitForOutput("ESC=BREAK")) << bridge_->output() << bridge_->errors();
    ASSERT_TRUE(line_.open(dir_ + "/tty"));
  }

  bool hostSaid(const std::string& text) { return exampleHost_.waitForOutput(text + "\n"); }

  // XEvtSen until it reads as expected: the event travels on other threads.
  bool feedbackReads(const Line& expected) {
    return waitFor([&] {
      line_.send({'X', 0xCB});
      return line_.receive(expected.size()) == expected;
    });
  }

  BridgeProcess exampleHost_;
};

TEST_F(ExampleHostEndToEnd, ServesTheBridgeFromStartToEnd) {
  if (pythonMissing()) GTEST_SKIP() << "python3 is not installed: the example host cannot run";
  startBoth();
  EXPECT_TRUE(hostSaid("the bridge has started (41;0): the station is up"))
      << exampleHost_.output();

  line_.send({'X', 0x80, 3, 0, 126, 0x30});  // XLok 3 speed 126 forward light
  EXPECT_EQ(line_.receive(1), Line{0x00});
  EXPECT_TRUE(hostSaid("locomotive Lok1: speed 319.3 forward (tag 1)")) << exampleHost_.output();
  EXPECT_TRUE(hostSaid("locomotive Lok1: light on"));
  line_.send({'X', 0x80, 3, 0, 0, 0x00});  // standing, reverse: -0.0
  EXPECT_EQ(line_.receive(1), Line{0x00});
  EXPECT_TRUE(hostSaid("locomotive Lok1: speed 0.0 reverse (tag 1)")) << exampleHost_.output();
  EXPECT_TRUE(hostSaid("locomotive Lok1: light off"));
  line_.send({'X', 0x90, 6, 0xC0});  // XTrnt 6 green
  EXPECT_EQ(line_.receive(1), Line{0x00});
  EXPECT_TRUE(hostSaid("turnout W2: state 1")) << exampleHost_.output();

  exampleHost_.type("K2\n");
  EXPECT_TRUE(hostSaid("sent 150;1;K2"));
  EXPECT_TRUE(feedbackReads({1, 0x00, 0x01, 2, 0, 0, 3, 0, 0, 0x00}));
  exampleHost_.type("-K2\n");
  EXPECT_TRUE(hostSaid("sent 151;1;K2"));
  EXPECT_TRUE(feedbackReads({1, 0, 0, 2, 0, 0, 3, 0, 0, 0x00}));

  bridge_->type("\x1b");
  EXPECT_EQ(bridge_->waitForExit(), 1);
  EXPECT_TRUE(hostSaid("closed by the bridge: command link, write connection"));
  EXPECT_EQ(bridge_->output().find("Host link lost"), std::string::npos) << bridge_->output();
  exampleHost_.signal(SIGINT);
  EXPECT_EQ(exampleHost_.waitForExit(), 0) << exampleHost_.errors();
  EXPECT_TRUE(hostSaid("ended"));
}

}  // namespace
}  // namespace p50x::test
