// Start-up as a new user meets it: the command line, a configuration saved by
// a Windows editor, and settings the bridge refuses with a line that says
// what to change. The built binary, run as a separate process.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "bridge_process.h"
#include "host_simulator.h"

namespace p50x::test {
namespace {

using namespace std::chrono_literals;
using Line = std::vector<unsigned char>;

class StartUpEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/p50x-startup-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    hostsim::Options options;
    options.eventPort = 0;
    options.commandPort = 0;
    host_ = std::make_unique<hostsim::HostSimulator>(options);
    ASSERT_TRUE(host_->start()) << host_->error();
  }

  void TearDown() override {
    bridge_.reset();
    host_.reset();
    std::system(("rm -rf " + dir_).c_str());
  }

  // Runs the bridge with `args` until it ends by itself; its exit status.
  int runToEnd(const std::vector<std::string>& args) {
    bridge_ = std::make_unique<BridgeProcess>();
    EXPECT_TRUE(bridge_->start(P50X_BRIDGE_PATH, args, dir_));
    return bridge_->waitForExit();
  }

  std::string ports() const {
    return "7;" + std::to_string(host_->eventPort()) + "\r\n8;" +
           std::to_string(host_->commandPort()) + "\r\n";
  }

  std::string dir_;
  std::unique_ptr<hostsim::HostSimulator> host_;
  std::unique_ptr<BridgeProcess> bridge_;
};

TEST_F(StartUpEndToEnd, HelpAndVersionAnswerAndEndWithoutStarting) {
  for (const char* option : {"-h", "--help"}) {
    EXPECT_EQ(runToEnd({option}), 0) << option;
    EXPECT_EQ(bridge_->output(), kUsageText) << option;
    EXPECT_EQ(bridge_->errors(), "") << option;
  }
  for (const char* option : {"-V", "--version"}) {
    EXPECT_EQ(runToEnd({option, "Config.txt"}), 0) << option;
    EXPECT_EQ(bridge_->output(), "p50x-bridge 0.3\n") << option;
    EXPECT_EQ(bridge_->errors(), "") << option;
  }
  EXPECT_EQ(host_->connectionCount(), 0);
}

TEST_F(StartUpEndToEnd, AnUnknownOptionIsRefusedWithTheUsage) {
  for (const char* option : {"-x", "--config", "-"}) {
    EXPECT_EQ(runToEnd({option}), 2) << option;
    EXPECT_EQ(bridge_->output(), "") << option;
    EXPECT_EQ(bridge_->errors(), std::string("p50x-bridge: unknown option ") + option +
                                     " (a configuration file starting with \"-\" is given as "
                                     "./NAME)\n\n" +
                                     kUsageText);
  }
  // The way round it: a configuration file named like an option.
  writeFile(dir_ + "/-x", "# nothing\n");
  EXPECT_EQ(runToEnd({"./-x"}), 1);
  EXPECT_NE(bridge_->output().find("Config-Datei:            ./-x\n"), std::string::npos);
}

TEST_F(StartUpEndToEnd, AConfigurationFromAWindowsEditorWorks) {
  // A byte-order mark in front of the first setting and of the first list
  // line, CR LF everywhere.
  writeFile(dir_ + "/Config.txt",
            "\xEF\xBB\xBF"
            "1;Loks.txt\r\n3;Weichen.txt\r\n4;pty:" +
                dir_ + "/tty\r\n" + ports());
  writeFile(dir_ + "/Loks.txt",
            "\xEF\xBB\xBF"
            "Lok1;3;0;2;28;100;80\r\n");
  writeFile(dir_ + "/Weichen.txt",
            "\xEF\xBB\xBF"
            "W1;5;0;1;0\r\n");
  bridge_ = std::make_unique<BridgeProcess>();
  ASSERT_TRUE(bridge_->start(P50X_BRIDGE_PATH, {"Config.txt"}, dir_));
  ASSERT_TRUE(bridge_->waitForOutput("ESC=BREAK")) << bridge_->output() << bridge_->errors();
  ControlLine line;
  ASSERT_TRUE(line.open(dir_ + "/tty"));
  ASSERT_TRUE(host_->waitForMessages(1, 5s));

  line.send({'X', 0x85, 3, 0});  // XLokCfg: the locomotive list was read
  EXPECT_EQ(line.receive(5), (Line{0x00, 0x02, 0x1C, 0xFF, 0xFF}));
  line.send({'X', 0x90, 5, 0x80});  // XTrnt: the turnout's name has no mark glued to it
  EXPECT_EQ(line.receive(1), Line{0x00});
  ASSERT_TRUE(host_->waitForMessages(2, 5s));
  EXPECT_EQ(host_->messageTexts(), (std::vector<std::string>{"41;0\n", "305;W1;1;\n"}));

  bridge_->type("\x1b");
  EXPECT_EQ(bridge_->waitForExit(), 1);
  // Only the missing feedback list ("Frei") is reported.
  EXPECT_EQ(bridge_->output(),
            "Version 0.3\nConfig-Datei:            Config.txt\n\nESC=BREAK\n\n27\n");
  EXPECT_EQ(bridge_->errors(),
            "Error opening file: No such file or directory\n"
            "Rueckmeldeliste \"Frei\": No such file or directory; die Liste bleibt leer.\n");
}

