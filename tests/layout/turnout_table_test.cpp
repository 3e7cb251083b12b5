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

// Control software sends each switch twice: coil on (0x40), then the same
// command with the coil off. The host hears one switch; every other command,
// with or without the coil bit, tells it the position.
TEST_F(TurnoutTableTest, OnlyTheReleaseOfASwitchGoesUnreported) {
  struct Command {
    int low;
    int second;
  };
  struct Case {
    const char* name;
    std::vector<Command> commands;
    Messages messages;
  };
  const Case cases[] = {
      {"switch and release",
       {{6, 0xC0}, {6, 0x80}, {6, 0x40}, {6, 0x00}},
       {"305;W2;1;\n", "305;W2;0;\n"}},
      {"the first command names the start position", {{6, 0x80}}, {"305;W2;1;\n"}},
      {"coil off twice", {{6, 0x00}, {6, 0x00}}, {"305;W2;0;\n", "305;W2;0;\n"}},
      {"a release once only", {{6, 0x40}, {6, 0x00}, {6, 0x00}}, {"305;W2;0;\n", "305;W2;0;\n"}},
      {"coil off towards the other position",
       {{6, 0x40}, {6, 0x80}},
       {"305;W2;0;\n", "305;W2;1;\n"}},
      {"coil on twice", {{6, 0x40}, {6, 0x40}, {6, 0x00}}, {"305;W2;0;\n", "305;W2;0;\n"}},
      {"interleaved turnouts release their own",
       {{6, 0x40}, {5, 0xC0}, {6, 0x00}, {5, 0x80}},
       {"305;W2;0;\n", "305;W1;2;\n"}},
      {"a release of another turnout's switch",
       {{6, 0x40}, {5, 0x00}},
       {"305;W2;0;\n", "305;W1;0;\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    load(kExample);
    for (const Command& command : c.commands) {
      table.xTrnt(channel, command.low, static_cast<std::int8_t>(command.second));
    }
    EXPECT_EQ(messages(), c.messages);
    // The reply never changes.
    EXPECT_EQ(reply(), Bytes(c.commands.size(), 0x00));
  }
  // The release leaves the position where the switch put it.
  load(kExample);
  table.xTrnt(channel, 6, 0x40);
  table.xTrnt(channel, 6, 0x00);
  reply();
  EXPECT_EQ(status(6, 0), bytes({0x00, 0x00}));
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

// Without a list ("Frei") every address is one in no entry, up to the highest
// the protocol carries; an entry at the same low address with another high
// address is another turnout. (The replies in both modes: whole_station_test.)
TEST_F(TurnoutTableTest, TurnoutsInNoEntryKeepTheirPositionsByAddress) {
  table.load(files.missing().c_str());
  console.clear();
  table.xTrnt(channel, 255, 0x07);
  table.xTrnt(channel, 255, static_cast<std::int8_t>(0x86));
  EXPECT_EQ(reply(), bytes({0x00, 0x00}));
  EXPECT_EQ(status(255, 7), bytes({0x00, 0x00}));
  EXPECT_EQ(status(255, 6), bytes({0x00, 0x04}));
  EXPECT_EQ(status(255, 5), bytes({0x00, 0x04}));
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(console.outText(),
            "Weiche 2047 nicht in der Weichenliste\nWeiche 1791 nicht in der Weichenliste\n"
            "Weiche 1535 nicht in der Weichenliste\n");

  load("H;5;1;0;0\n");
  console.clear();
  table.xTrnt(channel, 5, 0x78);  // bits 3 to 6 are no part of the address
  EXPECT_EQ(reply(), bytes({0x00}));
  EXPECT_EQ(status(5, 0), bytes({0x00, 0x00}));
  EXPECT_EQ(status(5, 1), bytes({0x00, 0x04}));
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(console.outText(), "Weiche 5 nicht in der Weichenliste\n");
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
