#include "station/command_assembler.h"

#include <gtest/gtest.h>

#include <string>

#include "full_station.h"
#include "layout/feedback_image.h"
#include "station/command_table.h"
#include "station/station_state.h"
#include "support/recording.h"

namespace p50x {
namespace {

using test::Bytes;
using test::bytes;

Bytes text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

const Bytes kPrompt = bytes({0x0D, 0x5D});

// One station as the serial callback sees it: assembler, station state and
// recording seams.
struct Station {
  test::RecordingSink sink;
  test::RecordingConsole console;
  StationState state;
  CommandAssembler assembler{sink, console};
  Station() { assembler.setTargets({&state, nullptr, nullptr, nullptr}); }

  void feedEach(const Bytes& b) {
    for (std::uint8_t byte : b) assembler.feed(1, &byte);
  }
  void feedAll(const Bytes& b) { assembler.feed(static_cast<int>(b.size()), b.data()); }
  void feed(const Bytes& b, bool oneByteDeliveries) {
    oneByteDeliveries ? feedEach(b) : feedAll(b);
  }
};

struct Golden {
  const char* name;
  Bytes in;
  Bytes reply;  // empty: nothing is sent
  std::string console;
};

// Each command answers the same whether it arrives a byte at a time or in one
// delivery, and leaves the assembler empty.
TEST(CommandAssembler, EveryCommandAnswersExactlyInEitherDeliveryPattern) {
  const Golden cases[] = {
      {"ZzA0", text("ZzA0\r"), kPrompt, ""},
      {"ZzA0 prefix only", text("ZzA0q\r"), kPrompt, ""},
      {"identification", text("`xv\r"), text("MC Revision 1.4.6\rSerNr.      578\r]"), ""},
      {"other text", text("abc\r"), {}, "P50-Befehl\n"},
      {"lone CR", text("\r"), {}, "P50-Befehl\n"},
      {"case matters", text("zza0\r"), {}, "P50-Befehl\n"},
      {"X CR", text("X\r"), kPrompt, ""},
      {"x CR is not X CR", text("x\r"), {}, "P50a-Befehl\n"},
      {"baud query", text("xb\r"), text("57600\r]"), ""},
      {"baud set 57600", text("xb57600\r"), kPrompt, ""},
      {"baud set other", text("xb19200\r"), {}, "P50a-Befehl\n"},
      {"baud set longer", text("xb576000\r"), {}, "P50a-Befehl\n"},
      {"XB is not xb", text("XB\r"), {}, "P50a-Befehl\n"},
      {"xse", text("xse\r"), text("SE 0\r]"), ""},
      {"xse and more", text("xsexyz\r"), text("SE 0\r]"), ""},
      {"XVer", bytes({'X', 0xA0}), bytes({3, 1, 4, 6, 4, 0, 0x13, 7, 0x56, 0}), ""},
      {"XStatus lower case", bytes({'x', 0xA2}), bytes({0x08}), ""},
      {"XEvent", bytes({'X', 0xC8}), bytes({0x00}), ""},
      {"XNop", bytes({'X', 0xC4}), {0x00}, ""},
      {"XLokSts without loco table", bytes({'X', 0x84, 1, 2}), {}, ""},
      {"Xm3Sid",
       bytes({'X', 0x87, 1, 2, 3, 4, 5, 6}),
       {0x01},
       "P50Xb-Befehl Xm3Sid nicht unterstuetzt.\n"},
      {"XLok without loco table", bytes({'X', 0x80, 3, 0, 10, 0}), {}, ""},
      {"unknown opcode", bytes({'X', 0xFF}), {0x01}, "Unbekannter P50Xb-Befehl ff\n"},
      {"unknown opcode lower x", bytes({'x', 0x82}), {0x01}, "Unbekannter P50Xb-Befehl 82\n"},
  };
  for (const Golden& c : cases) {
    for (bool oneByte : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (oneByte ? " / byte by byte" : " / one delivery"));
      Station s;
      s.feed(c.in, oneByte);
      if (c.reply.empty()) {
        EXPECT_TRUE(s.sink.writes.empty());
      } else {
        ASSERT_EQ(s.sink.writes.size(), 1u);
        EXPECT_EQ(s.sink.writes[0], c.reply);
      }
      EXPECT_EQ(s.console.outText(), c.console);
      EXPECT_EQ(s.assembler.inputCount(), 0);
    }
  }
}

TEST(CommandAssembler, NothingIsSentBeforeTheCommandIsComplete) {
  Station s;
  s.feedEach(text("ZzA0"));
  EXPECT_TRUE(s.sink.writes.empty());
  EXPECT_EQ(s.assembler.inputCount(), 4);

  // A lone "X" waits as text: its second byte reads as 0.
  Station x;
  x.feedEach(text("X"));
  EXPECT_EQ(x.assembler.inputCount(), 1);
  EXPECT_EQ(x.assembler.input()[1], 0);

  // Xm3Sid is 8 bytes long: consumed by the eighth, not before.
  Station m;
  m.feedEach(bytes({'X', 0x87, 1, 2, 3, 4, 5}));
  EXPECT_EQ(m.assembler.inputCount(), 7);
  m.feedEach(bytes({6}));
  EXPECT_EQ(m.assembler.inputCount(), 0);
}

TEST(CommandAssembler, OneByteCommandsAreDecidedByTheDeliverySize) {
  Station s;
  s.feedEach(bytes({0x00}));
  s.feedEach(bytes({0xC4}));
  ASSERT_EQ(s.sink.writes.size(), 2u);
  EXPECT_EQ(s.sink.writes[0], bytes({0x00}));
  EXPECT_EQ(s.sink.writes[1], kPrompt);

  // Arriving with other bytes, 00 and C4 start a P50 text command.
  Station t;
  t.feedAll(bytes({0xC4, 0x0D}));
  t.feedAll(bytes({0x00, 'a'}));
  EXPECT_TRUE(t.sink.writes.empty());
  EXPECT_EQ(t.console.outText(), "P50-Befehl\n");
  EXPECT_EQ(t.assembler.inputCount(), 2);
  // ...and the next single-byte delivery is classified afresh from that 00.
  t.feedEach(bytes({'b'}));
  EXPECT_EQ(t.sink.all(), bytes({0x00}));
  EXPECT_EQ(t.assembler.inputCount(), 0);

  // Inside a text command a 00 is just another byte.
  Station u;
  u.feedEach(bytes({'a', 0x00, 0x0D}));
  EXPECT_TRUE(u.sink.writes.empty());
  EXPECT_EQ(u.console.outText(), "P50-Befehl\n");
}

TEST(CommandAssembler, NextCommandIsHandledAfterEachKindOfCompletion) {
  Station s;
  s.feedEach(text("abc\r"));
  s.feedEach(bytes({'X', 0xFF}));
  s.feedEach(bytes({'X', 0x84, 1, 2}));
  s.feedEach(text("ZzA0\r"));
  EXPECT_EQ(s.sink.all(), bytes({0x01, 0x0D, 0x5D}));
  EXPECT_EQ(s.console.outText(), "P50-Befehl\nUnbekannter P50Xb-Befehl ff\n");
}

TEST(CommandAssembler, ExtraBytesInOneDeliveryGoWithTheCommand) {
  Station s;
  s.feedAll(bytes({'X', 0xA2, 'X', 0xA0}));
  s.feedAll(text("ZzA0\rabc\r"));
  ASSERT_EQ(s.sink.writes.size(), 2u);
  EXPECT_EQ(s.sink.writes[0], bytes({0x08}));
  EXPECT_EQ(s.sink.writes[1], kPrompt);
  EXPECT_EQ(s.assembler.inputCount(), 0);

  // A command split over deliveries of several bytes is put back together.
  Station t;
  t.feedAll(bytes({'X'}));
  t.feedAll(bytes({0xA0}));
  t.feedAll(text("xs"));
  t.feedAll(text("e\r"));
  ASSERT_EQ(t.sink.writes.size(), 2u);
  EXPECT_EQ(t.sink.writes[1], text("SE 0\r]"));
}

TEST(CommandAssembler, FeedbackQueryReportsTheModuleParameter) {
  Station s;
  FeedbackImage feedback(s.console);
  s.assembler.setTargets({&s.state, nullptr, nullptr, &feedback});
  s.feedEach(bytes({'X', 0x9D, 0x00, 0x04}));  // X88PSet 4
  s.feedEach(text("xsexx\r"));
  ASSERT_EQ(s.sink.writes.size(), 2u);
  EXPECT_EQ(s.sink.writes[1], text("SE 4\r]"));
}

TEST(CommandAssembler, OverlongCommandIsDroppedWithOneNoticeAndTheStationListensOn) {
  // 79 bytes fit: a ZzA0 line whose CR is the 79th byte is still answered.
  Station fits;
  fits.feedEach(text("ZzA0" + std::string(74, 'a') + "\r"));
  EXPECT_EQ(fits.sink.all(), kPrompt);

  Station s;
  s.feedEach(text(std::string(79, 'a')));
  EXPECT_EQ(s.assembler.inputCount(), 79);
  EXPECT_EQ(s.assembler.input()[79], 0);
  s.feedEach(text("\r"));  // the 80th byte does not fit
  EXPECT_EQ(s.assembler.inputCount(), 0);
  EXPECT_EQ(s.console.outText(), "Befehl zu lang, verworfen.\n");
  EXPECT_TRUE(s.sink.writes.empty());
  s.feedEach(text("ZzA0\r"));
  EXPECT_EQ(s.sink.all(), kPrompt);

  // A delivery that would overflow what is held is dropped with it.
  Station t;
  t.feedAll(text(std::string(70, 'a')));
  t.feedAll(text(std::string(9, 'b') + "\r"));
  t.feedAll(text(std::string(200, 'c')));
  EXPECT_EQ(t.console.outText(), "Befehl zu lang, verworfen.\nBefehl zu lang, verworfen.\n");
  t.feedAll(bytes({'X', 0xA2}));
  EXPECT_EQ(t.sink.all(), bytes({0x08}));
}

TEST(CommandAssembler, OnlyTheExactSwitchLineEntersP50XOnlyMode) {
  struct Case {
    const char* line;
    Bytes reply;
    std::string console;
    StationMode mode;
  };
  const Case cases[] = {
      {"xZzA1\r", kPrompt, "", StationMode::P50XOnly},
      {"XZzA1\r", kPrompt, "", StationMode::P50XOnly},
      {"xZzA1 \r", {}, "P50a-Befehl\n", StationMode::Mixed},
      {"xzza1\r", {}, "P50a-Befehl\n", StationMode::Mixed},
      {"ZzA1\r", {}, "P50-Befehl\n", StationMode::Mixed},
      {"xZzA0\r", {}, "P50a-Befehl\n", StationMode::Mixed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Station s;
    s.feedEach(text(c.line));
    EXPECT_EQ(s.sink.all(), c.reply);
    EXPECT_EQ(s.console.outText(), c.console);
    EXPECT_EQ(s.assembler.mode(), c.mode);
  }
}

// Text commands are 7-bit: an opcode right after an "X"/"x" inside a text line
// starts a binary command, and the text before it has lost its CR.
TEST(CommandAssembler, OpcodeAfterAnXInsideTextStartsABinaryCommand) {
  struct Case {
    const char* name;
    std::vector<Bytes> deliveries;
    Bytes reply;
    std::string console;
  };
  auto dropped = [](int n) {
    return "Unvollstaendiger Textbefehl (" + std::to_string(n) + " Bytes) verworfen.\n";
  };
  const Bytes version = bytes({3, 1, 4, 6, 4, 0, 0x13, 7, 0x56, 0});
  const Case cases[] = {
      {"P50 text", {text("abc"), text("x"), {0xA2}}, {0x08}, dropped(3)},
      {"P50Xa text", {text("XZ"), text("X"), {0xA0}}, version, dropped(2)},
      {"X after X", {text("X"), text("x"), {0xA2}}, {0x08}, dropped(1)},
      {"one delivery", {bytes({'a', 'x', 0xA2})}, {0x08}, dropped(1)},
      {"full line", {text(std::string(78, 'a')), text("x"), {0xA2}}, {0x08}, dropped(78)},
      // Without an X before it the byte stays in the line, as it always has.
      {"no X", {text("a"), {0xA2}, text("\r")}, {}, "P50-Befehl\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Station s;
    for (const Bytes& d : c.deliveries) s.feedAll(d);
    EXPECT_EQ(s.sink.all(), c.reply);
    EXPECT_EQ(s.console.outText(), c.console);
    EXPECT_EQ(s.assembler.inputCount(), 0);
  }
}

// A control program leaves with the old one-byte stop 0x61 and later starts
// again with its usual prefixed commands: the leftover byte must not make the
// station deaf to them.
TEST(CommandAssembler, MixedClientRestartingAfterALoneStopByteIsAnswered) {
  test::FullStation s;
  EXPECT_TRUE(s.send({0x61}).empty());
  const auto mixed = StationMode::Mixed;
  const Bytes version = bytes({3, 1, 4, 6, 4, 0, 0x13, 7, 0x56, 0});
  test::run(s, {
                   {"x XSensOff",
                    {'x', 0x99},
                    {0x00},
                    {},
                    "Unvollstaendiger Textbefehl (1 Bytes) verworfen.\n",
                    mixed},
                   {"x XNop", {'x', 0xC4}, {0x00}, {}, "", mixed},
                   {"x XVer", {'x', 0xA0}, version, {}, "", mixed},
                   {"x XStatus", {'x', 0xA2}, {0x08}, {}, "", mixed},
                   {"x XEvtTrn", {'x', 0xCA}, {0x00}, {}, "", mixed},
                   {"x XEvtLok", {'x', 0xC9}, bytes({0x80}), {}, "", mixed},
                   {"x XEvtSen", {'x', 0xCB}, bytes({1, 0, 0, 2, 0, 0, 3, 0, 0, 0}), {}, "", mixed},
                   {"x XLok",
                    {'x', 0x80, 3, 0, 20, 0x70},
                    {0x00},
                    {"371;Lok1;1;50.7\n", "381;Lok1;1\n"},
                    "",
                    mixed},
                   {"x XFunc", {'x', 0x88, 3, 0, 0x03}, {0x00}, {}, "", mixed},
                   {"x XTrnt", {'x', 0x90, 5, 0x40}, {0x00}, {"305;W1;1;\n"}, "", mixed},
                   {"x XTrnt again", {'x', 0x90, 5, 0x40}, {0x00}, {"305;W1;1;\n"}, "", mixed},
                   {"x XLokSts reports the XLok",
                    {'x', 0x84, 3, 0},
                    bytes({0x00, 20, 0x33, 20}),
                    {},
                    "",
                    mixed},
                   {"x XFuncSts", {'x', 0x8C, 3, 0}, bytes({0x00, 0x03}), {}, "", mixed},
               });
}

TEST(StationCommands, PowerOffAndOnShowInTheStatusByte) {
  Station s;
  auto command = [&](int opcode) {
    s.sink.clear();
    s.feedEach(bytes({'X', opcode}));
    return s.sink.all();
  };
  EXPECT_EQ(command(0xA2), bytes({0x08}));
  EXPECT_EQ(command(0xA6), bytes({0x00}));
  EXPECT_EQ(command(0xA2), bytes({0x00}));
  EXPECT_EQ(command(0xA6), bytes({0x00}));
  EXPECT_EQ(s.state.status(), 0);
  EXPECT_EQ(command(0xC8), bytes({0x00}));
  EXPECT_EQ(command(0xA7), bytes({0x00}));
  EXPECT_EQ(command(0xA2), bytes({0x08}));
}

TEST(CommandTable, EveryRowIsFoundByItsOpcodeAndNoOtherOpcodeIs) {
  int rows = 0;
  for (const CommandDescriptor* row = kP50XbCommands; row->opcode != 0; ++row) {
    EXPECT_EQ(findCommand(static_cast<std::uint8_t>(row->opcode)), row) << row->name;
    ++rows;
  }
  EXPECT_EQ(rows, 37);
  int found = 0;
  for (int op = 0; op < 256; ++op) found += findCommand(static_cast<std::uint8_t>(op)) != nullptr;
  EXPECT_EQ(found, 37);

  // The programming-track lengths never shadow a table row.
  int trackRows = 0;
  for (const CommandDescriptor* row = kProgrammingTrackCommands; row->opcode != 0; ++row) {
    const auto opcode = static_cast<std::uint8_t>(row->opcode);
    EXPECT_EQ(findCommand(opcode), nullptr) << row->opcode;
    EXPECT_EQ(findProgrammingTrackCommand(opcode), row);
    ++trackRows;
  }
  EXPECT_EQ(trackRows, 13);
}

TEST(CommandAssembler, PrintPaddedIndentsByTheParameterCount) {
  test::RecordingConsole console;
  CommandAssembler::printPadded(console, 2, "t");
  CommandAssembler::printPadded(console, 0, "u");
  CommandAssembler::printPadded(console, 12, "v");
  CommandAssembler::printPadded(console, 20, "w");
  EXPECT_EQ(console.outText(), std::string(30, ' ') + "t" + std::string(36, ' ') + "uvw");
}

}  // namespace
}  // namespace p50x
