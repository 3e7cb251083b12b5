// p50x-trace on files: a monitor file recorded from real runs of the bridge
// against its golden trace, and -f following a file that grows.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../e2e/bridge_process.h"
#include "trace_test_support.h"

namespace p50x::trace::test {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// tests/trace/session-monitor.txt comes from tests/trace/record-session.sh:
// a mixed-mode run with text commands, a command without a reply, a command
// cut short and a typed key, then a P50X-only run with a command cut short.
TEST(TraceFiles, RecordedSessionMatchesItsGoldenTrace) {
  const std::string monitor = p50x::test::readFile(P50X_TRACE_DATA "/session-monitor.txt");
  const std::string golden = p50x::test::readFile(P50X_TRACE_DATA "/session-trace.txt");
  ASSERT_FALSE(monitor.empty());
  EXPECT_EQ(traceOf(monitor), linesOf(golden));

  // Read in small pieces as -f reads a growing file, every piece settled at
  // once: the same lines.
  std::vector<std::string> followed;
  TraceDecoder decoder([&followed](const std::string& line) { followed.push_back(line); }, {});
  MonitorReader reader(decoder);
  for (std::size_t at = 0; at < monitor.size(); at += 5) {
    reader.feed(std::string_view(monitor).substr(at, 5));
    decoder.settle();
  }
  reader.finish();
  decoder.finish();
  EXPECT_EQ(followed, linesOf(golden));
}

// The state at the end of each run of the recorded session: the first run
// through standard input, the whole file (whose latest run is the second)
// by name, both with the locomotive list the session was recorded with.
TEST(TraceFiles, RecordedSessionStateMatchesItsGolden) {
  const std::string monitor = p50x::test::readFile(P50X_TRACE_DATA "/session-monitor.txt");
  const std::string golden = p50x::test::readFile(P50X_TRACE_DATA "/session-state.txt");
  const std::size_t secondRun = monitor.find("-------------", monitor.find("-------------") + 1);
  ASSERT_NE(secondRun, std::string::npos);
  const std::size_t blank = golden.find("\n\n");
  ASSERT_NE(blank, std::string::npos);

  p50x::test::BridgeProcess first;
  ASSERT_TRUE(
      first.start(P50X_TRACE_PATH, {"--state", "--locos", "session-locos.txt"}, P50X_TRACE_DATA));
  first.type(monitor.substr(0, secondRun));
  first.closeInput();
  EXPECT_EQ(first.waitForExit(), 0) << first.errors();
  EXPECT_EQ(first.output(), golden.substr(0, blank + 1));

  p50x::test::BridgeProcess whole;
  ASSERT_TRUE(whole.start(P50X_TRACE_PATH,
                          {"--state", "--locos", "session-locos.txt", "session-monitor.txt"},
                          P50X_TRACE_DATA));
  EXPECT_EQ(whole.waitForExit(), 0) << whole.errors();
  EXPECT_EQ(whole.output(), golden.substr(blank + 2));
}

class TraceFollow : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/p50x-trace-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    trace_.reset();
    std::system(("rm -rf " + dir_).c_str());
  }
  void append(const std::string& text) {
    std::ofstream(dir_ + "/monitor.txt", std::ios::app) << text;
  }
  bool startTrace() {
    trace_ = std::make_unique<p50x::test::BridgeProcess>();
    return trace_->start(P50X_TRACE_PATH, {"-f", "monitor.txt"}, dir_);
  }

  std::string dir_;
  std::unique_ptr<p50x::test::BridgeProcess> trace_;
};

