// The serial side at its own pace, whatever the host does: replies never
// wait for the host's answers, the host still hears every message in order,
// and what is waiting at shutdown is still delivered.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "bridge_fixture.h"

namespace p50x::test {
namespace {

const Line kVersion = {0x03, 0x01, 0x04, 0x06, 0x04, 0x00, 0x13, 0x07, 0x56, 0x00};

// One command of a control session and the host message it causes, with the
// value a test can foresee ("381;Lok1;1", "305;W2;0;"); empty when none.
struct Step {
  Line command;
  Line reply;
  std::vector<std::string> heard;  // the speed message is matched by prefix
};

// A session as control software runs it: locomotive, turnout, status and
// version commands, each answered before the next is sent.
std::vector<Step> session(int commands) {
  std::vector<Step> steps;
  for (int i = 0; i < commands; ++i) {
    const int light = (i / 4) % 2;
    const int position = (i / 4) % 2;
    switch (i % 4) {
      case 0:
        steps.push_back({{'X', 0x80, 3, 0, static_cast<unsigned char>(i % 100),
                          static_cast<unsigned char>(light ? 0x30 : 0x20)},
                         {0x00},
                         {"371;Lok1;1;", "381;Lok1;" + std::to_string(light) + "\n"}});
        break;
      case 1:
        steps.push_back({{'X', 0x90, 6, static_cast<unsigned char>(position ? 0xC0 : 0x40)},
                         {0x00},
                         {"305;W2;" + std::to_string(position) + ";\n"}});
        break;
      case 2:
        steps.push_back({{'X', 0xA2}, {0x08}, {}});
        break;
      default:
        steps.push_back({{'X', 0xA0}, kVersion, {}});
        break;
    }
  }
  return steps;
}

std::vector<std::string> expectedHeard(const std::vector<Step>& steps) {
  std::vector<std::string> heard;
  for (const Step& s : steps) heard.insert(heard.end(), s.heard.begin(), s.heard.end());
  return heard;
}

// The host's messages match the expected ones in order (a speed message by its
// prefix, its value being the speed conversion's business).
bool heardInOrder(const std::vector<std::string>& got, const std::vector<std::string>& expected) {
  if (got.size() != expected.size()) return false;
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (got[i].rfind(expected[i], 0) != 0) return false;
  }
  return true;
}

// A reply that waited for the host would come a second or two late; these
// come while the host still sits on its first answer.
TEST_F(BridgeEndToEnd, RepliesDoNotWaitForASlowOrSilentHost) {
  struct Case {
    const char* name;
    int answerDelayMs;
    bool neverAnswer;
  } cases[] = {{"host answers 1 s late", 1000, false}, {"host never answers", 0, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    startBridge();
    ASSERT_TRUE(host_->waitForMessages(1, 5s));  // the start message
    host_->clearMessages();
    host_->setAnswerDelay(c.answerDelayMs);
    host_->setNeverAnswer(c.neverAnswer);

    const std::vector<Step> steps = session(200);
    for (std::size_t i = 0; i < steps.size(); ++i) {
      line_.send(steps[i].command);
      ASSERT_EQ(line_.receive(steps[i].reply.size(), 500ms), steps[i].reply) << "command " << i;
    }
    if (!c.neverAnswer) {
      // Once the host answers at once again, the backlog drains in order.
      host_->setAnswerDelay(0);
      const auto expected = expectedHeard(steps);
      EXPECT_TRUE(waitFor([&] { return heardInOrder(host_->messageTexts(), expected); }, 10s))
          << host_->messageTexts().size() << " of " << expected.size() << " messages heard";
    }
    bridge_->type("\x1b");
    EXPECT_EQ(bridge_->waitForExit(5s), 1);
    line_.close();
  }
}

TEST_F(BridgeEndToEnd, EscRightAfterABurstStillDeliversWhatIsWaiting) {
  startBridge();
  ASSERT_TRUE(host_->waitForMessages(1, 5s));
  host_->clearMessages();
  host_->setAnswerDelay(2);
  const std::vector<Step> steps = session(120);
  for (const Step& s : steps) {
    line_.send(s.command);
    ASSERT_EQ(line_.receive(s.reply.size()), s.reply);
  }
  bridge_->type("\x1b");
  EXPECT_EQ(bridge_->waitForExit(), 1);
  const auto expected = expectedHeard(steps);
  EXPECT_TRUE(heardInOrder(host_->messageTexts(), expected))
      << host_->messageTexts().size() << " of " << expected.size() << " messages heard";
}

TEST_F(BridgeEndToEnd, WriteConnectionClosedWhileTheLineIsQuietIsReportedAtOnce) {
  startBridge();
  ASSERT_TRUE(host_->waitForMessages(1, 5s));
  ASSERT_TRUE(host_->closeConnection(Link::kCommand, Role::kWrite));
  EXPECT_TRUE(bridge_->waitForOutput(
      "Host link lost (command link): write connection closed by the host. Reconnecting in the "
      "background.\n",
      1s))
      << bridge_->output();
  // The links come back with the start message.
  EXPECT_TRUE(bridge_->waitForOutput("Host links connected again.\n")) << bridge_->output();
  EXPECT_TRUE(host_->waitForMessages(2, 5s));
}

}  // namespace
}  // namespace p50x::test