// A list that is no regular file could be read for ever (/dev/zero) or never
// begin (a FIFO nobody writes): each is refused like a missing list, named,
// and start-up goes on at once.
TEST_F(StartUpEndToEnd, ADeviceOrAFifoAsAListIsRefusedAndStartUpGoesOn) {
  const std::string fifo = dir_ + "/Weichen.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  writeFile(dir_ + "/Config.txt",
            "1;/dev/zero\n2;/dev/null\n3;" + fifo + "\n4;pty:" + dir_ + "/tty\n" + ports());
  bridge_ = std::make_unique<BridgeProcess>();
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(bridge_->start(P50X_BRIDGE_PATH, {"Config.txt"}, dir_));
  ASSERT_TRUE(bridge_->waitForOutput("ESC=BREAK", 5s)) << bridge_->output() << bridge_->errors();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
  bridge_->type("\x1b");
  EXPECT_EQ(bridge_->waitForExit(), 1);
  const std::string reason = "keine regulaere Datei (Geraet, FIFO oder Socket)";
  EXPECT_EQ(bridge_->errors(),
            "Error opening file: " + reason + "\nRueckmeldeliste \"/dev/null\": " + reason +
                "; die Liste bleibt leer.\n" + "Error opening file: " + reason +
                "\nLokliste \"/dev/zero\": " + reason + "; die Liste bleibt leer.\n" +
                "Error opening file: " + reason + "\nWeichenliste \"" + fifo + "\": " + reason +
                "; die Liste bleibt leer.\n");
}

// The configuration file too.
TEST_F(StartUpEndToEnd, AFifoAsTheConfigurationIsRefused) {
  ASSERT_EQ(::mkfifo((dir_ + "/Config.fifo").c_str(), 0600), 0);
  EXPECT_EQ(runToEnd({"Config.fifo"}), 1);
  EXPECT_EQ(bridge_->errors(),
            "Fehler beim Zugriff auf die Konfigurationsdatei.\n: keine regulaere Datei (Geraet, "
            "FIFO oder Socket)\n");
  EXPECT_EQ(host_->connectionCount(), 0);
}

TEST_F(StartUpEndToEnd, ARefusedPortEndsStartUpBeforeAnyConnection) {
  writeFile(dir_ + "/Config.txt", "4;pty:" + dir_ + "/tty\n# host\n7;65536\n8;31285abc\n");
  EXPECT_EQ(runToEnd({"Config.txt"}), 1);
  EXPECT_EQ(bridge_->output(),
            "Version 0.3\nConfig-Datei:            Config.txt\n"
            "Config.txt:3: Einstellung 7 (Ereignis-Port) \"65536\": liegt nicht zwischen 1 und "
            "65535.\n"
            "Config.txt:4: Einstellung 8 (Befehls-Port) \"31285abc\": keine ganze Dezimalzahl "
            "von 1 bis 65535.\n");
  EXPECT_EQ(bridge_->errors(), "");
  EXPECT_EQ(host_->connectionCount(), 0);
  struct stat st {};
  EXPECT_NE(::lstat((dir_ + "/tty").c_str(), &st), 0) << "the serial port is never opened";
}

TEST_F(StartUpEndToEnd, ARefusedConnectionNamesAddressPortAndReason) {
  const int eventPort = host_->eventPort();
  host_->stop();
  writeFile(dir_ + "/Config.txt", "7;" + std::to_string(eventPort) + "\n");
  EXPECT_EQ(runToEnd({"Config.txt"}), 1);
  EXPECT_EQ(bridge_->output(),
            "Version 0.3\nConfig-Datei:            Config.txt\n"
            "Read Connect error\n"
            "Ereignis-Verbindung zu 127.0.0.1:" +
                std::to_string(eventPort) + " (Einstellungen 5 und 7): Connection refused.\n");
}

}  // namespace
}  // namespace p50x::test