TEST_F(TraceFollow, ShowsTheLatestStartAndWhatIsAppended) {
  append("\n-------------\n\nR 58 a6 \nS 00 \n-------------\n\nR 58 a2 \nS 08 ");
  ASSERT_TRUE(startTrace());
  ASSERT_TRUE(trace_->waitForOutput("08 power on")) << trace_->output();
  EXPECT_EQ(trace_->output().find("XPwrOff"), std::string::npos) << "an earlier start is skipped";

  append("\nR 58 a7 \nS 00 ");
  EXPECT_TRUE(trace_->waitForOutput("XPwrOn")) << trace_->output();
  append("\nR 58 84 03 00 ");
  EXPECT_TRUE(trace_->waitForOutput("XLokSts 3")) << "shown once nothing more comes";
  append("\n-------------\n\nR 58 a0 \nS 03 01 04 06 04 00 13 07 56 00 ");
  EXPECT_TRUE(trace_->waitForOutput("version 1.4.6")) << trace_->output();
  EXPECT_NE(trace_->output().find("-- bridge started --"), std::string::npos);
}

// Not a terminal here: each change is a new block after a blank line, and a
// batch that changes nothing shows nothing.
TEST_F(TraceFollow, StateIsShownAgainForEachChange) {
  p50x::test::writeFile(dir_ + "/Loks.txt", "BR218;3;0;1;27;160;160\n");
  append("\n-------------\n\nR 58 80 03 00 40 30 \nS 00 ");
  trace_ = std::make_unique<p50x::test::BridgeProcess>();
  ASSERT_TRUE(trace_->start(P50X_TRACE_PATH,
                            {"-f", "--state", "--locos", "Loks.txt", "monitor.txt"}, dir_));
  const std::string first =
      "power on; mixed mode\nlocomotives:\n      3 BR218 speed 64 forward light\n"
      "turnouts: none switched\ncontacts occupied: none\n";
  ASSERT_TRUE(trace_->waitForOutput(first)) << trace_->output();

  append("\nR 58 a2 \nS 08 \nR 58 90 06 c0 \nS 00 ");
  const std::string second =
      "\npower on; mixed mode\nlocomotives:\n      3 BR218 speed 64 forward light\n"
      "turnouts:\n      6 green\ncontacts occupied: none\n";
  ASSERT_TRUE(trace_->waitForOutput(first + second)) << trace_->output();

  append("\nR 58 a5 \nS 00 ");
  EXPECT_TRUE(
      trace_->waitForOutput("\npower on, halted; mixed mode\nlocomotives:\n"
                            "      3 BR218 speed 0 forward light\n"))
      << trace_->output();
  EXPECT_EQ(trace_->output().rfind(first + second, 0), 0u) << "XStatus alone changed nothing";
}

TEST_F(TraceFollow, WaitsForAFileThatDoesNotExistYet) {
  ASSERT_TRUE(startTrace());
  append("\n-------------\n\nR 58 c8 \nS 00 ");
  EXPECT_TRUE(trace_->waitForOutput("XEvent")) << trace_->output() << trace_->errors();
}

TEST(TraceProgram, HelpVersionAndBadArguments) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* output;
  };
  const std::vector<Case> cases = {
      {{"--help"}, 0, "Usage: p50x-trace"},
      {{"-V"}, 0, "p50x-trace " P50X_VERSION "\n"},
      {{"--frobnicate"}, 2, ""},
      {{"-f"}, 2, ""},
      {{"/nonexistent/monitor.txt"}, 1, ""},
      {{"--state", "--locos", "/nonexistent/Loks.txt", "/dev/null"}, 1, ""},
      {{"--locos", "Loks.txt"}, 2, ""},
      {{"--state", "--locos"}, 2, ""},
  };
  for (const Case& c : cases) {
    p50x::test::BridgeProcess trace;
    ASSERT_TRUE(trace.start(P50X_TRACE_PATH, c.args, "/tmp"));
    EXPECT_EQ(trace.waitForExit(), c.status) << c.args[0];
    EXPECT_NE(trace.output().find(c.output), std::string::npos) << c.args[0] << trace.output();
    if (c.status != 0) {
      EXPECT_NE(trace.errors(), "") << c.args[0];
    }
  }
}

}  // namespace
}  // namespace p50x::trace::test
