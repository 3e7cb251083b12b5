#include "layout/turnout_table.h"

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

#include "list_files.h"
#include "support/recording.h"

namespace p50x {
namespace {

using test::bytes;
using test::Bytes;
using Messages = std::vector<std::string>;

// W1 has W2 (low address 6) as its partner.
constexpr const char* kExample = "W1;5;0;1;6\nW2;6;0;0;0\n";

class TurnoutTableTest : public ::testing::Test {
 protected:
  void load(const std::string& text) { table.load(files.write("turnouts.txt", text).c_str()); }
  Bytes reply() { return sink.take(); }
  Messages messages() { return host.take(); }
  Bytes status(int low, int high) {
    table.xTrntSts(channel, low, high);
    return reply();
  }

  test::TempListFiles files;
  test::RecordingConsole console;
  test::RecordingHostSender host;
  test::RecordingSink sink;
  ReplyChannel channel{sink};
  TurnoutTable table{console, host};
};

TEST_F(TurnoutTableTest, StatusReportsFlagAndPosition) {
  load(kExample);
  EXPECT_EQ(table.count(), 2);
  EXPECT_EQ(status(5, 0), bytes({0x00, 0x05}));
  EXPECT_EQ(status(6, 0), bytes({0x00, 0x04}));
  table.xTrnt(channel, 6, 0x00);
  EXPECT_EQ(reply(), bytes({0x00}));
  EXPECT_EQ(status(6, 0), bytes({0x00, 0x00}));
  EXPECT_EQ(messages(), (Messages{"305;W2;0;\n"}));
}

TEST_F(TurnoutTableTest, PartnerGivesTheCombinedState) {
  load(kExample);
  // Before W2 is commanded it stands at 1: 1 + 2 * 1.
  table.xTrnt(channel, 5, static_cast<std::int8_t>(0x80));
  EXPECT_EQ(reply(), bytes({0x00}));
  EXPECT_EQ(messages(), (Messages{"305;W1;3;\n"}));

  table.xTrnt(channel, 6, 0x00);
  EXPECT_EQ(messages(), (Messages{"305;W2;0;\n"}));
  table.xTrnt(channel, 5, static_cast<std::int8_t>(0x80));
  EXPECT_EQ(messages(), (Messages{"305;W1;2;\n"}));
  table.xTrnt(channel, 5, 0x00);
  EXPECT_EQ(messages(), (Messages{"305;W1;0;\n"}));
  table.xTrnt(channel, 6, static_cast<std::int8_t>(0x80));
  table.xTrnt(channel, 5, 0x00);
  EXPECT_EQ(messages(), (Messages{"305;W2;1;\n", "305;W1;1;\n"}));
  EXPECT_EQ(reply(), bytes({0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(TurnoutTableTest, SelfPartnerAndMissingPartner) {
  load("S;7;0;0;7\nM;8;0;0;99\n");
  table.xTrnt(channel, 7, static_cast<std::int8_t>(0x80));
  table.xTrnt(channel, 7, 0x00);
  EXPECT_EQ(messages(), (Messages{"305;S;3;\n", "305;S;0;\n"}));

  // Without its partner the command still counts, only the message is missing.
  table.xTrnt(channel, 8, 0x00);
  EXPECT_EQ(reply(), bytes({0x00, 0x00, 0x00}));
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(status(8, 0), bytes({0x00, 0x00}));
}

TEST_F(TurnoutTableTest, SecondByteCarriesHighAddressAndDirection) {
  load("W1;5;0;1;0\nH;5;1;0;0\n");
  // 0x81: high address 1, direction 1; bits 3 to 6 are ignored.
  table.xTrnt(channel, 5, static_cast<std::int8_t>(0x81));
  table.xTrnt(channel, 5, 0x79);
  EXPECT_EQ(messages(), (Messages{"305;H;1;\n", "305;H;0;\n"}));
  EXPECT_EQ(reply(), bytes({0x00, 0x00}));
  // The status query compares the whole second byte: with flag bits in it,
  // it finds no entry and is answered as turnout 5 in no entry.
  EXPECT_EQ(status(5, static_cast<std::int8_t>(0x80)), bytes({0x00, 0x04}));
  EXPECT_EQ(status(5, 1), bytes({0x00, 0x00}));
  EXPECT_EQ(status(5, 0), bytes({0x00, 0x05}));
}

// A P50X-only client sends each switch twice: coil on (0x40), then coil off.
TEST_F(TurnoutTableTest, CoilReleaseInP50XOnlyModeReachesNobody) {
  constexpr auto only = StationMode::P50XOnly;
  load(kExample);
  table.xTrnt(channel, 6, static_cast<std::int8_t>(0xC0), only);  // W2 to 1, coil on
  table.xTrnt(channel, 6, static_cast<std::int8_t>(0x80), only);  // coil off
  EXPECT_EQ(messages(), (Messages{"305;W2;1;\n"}));
  table.xTrnt(channel, 6, 0x40, only);
  table.xTrnt(channel, 6, 0x00, only);
  EXPECT_EQ(messages(), (Messages{"305;W2;0;\n"}));
  EXPECT_EQ(reply(), bytes({0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(status(6, 0), bytes({0x00, 0x00}));

  // Coil off towards the other position is a switch like any other, and so is
  // any repeat in mixed mode.
  table.xTrnt(channel, 5, 0x00, only);
  table.xTrnt(channel, 5, 0x00);
  EXPECT_EQ(messages(), (Messages{"305;W1;0;\n", "305;W1;0;\n"}));
}

TEST_F(TurnoutTableTest, AMissingListLeavesTheTableEmpty) {
  table.load(files.missing().c_str());
  EXPECT_EQ(console.errText(), "Error opening file: No such file or directory\nWeichenliste \"" +
                                   files.missing() +
                                   "\": No such file or directory; die Liste bleibt leer.\n");
  EXPECT_EQ(table.count(), 0);
  table.xEvtTrn(channel);
  EXPECT_EQ(reply(), bytes({0x00}));
}

// Every turnout command is answered, whatever the list holds: a turnout in no
// entry keeps its position here, in both modes, and the host never hears of
// it. Each case runs its commands in order on a fresh table.
struct TurnoutCommand {
  enum Kind { kSwitch, kStatus } kind;
  int low;
  int second;  // XTrnt: high bits and direction; XTrntSts: high byte
  Bytes reply;
  Messages host = {};
};

struct TurnoutCase {
  const char* name;
  const char* list;  // nullptr: the file is missing
  StationMode mode;
  std::vector<TurnoutCommand> commands;
  std::string console;  // the notices that follow the loading
};

class TurnoutReplies : public ::testing::TestWithParam<TurnoutCase> {};

constexpr auto kMixed = StationMode::Mixed;
constexpr auto kOnly = StationMode::P50XOnly;
using C = TurnoutCommand;

const TurnoutCase kTurnoutCases[] = {
    {"KnownMixed",
     kExample,
     kMixed,
     {{C::kStatus, 5, 0, bytes({0x00, 0x05})},
      {C::kSwitch, 5, 0x00, bytes({0x00}), {"305;W1;1;\n"}},
      {C::kStatus, 5, 0, bytes({0x00, 0x01})}},
     ""},
    {"KnownP50XOnly",
     kExample,
     kOnly,
     {{C::kSwitch, 6, 0x40, bytes({0x00}), {"305;W2;0;\n"}},
      {C::kStatus, 6, 0, bytes({0x00, 0x00})}},
     ""},
    {"UnknownMixed",
     kExample,
     kMixed,
     {{C::kStatus, 9, 0, bytes({0x00, 0x04})},
      {C::kSwitch, 9, 0x00, bytes({0x00})},
      {C::kStatus, 9, 0, bytes({0x00, 0x00})},
      {C::kSwitch, 9, 0x80, bytes({0x00})},
      {C::kStatus, 9, 0, bytes({0x00, 0x04})},
      {C::kStatus, 10, 0, bytes({0x00, 0x04})}},
     "Weiche 9 nicht in der Weichenliste\nWeiche 10 nicht in der Weichenliste\n"},
    {"UnknownP50XOnlyCoilOnAndOff",
     kExample,
     kOnly,
     {{C::kSwitch, 9, 0x40, bytes({0x00})},
      {C::kSwitch, 9, 0x00, bytes({0x00})},
      {C::kStatus, 9, 0, bytes({0x00, 0x00})}},
     "Weiche 9 nicht in der Weichenliste\n"},
    // Without a list ("Frei") every address is one in no entry; the highest
    // the protocol carries too. Each is named once, however often it comes.
    {"NoListHighestAddress",
     nullptr,
     kMixed,
     {{C::kSwitch, 255, 0x07, bytes({0x00})},
      {C::kStatus, 255, 7, bytes({0x00, 0x00})},
      {C::kSwitch, 255, static_cast<std::int8_t>(0x87), bytes({0x00})},
      {C::kStatus, 255, 7, bytes({0x00, 0x04})},
      {C::kStatus, 255, 6, bytes({0x00, 0x04})}},
     "Weiche 2047 nicht in der Weichenliste\nWeiche 1791 nicht in der Weichenliste\n"},
    // An entry at the same low address with another high address is another
    // turnout; bits 3 to 6 of XTrnt's second byte are no part of the address.
    {"SameLowOtherHigh",
     "H;5;1;0;0\n",
     kMixed,
     {{C::kSwitch, 5, 0x78, bytes({0x00})},
      {C::kStatus, 5, 0, bytes({0x00, 0x00})},
      {C::kStatus, 5, 1, bytes({0x00, 0x04})}},
     "Weiche 5 nicht in der Weichenliste\n"},
};

INSTANTIATE_TEST_SUITE_P(Turnouts, TurnoutReplies, ::testing::ValuesIn(kTurnoutCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(TurnoutReplies, EveryCommandIsAnsweredAndUnknownAddressesAreNamedOnce) {
  const TurnoutCase& c = GetParam();
  test::TempListFiles files;
  test::RecordingConsole console;
  test::RecordingHostSender host;
  test::RecordingSink sink;
  ReplyChannel channel{sink};
  TurnoutTable table{console, host};
  table.load(c.list != nullptr ? files.write("turnouts.txt", c.list).c_str()
                               : files.missing().c_str());
  console.clear();
  for (std::size_t i = 0; i < c.commands.size(); ++i) {
    const TurnoutCommand& command = c.commands[i];
    SCOPED_TRACE(i);
    if (command.kind == C::kSwitch) {
      table.xTrnt(channel, command.low, command.second, c.mode);
    } else {
      table.xTrntSts(channel, command.low, command.second);
    }
    EXPECT_EQ(sink.take(), command.reply);
    EXPECT_EQ(host.take(), command.host);
  }
  EXPECT_EQ(console.outText(), c.console);
  EXPECT_EQ(console.errText(), "");
}

TEST_F(TurnoutTableTest, TheLaterOfTwoLinesWithOneAddressWins) {
  load("Old;5;0;1;0\nNew;5;0;0;0\n");
  EXPECT_EQ(status(5, 0), bytes({0x00, 0x04}));
  table.xTrnt(channel, 5, 0x00);
  EXPECT_EQ(messages(), (Messages{"305;New;0;\n"}));
}

// The host's report moves no turnout, and it is not held up by a command that
// waits for the host's answer.
TEST_F(TurnoutTableTest, HostReportChangesNothingAndIsServedWhileACommandWaits) {
  load(kExample);
  test::RecordingSink otherSink;
  ReplyChannel otherChannel{otherSink};
  std::future<void> other;
  bool servedDuringWait = false;
  host.onSend = [&](const char*) {
    other = std::async(std::launch::async, [&] {
      table.hostTurnout("W2", 0);
      table.hostTurnout("nobody", 0);
      table.xTrntSts(otherChannel, 6, 0);
    });
    servedDuringWait = other.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  };
  table.xTrnt(channel, 5, 0x00);
  other.wait();
  host.onSend = nullptr;
  EXPECT_TRUE(servedDuringWait);
  EXPECT_EQ(otherSink.all(), bytes({0x00, 0x04}));
}

}  // namespace
}  // namespace p50x
