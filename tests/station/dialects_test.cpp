// What control software written for related stations sends: the commands of
// the wider family framed whole, and a console that a polling driver cannot
// fill.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "full_station.h"

namespace p50x {
namespace {

using test::bytes;
using test::Bytes;
using test::text;

// A command of the wider family whose parameter bytes, read on their own,
// would be commands: 00 the one-byte command, CR the end of a text line, "X"
// and an opcode a binary command.
struct WiderCommand {
  const char* name;
  Bytes command;  // without the "X" prefix
  Bytes reply;
  std::string console = {};
};

// clang-format off
const WiderCommand kWider[] = {
    {"XClkSet, minute 00",   {0xC0, 0x00, 0x0D, 'X', 0xA2},       {0x00}},
    {"XClkSet, minute CR",   {0xC0, 0x0D, 'X', 0xC4, 0x00},       {0x00}},
    {"XClkSet, an opcode",   {0xC0, 'X', 0xA0, 0x00, 0x0D},       {0x00}},
    {"XSoSet",               {0xA3, 0x00, 'X', 0xA0},             {0x01},
     "P50Xb-Befehl XSoSet nicht unterstuetzt.\n"},
    {"XEvtBiDi",             {0xD2},                              {0x00}},
    {"XPomAcc",              {0xDF, 0x00, 0x0D, 'X', 0xA2, 0xC4}, {0x01},
     "P50Xb-Befehl XPomAcc nicht unterstuetzt.\n"},
};
// clang-format on

TEST(WiderFamily, ParameterBytesAreNeverAnsweredAsCommands) {
  for (const StationMode mode : {StationMode::Mixed, StationMode::P50XOnly}) {
    const bool mixed = mode == StationMode::Mixed;
    for (const WiderCommand& c : kWider) {
      for (const bool oneDelivery : {false, true}) {
        SCOPED_TRACE(std::string(c.name) + (mixed ? " / mixed" : " / P50X-only") +
                     (oneDelivery ? " / one delivery" : " / byte by byte"));
        test::FullStation s;
        if (!mixed) s.enterP50XOnly();
        Bytes in = c.command;
        if (mixed) in.insert(in.begin(), 'X');
        if (oneDelivery) {
          s.assembler.feed(static_cast<int>(in.size()), in.data());
        } else {
          s.feedEach(in);
        }
        EXPECT_EQ(s.sink.writes, std::vector<Bytes>{c.reply});
        EXPECT_EQ(s.assembler.inputCount(), 0);
        // The next command is answered as if nothing had come before it.
        EXPECT_EQ(s.send(mixed ? bytes({'X', 0xA2}) : bytes({0xA2})), bytes({0x08}));
        EXPECT_EQ(s.consoleText(), c.console);
        EXPECT_EQ(s.hostMessages(), std::vector<std::string>{});
      }
    }
  }
}

// A driver polls what the station does not carry out a few times a second:
// every command is answered, the console says it once per opcode and run,
// whichever mode it comes in.
TEST(WiderFamily, NoticesArePrintedOncePerOpcode) {
  struct Case {
    const char* name;
    Bytes command;  // without the "X" prefix
    Bytes reply;
    std::string notice;
  };
  const Case cases[] = {
      {"unknown opcode", {0xFF}, {0x01}, "Unbekannter P50Xb-Befehl ff\n"},
      {"not supported", {0x91, 5, 0}, {0x01}, "P50Xb-Befehl XTrntX nicht unterstuetzt.\n"},
      {"programming track",
       {0xEC, 1, 2},
       {0x01},
       "Programmiergleis-Befehl ec nicht unterstuetzt.\n"},
      {"embedded P50, no reply", {0xC6, 0x61}, {}, "XP50Len1: P50-Befehl 61 ignoriert.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::FullStation s;
    Bytes prefixed = c.command;
    prefixed.insert(prefixed.begin(), 'X');
    for (int i = 0; i < 3; ++i) EXPECT_EQ(s.send(prefixed), c.reply);
    EXPECT_EQ(s.consoleText(), c.notice);
    s.enterP50XOnly();
    EXPECT_EQ(s.send(c.command), c.reply);
    EXPECT_EQ(s.consoleText(), "");
  }
  // Each opcode has a notice of its own.
  test::FullStation s;
  EXPECT_EQ(s.send({'X', 0xFF, 'X', 0xFE, 'X', 0xFF, 'X', 0x82}), bytes({1, 1, 1, 1}));
  EXPECT_EQ(s.consoleText(),
            "Unbekannter P50Xb-Befehl ff\nUnbekannter P50Xb-Befehl fe\n"
            "Unbekannter P50Xb-Befehl 82\n");
}

// A mixed-mode program polls XEvtLok and takes every record as a change made
// elsewhere: its own commands must never come back, a halt's stops once. In
// P50X-only mode XEvent's bit 0 says when a report waits.
TEST(LocoEvents, OnlyTheHaltsStopsAreReportedOnceInBothModes) {
  struct Case {
    const char* name;
    std::vector<Bytes> commands;  // without the "X" prefix
    Bytes report;                 // the first XEvtLok after them
  };
  const Bytes end = {0x80};
  // Lok1 (3) moving forward with light, F1 and F8 (F9 to F16 are not in the
  // record), Lok2 (4) standing: only Lok1 is stopped.
  const Bytes halted = {0x00, 0x81, 3, 0xC0, 0x00, 0x80};
  const std::vector<Bytes> moving = {
      {0x80, 3, 0, 50, 0x30}, {0x88, 3, 0, 0x81}, {0x89, 3, 0, 0xFF}};
  auto then = [&](std::vector<Bytes> more) {
    std::vector<Bytes> all = moving;
    all.insert(all.end(), more.begin(), more.end());
    return all;
  };
  const Case cases[] = {
      {"the locomotive and function commands", then({{0x81, 4, 0, 5, 0x20}, {0x8A, 3, 0, 1, 1}}),
       end},
      {"the status commands", then({{0x84, 3, 0}, {0x8C, 3, 0}, {0x8D, 3, 0}, {0x8E, 3, 0}}), end},
      {"power and turnouts", then({{0xA6}, {0xA7}, {0x90, 5, 0xC0}}), end},
      {"XHalt", then({{0xA5}}), halted},
      {"XHalt, then the same speed refused", then({{0xA5}, {0x80, 3, 0, 50, 0x30}}), end},
      {"XHalt, then a function", then({{0xA5}, {0x8A, 3, 0, 0, 0}}), halted},
      {"XHalt twice", then({{0xA5}, {0xA5}}), halted},
      {"the text halt", then({text("XHALT\r")}), halted},
  };
  for (const StationMode mode : {StationMode::Mixed, StationMode::P50XOnly}) {
    const bool mixed = mode == StationMode::Mixed;
    auto prefixed = [&](Bytes command) {
      if (mixed && (command[0] & 0x80) != 0) command.insert(command.begin(), 'X');
      return command;
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (mixed ? " / mixed" : " / P50X-only"));
      test::FullStation s("Lok1;3;0;3;0;100;80\nLok2;4;0;1;0;100;100\n");
      if (!mixed) s.enterP50XOnly();
      for (const Bytes& command : c.commands) s.send(prefixed(command));
      // Only P50X-only mode has the event bits; mixed mode answers 00 as ever.
      const bool waits = c.report != end;
      EXPECT_EQ(s.send(prefixed({0xC8})), bytes({!mixed && waits ? 0x01 : 0x00}));
      EXPECT_EQ(s.send(prefixed({0xC9})), c.report);
      EXPECT_EQ(s.send(prefixed({0xC9})), end);
      EXPECT_EQ(s.send(prefixed({0xC8})), bytes({0x00}));
    }
  }
}

// A driver sends the release (coil bit clear, same position) after each
// switch: the host hears each switch once, in both modes, and a first command
// that names the position a turnout starts with is heard too.
TEST(CoilRelease, TheHostHearsEachSwitchOnceInBothModes) {
  for (const StationMode mode : {StationMode::Mixed, StationMode::P50XOnly}) {
    const bool mixed = mode == StationMode::Mixed;
    SCOPED_TRACE(mixed ? "mixed" : "P50X-only");
    test::FullStation s;
    if (!mixed) s.enterP50XOnly();
    const Bytes prefix = mixed ? bytes({'X'}) : Bytes{};
    auto xTrnt = [&](std::uint8_t low, std::uint8_t second) {
      Bytes command = prefix;
      command.insert(command.end(), {0x90, low, second});
      return s.send(command);
    };
    EXPECT_EQ(xTrnt(6, 0x80), bytes({0x00}));  // W2 starts at 1
    for (int i = 0; i < 4; ++i) {
      const auto direction = static_cast<std::uint8_t>(i % 2 == 0 ? 0x00 : 0x80);
      EXPECT_EQ(xTrnt(6, direction | 0x40), bytes({0x00}));
      EXPECT_EQ(xTrnt(6, direction), bytes({0x00}));
    }
    EXPECT_EQ(s.hostMessages(),
              (std::vector<std::string>{"305;W2;1;\n", "305;W2;0;\n", "305;W2;1;\n", "305;W2;0;\n",
                                        "305;W2;1;\n"}));
  }
}

// One driver sends the emergency stop as text and reads the answer up to its
// CR: the layout stops as after XHalt, and nothing is left to be read.
TEST(TextHalt, StopsTheLayoutAndIsAnsweredOkCr) {
  struct Case {
    const char* line;
    StationMode mode;
    bool halts;
    std::string console;
  };
  constexpr auto mixed = StationMode::Mixed;
  constexpr auto only = StationMode::P50XOnly;
  const Case cases[] = {
      {"XHALT\r", mixed, true, ""},
      {"xHALT\r", mixed, true, ""},
      {"XHALT\r", only, true, ""},
      {"xHALT\r", only, true, ""},
      {"HALT\r", only, true, ""},  // the lead is optional in P50X-only mode
      {"HALT\r", mixed, false, "P50-Befehl\n"},
      {"Xhalt\r", mixed, false, "P50a-Befehl\n"},
      {"XHALT!\r", mixed, false, "P50a-Befehl\n"},
      {"XHALT!\r", only, false, "P50a-Befehl\n"},
  };
  for (const Case& c : cases) {
    for (const bool oneDelivery : {false, true}) {
      SCOPED_TRACE(std::string(c.line) + (c.mode == mixed ? " / mixed" : " / P50X-only") +
                   (oneDelivery ? " / one delivery" : " / byte by byte"));
      test::FullStation s;
      if (c.mode == only) s.enterP50XOnly();
      const Bytes prefix = c.mode == mixed ? bytes({'X'}) : Bytes{};
      auto prefixed = [&](Bytes command) {
        command.insert(command.begin(), prefix.begin(), prefix.end());
        return command;
      };
      EXPECT_EQ(s.send(prefixed({0x80, 3, 0, 50, 0x30})), bytes({0x00}));
      s.hostMessages();
      const Bytes in = text(c.line);
      s.sink.clear();
      if (oneDelivery) {
        s.assembler.feed(static_cast<int>(in.size()), in.data());
      } else {
        s.feedEach(in);
      }
      const std::vector<Bytes> answer = {text("Ok\r")};
      const std::vector<std::string> stopped = {"371;Lok1;1;0.0\n", "381;Lok1;1\n"};
      EXPECT_EQ(s.sink.writes, c.halts ? answer : std::vector<Bytes>{});
      EXPECT_EQ(s.hostMessages(), c.halts ? stopped : std::vector<std::string>{});
      EXPECT_EQ(s.consoleText(), c.console);
      EXPECT_EQ(s.assembler.mode(), c.mode);
      EXPECT_EQ(s.send(prefixed({0xA2})), bytes({c.halts ? 0x18 : 0x08}));
      // Halted as by XHalt: a speed is refused until the power comes on.
      EXPECT_EQ(s.send(prefixed({0x80, 3, 0, 50, 0x30})), bytes({c.halts ? 0x41 : 0x00}));
    }
  }
}

// A replugged adapter: the assembler that takes over keeps the station's mode
// and the notices already given, but not what half arrived on the old line.
TEST(ReopenedLine, KeepsTheModeAndTheNoticesGiven) {
  for (const StationMode mode : {StationMode::Mixed, StationMode::P50XOnly}) {
    const bool mixed = mode == StationMode::Mixed;
    SCOPED_TRACE(mixed ? "mixed" : "P50X-only");
    test::FullStation s;
    if (!mixed) s.enterP50XOnly();
    const Bytes unknown = mixed ? bytes({'X', 0xFF}) : bytes({0xFF});
    EXPECT_EQ(s.send(unknown), bytes({0x01}));
    s.consoleText();
    s.feedEach(mixed ? bytes({'X', 0x80, 3}) : bytes({0x80, 3}));  // cut short by the unplug

    CommandAssembler fresh(s.sink, s.console);
    fresh.setTargets({&s.state, &s.locos, &s.turnouts, &s.feedback});
    fresh.continueFrom(s.assembler);
    EXPECT_EQ(fresh.mode(), mode);
    EXPECT_EQ(fresh.inputCount(), 0);
    s.sink.clear();
    for (std::uint8_t b : unknown) fresh.feed(1, &b);
    const Bytes status = mixed ? bytes({'X', 0xA2}) : bytes({0xA2});
    for (std::uint8_t b : status) fresh.feed(1, &b);
    EXPECT_EQ(s.sink.all(), bytes({0x01, 0x08}));
    EXPECT_EQ(s.consoleText(), "") << "the notice was given on the old line";
  }
}

}  // namespace
}  // namespace p50x
