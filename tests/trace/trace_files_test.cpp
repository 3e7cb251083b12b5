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
