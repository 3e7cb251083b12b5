// The bridge as users run it: a separate process with a configuration file,
// a pseudo-terminal for the control software and the host simulator on
// loopback. The fixture the end-to-end tests share.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bridge_process.h"
#include "host_simulator.h"
#include "support/recording.h"

namespace p50x::test {

using namespace std::chrono_literals;
using hostsim::HostSimulator;
using hostsim::Link;
using hostsim::Role;
using Line = std::vector<unsigned char>;

class BridgeEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/p50x-e2e-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    hostsim::Options options;
    options.eventPort = 0;
    options.commandPort = 0;
    host_ = std::make_unique<HostSimulator>(options);
    ASSERT_TRUE(host_->start()) << host_->error();

    writeFile(dir_ + "/Loks.txt", "# name;al;ah;mode;cfg;fwd;rev\nLok1;3;0;2;28;100;80\n");
    writeFile(dir_ + "/Weichen.txt", "W1;5;0;1;6\nW2;6;0;0;0\n");
    writeFile(dir_ + "/Melder.txt", "K1;1;1\nK2;1;16\nK3;3;9\n");
    serialPort_ = "pty:" + dir_ + "/tty";
  }

  void TearDown() override {
    bridge_.reset();
    host_.reset();
    std::system(("rm -rf " + dir_).c_str());
  }

  std::string config(const std::string& serialPort, int eventPort, int commandPort) const {
    std::ostringstream c;
    c << "1;Loks.txt\n2;Melder.txt\n3;Weichen.txt\n4;" << serialPort << "\n5;127.0.0.1\n"
      << "6;" << monitorFile_ << "\n7;" << eventPort << "\n8;" << commandPort
      << "\n9;57600\n10;1\n";
    return c.str();
  }

  // Starts the bridge on the standard test settings; waits for "ESC=BREAK"
  // and opens the pty: link (unless the serial port is another one).
  void startBridge(bool waitForReady = true,
                   BridgeProcess::Input input = BridgeProcess::Input::kPipe) {
    writeFile(dir_ + "/Config.txt", config(serialPort_, host_->eventPort(), host_->commandPort()));
    bridge_ = std::make_unique<BridgeProcess>();
    ASSERT_TRUE(bridge_->start(P50X_BRIDGE_PATH, {"Config.txt"}, dir_, input));
    if (!waitForReady) return;
    ASSERT_TRUE(bridge_->waitForOutput("ESC=BREAK")) << bridge_->output() << bridge_->errors();
    if (serialPort_.rfind("pty:", 0) == 0) {
      ASSERT_TRUE(line_.open(dir_ + "/tty"));
    }
  }

  std::string dir_;
  std::string serialPort_;
  std::string monitorFile_ = "monitor.txt";
  std::unique_ptr<HostSimulator> host_;
  std::unique_ptr<BridgeProcess> bridge_;
  ControlLine line_;
};

}  // namespace p50x::test
