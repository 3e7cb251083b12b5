#include "layout/loco_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "list_files.h"
#include "support/recording.h"

namespace p50x {
namespace {

using test::bytes;
using test::Bytes;
using Messages = std::vector<std::string>;

class LocoTableTest : public ::testing::Test {
 protected:
  void load(const std::string& text) {
    table.load(files.write("locos.txt", text).c_str());
    host.clear();
  }
  // The next reply, alone: every command writes at most one.
  Bytes reply() { return sink.take(); }
  Messages messages() { return host.take(); }
  // What the status commands tell of the locomotive at low/0: speed,
  // dir<<5|light<<4|F4..F1 and the own steps (XLokSts), then F8..F1 (XFuncSts).
  Bytes stateOf(int low) {
    sink.clear();
    table.xLokSts(channel, low, 0);
    table.xFuncSts(channel, low, 0);
    const Bytes all = reply();
    if (all.size() != 6 || all[0] != 0x00 || all[4] != 0x00) return all;
    return Bytes{all[1], all[2], all[3], all[5]};
  }
  Bytes eventReport() {
    sink.clear();
    table.xEvtLok(channel);
    return reply();
  }

  test::TempListFiles files;
  test::RecordingConsole console;
  test::RecordingHostSender host;
  test::RecordingSink sink;
  ReplyChannel channel{sink};
  LocoTable table{console, host};
};

TEST_F(LocoTableTest, StartMessageFollowsLoadingAlsoWithoutAFile) {
  table.load(files.missing().c_str());
  EXPECT_EQ(console.errText(), "Error opening file: No such file or directory\nLokliste \"" +
                                   files.missing() +
                                   "\": No such file or directory; die Liste bleibt leer.\n");
  EXPECT_EQ(host.messages(), (Messages{"41;0\n"}));
  EXPECT_EQ(table.count(), 0);

  host.clear();
  table.load(
      files.write("locos.txt", "# name;low;high;mode;cfg;fwd;rev\nLok1;3;0;1;27;100;80\n").c_str());
  EXPECT_EQ(host.messages(), (Messages{"41;0\n"}));
  EXPECT_EQ(table.count(), 1);
}

TEST_F(LocoTableTest, UnknownAddressRepliesTwoAndSendsNothing) {
  for (const char* text : {"", "Lok1;3;0;2;28;100;80\n"}) {
    load(text);
    table.xLok(channel, 4, 0, 10, 0x20);
    table.xLokX(channel, 3, 1, 10, 0x20);
    table.xLokCfg(channel, 0, 0);
    table.xFunc(channel, 4, 0, 1);
    EXPECT_EQ(sink.writes, (std::vector<Bytes>{{0x02}, {0x02}, {0x02}, {0x02}})) << text;
    EXPECT_TRUE(messages().empty());
    sink.clear();
  }
  // Nothing was stored by the failed commands.
  EXPECT_EQ(stateOf(3), bytes({0, 0x20, 0, 0}));
  load("");
  EXPECT_EQ(eventReport(), bytes({0x80}));
}

TEST_F(LocoTableTest, ConfigAndFunctionRepliesFindAddressesAsBytes) {
  // 300 is no address byte: the line is skipped, never cut to 44, somebody
  // else's address. 200 arrives from the line as signed -56.
  load("Lok1;300;0;2;28;100;80\nLok1;44;0;2;28;100;80\nLok2;200;129;2;5;100;80\n");
  EXPECT_EQ(table.count(), 2);
  table.xLokCfg(channel, 44, 0);
  EXPECT_EQ(reply(), bytes({0x00, 0x02, 0x1C, 0xFF, 0xFF}));
  table.xLokCfg(channel, -56, -127);
  EXPECT_EQ(reply(), bytes({0x00, 0x02, 0x05, 0xFF, 0xFF}));
  table.xFunc(channel, 44, 0, 0x0F);
  EXPECT_EQ(reply(), bytes({0x00}));
  EXPECT_TRUE(messages().empty());
}

TEST_F(LocoTableTest, SpeedMessageScalesTopSpeedBySpeedAndDirection) {
  load("Lok1;3;0;2;28;100;80\n");
  struct Case {
    int speed;
    int flags;
    const char* speedText;
    const char* lightText;
  };
  const Case cases[] = {
      {126, 0x30, "371;Lok1;1;319.3\n", "381;Lok1;1\n"},   // forward, top 100
      {126, 0x10, "371;Lok1;1;-255.4\n", "381;Lok1;1\n"},  // reverse, top 80
      {0, 0x00, "371;Lok1;1;-0.0\n", "381;Lok1;0\n"},      // standstill in reverse
      {0, 0x20, "371;Lok1;1;0.0\n", "381;Lok1;0\n"},
      {63, 0x2F, "371;Lok1;1;159.6\n", "381;Lok1;0\n"},
      {-1, 0x20, "371;Lok1;1;-2.5\n", "381;Lok1;0\n"},  // speed byte 0xFF is -1
      {127, 0xE0, "371;Lok1;1;321.8\n", "381;Lok1;0\n"},
  };
  for (const Case& c : cases) {
    table.xLok(channel, 3, 0, c.speed, c.flags);
    EXPECT_EQ(reply(), bytes({0x00}));
    EXPECT_EQ(messages(), (Messages{c.speedText, c.lightText})) << c.speed << " " << c.flags;
  }
}

TEST_F(LocoTableTest, ReplyLeavesBeforeTheHostMessagesAndTagIsReadAtMessageTime) {
  load("Lok1;3;0;3;0;100;80\n");
  std::vector<std::size_t> repliesAtSend;
  host.onSend = [&](const char*) { repliesAtSend.push_back(sink.writes.size()); };
  table.setSpeedReportTag(-7);
  table.xLokX(channel, 3, 0, 126, 0x20);
  EXPECT_EQ(repliesAtSend, (std::vector<std::size_t>{1, 1}));
  EXPECT_EQ(messages(), (Messages{"371;Lok1;-7;319.3\n", "381;Lok1;0\n"}));
}

TEST_F(LocoTableTest, LongNamesAndHugeTopSpeedsAreSentWhole) {
  // The longest name that leaves room for the numbers in a 99-character read.
  const std::string name(66, 'N');
  load(name + ";3;0;3;0;2147483647;-2147483648\n");
  table.xLok(channel, 3, 0, 127, 0x30);
  table.xLok(channel, 3, 0, 127, 0x10);
  const Messages m = messages();
  ASSERT_EQ(m.size(), 4u);
  EXPECT_EQ(m[0], "371;" + name + ";1;6911006208.0\n");
  EXPECT_EQ(m[2], "371;" + name + ";1;6911006208.0\n");  // reverse of a negative top
  EXPECT_EQ(m[3], "381;" + name + ";1\n");
}

TEST_F(LocoTableTest, ConvertsRawSpeedByStepMode) {
  load(
      "M0;10;0;0;0;100;100\nM1;11;0;1;0;100;100\nM2;12;0;2;0;100;100\n"
      "M3;13;0;3;0;100;100\nM7;17;0;7;0;100;100\n");
  struct Case {
    int low;
    int raw;
    int speed;  // as XLokSts reports it
  };
  const Case cases[] = {
      {10, 0, 0},    {10, 1, 2},     {10, 14, 127},  {10, 15, 1}, {11, 1, 4},
      {11, 27, 126}, {11, 28, 130},  {11, -27, 130}, {12, 3, 13}, {12, 28, 126},
      {12, -3, 243}, {13, 100, 100}, {13, -1, 255},
  };
  for (const Case& c : cases) {
    table.xLokX(channel, c.low, 0, c.raw, 0x20);
    EXPECT_EQ(reply(), bytes({0x00}));
    EXPECT_EQ(stateOf(c.low), bytes({c.speed, 0x20, c.raw, 0}))
        << "low " << c.low << " raw " << c.raw;
  }
  // The converted speed is what the speed message uses: 27 steps onto 126.
  messages();
  table.xLokX(channel, 11, 0, 27, 0x20);
  EXPECT_EQ(messages().front(), "371;M1;1;319.3\n");
}

TEST_F(LocoTableTest, UnknownStepModeAndRawSpeedOutsideTheTableKeepTheSpeed) {
  load("M0;10;0;0;0;100;100\nM7;17;0;7;0;100;100\n");
  table.xLok(channel, 17, 0, 55, 0x20);
  table.xLokX(channel, 17, 0, 20, 0x20);
  EXPECT_EQ(stateOf(17), bytes({55, 0x20, 20, 0}));

  table.xLok(channel, 10, 0, 66, 0x20);
  for (int raw : {16, -1, 127, -128}) {
    table.xLokX(channel, 10, 0, raw, 0x20);
    EXPECT_EQ(stateOf(10), bytes({66, 0x20, raw, 0})) << raw;
  }
}

// To control software an XEvtLok record means "changed by somebody else": it
// sets its own picture from the record and, as the record has no F9 to F28,
// takes those as off. Its own commands are therefore never reported; the
// locomotives XHalt stopped are, once each.
TEST_F(LocoTableTest, EventReportHasOnlyWhatTheHaltStopped) {
  using Commands = void (*)(LocoTable&, ReplyChannel&);
  struct Case {
    const char* name;
    Commands commands;
    std::vector<Bytes> reports;  // of XEvtLok, called until the end byte comes alone
  };
  const Bytes end = {0x80};
  // A at 3 (step mode 0), B at 4 (step mode 3), C at 5; the walk starts at C.
  const Case cases[] = {
      {"nothing", [](LocoTable&, ReplyChannel&) {}, {end}},
      {"XLok", [](LocoTable& t, ReplyChannel& c) { t.xLok(c, 4, 0, 100, 0x30); }, {end}},
      {"XLokX", [](LocoTable& t, ReplyChannel& c) { t.xLokX(c, 3, 0, 14, 0xA1); }, {end}},
      {"function commands",
       [](LocoTable& t, ReplyChannel& c) {
         t.xFunc(c, 3, 0, 0xFF);
         t.xFuncX(c, 3, 0, 0xFF);
         t.xFunc34(c, 3, 0, 0xFF, 0x0F);
       },
       {end}},
      {"queries and unknown addresses",
       [](LocoTable& t, ReplyChannel& c) {
         t.xLokSts(c, 3, 0);
         t.xLokCfg(c, 3, 0);
         t.xFuncSts(c, 3, 0);
         t.xLok(c, 9, 0, 100, 0x30);
       },
       {end}},
      {"XHalt with nothing moving", [](LocoTable& t, ReplyChannel&) { t.haltAll(); }, {end}},
      {"XHalt: each stopped locomotive once, in walk order",
       [](LocoTable& t, ReplyChannel& c) {
         t.xLokX(c, 3, 0, 14, 0xA1);  // bit 7: F1 to F4 taken
         t.xFunc(c, 3, 0, 0x81);      // F1 and F8
         t.xFuncX(c, 3, 0, 0xFF);     // F9 to F16 have no room in the record
         t.xLok(c, 4, 0, 100, 0x1F);  // reverse, light
         t.haltAll();
       },
       {bytes({0x00, 0x00, 0x04, 0x40, 0x00,  // B
               0x00, 0x81, 0x03, 0x80, 0x00,  // A
               0x80}),
        end}},
      {"XLok after XHalt: the control software knows that one",
       [](LocoTable& t, ReplyChannel& c) {
         t.xLok(c, 3, 0, 50, 0x20);
         t.xLok(c, 4, 0, 50, 0x20);
         t.haltAll();
         t.xLok(c, 4, 0, 0, 0x00);
         t.xFunc(c, 3, 0, 0x01);  // functions leave the halt's news waiting
       },
       {bytes({0x00, 0x01, 0x03, 0x80, 0x00, 0x80}), end}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    load("A;3;0;0;0;100;100\nB;4;0;3;0;100;100\nC;5;0;3;0;100;100\n");
    c.commands(table, channel);
    std::vector<Bytes> reports;
    EXPECT_EQ(table.reportWaiting(), c.reports.size() > 1);
    do {
      reports.push_back(eventReport());
    } while (reports.back() != end && reports.size() < 5);
    EXPECT_EQ(reports, c.reports);
    EXPECT_FALSE(table.reportWaiting());
    sink.clear();
    host.clear();
  }
}

// A client polling the report used to be told, again and again, that a
// locomotive set by XLok stands: the report reconverted a stale raw speed.
TEST_F(LocoTableTest, StatusShowsTheLatestCommandsAndTheReportChangesNothing) {
  load("M3;13;0;3;0;100;100\n");
  table.xLok(channel, 13, 0, 100, 0xAF);
  eventReport();
  EXPECT_EQ(stateOf(13), bytes({100, 0x2F, 100, 0x0F}));

  // XFunc sets F1 to F8, the XLok flags with bit 7 only F1 to F4.
  table.xFunc(channel, 13, 0, 0xF5);
  EXPECT_EQ(stateOf(13), bytes({100, 0x25, 100, 0xF5}));
  table.xLok(channel, 13, 0, 100, 0x30);
  EXPECT_EQ(stateOf(13), bytes({100, 0x35, 100, 0xF5}));
  EXPECT_EQ(messages().size(), 4u);  // the two XLok; functions go nowhere

  // Reporting a halted locomotive leaves it as the halt left it.
  table.haltAll();
  EXPECT_EQ(eventReport(), bytes({0, 0xF5, 13, 0xC0, 0, 0x80}));
  EXPECT_EQ(stateOf(13), bytes({0, 0x35, 0, 0xF5}));
}

// Speed byte 1 is the emergency stop: the host hears a standstill, signed by
// the direction like speed 0, while reply and stored speed stay as they are.
TEST_F(LocoTableTest, EmergencyStopIsReportedAsStandstill) {
  load("M0;10;0;0;0;100;100\nM3;13;0;3;0;100;80\n");
  table.xLok(channel, 13, 0, 1, 0x30);
  EXPECT_EQ(reply(), bytes({0x00}));
  EXPECT_EQ(messages(), (Messages{"371;M3;1;0.0\n", "381;M3;1\n"}));
  table.xLok(channel, 13, 0, 1, 0x00);
  EXPECT_EQ(messages(), (Messages{"371;M3;1;-0.0\n", "381;M3;0\n"}));
  EXPECT_EQ(stateOf(13), bytes({1, 0x00, 1, 0}));
  table.xLok(channel, 13, 0, 2, 0x20);
  EXPECT_EQ(messages().front(), "371;M3;1;5.1\n");

  // Step 15 of the step table converts to 1, and so does raw 1 in step mode 3.
  table.xLokX(channel, 10, 0, 15, 0x00);
  EXPECT_EQ(messages().front(), "371;M0;1;-0.0\n");
  EXPECT_EQ(stateOf(10), bytes({1, 0x00, 15, 0}));
  table.xLokX(channel, 13, 0, 1, 0x20);
  EXPECT_EQ(messages().front(), "371;M3;1;0.0\n");
}

// 50 records and the end byte are 251 bytes, below the 256 a serial write
// takes; the rest of a halt's stops come with the next report.
TEST_F(LocoTableTest, EventReportTakesFiftyLocosAndLeavesTheRestForTheNext) {
  std::string text;
  for (int i = 1; i <= 60; ++i)
    text += "L" + std::to_string(i) + ";" + std::to_string(i) + ";0;3;0;1;1\n";
  load(text);
  for (int i = 1; i <= 60; ++i) table.xLok(channel, i, 0, 10, 0x20);
  table.haltAll();
  const Bytes first = eventReport();
  ASSERT_EQ(first.size(), 251u);
  EXPECT_EQ(first[2], 60);    // the last line first
  EXPECT_EQ(first[247], 11);  // the fiftieth of the walk
  EXPECT_EQ(first[250], 0x80);
  EXPECT_TRUE(table.reportWaiting());
  const Bytes rest = eventReport();
  ASSERT_EQ(rest.size(), 51u);
  EXPECT_EQ(rest[2], 10);
  EXPECT_EQ(rest[47], 1);
  EXPECT_EQ(eventReport(), bytes({0x80}));
}

TEST_F(LocoTableTest, TheLaterOfTwoLinesWithOneAddressWins) {
  load("Old;3;0;1;1;100;80\nNew;3;0;2;2;100;80\n");
  table.xLokCfg(channel, 3, 0);
  EXPECT_EQ(reply(), bytes({0x00, 0x02, 0x02, 0xFF, 0xFF}));
  table.xLok(channel, 3, 0, 0, 0x20);
  EXPECT_EQ(messages(), (Messages{"371;New;1;0.0\n", "381;New;0\n"}));
}

}  // namespace
}  // namespace p50x
