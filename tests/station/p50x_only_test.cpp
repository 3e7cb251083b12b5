// P50X-only mode as control software drives it: binary commands without the
// "X" prefix, one answer for every command, the event bit that says when to
// fetch feedback, and the way back to mixed mode.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "full_station.h"

namespace p50x {
namespace {

using std::chrono::milliseconds;
using test::bytes;
using test::Bytes;
using test::kPrompt;
using test::run;
using test::text;

const Bytes kVersion = bytes({0x03, 0x01, 0x04, 0x06, 0x04, 0x00, 0x13, 0x07, 0x56, 0x00});

TEST(P50XOnlyMode, WholeSessionFromProbeToLeaving) {
  test::FullStation s;
  s.feedback.setContact("K1");  // the host reported a contact before the client started
  constexpr auto mixed = StationMode::Mixed;
  run(s, {
             {"probe: two bytes mean mixed mode", {0xC4}, kPrompt, {}, "", mixed},
             {"switch", text("xZzA1\r"), kPrompt},
             {"probe: one byte", {0xC4}, {0x00}},
             {"XVer", {0xA0}, kVersion},
             {"XSensOff keeps the image", {0x99}, {0x00}},
             {"XStatus", {0xA2}, {0x08}},
             {"XPwrOff", {0xA6}, {0x00}},
             {"XStatus after power off", {0xA2}, {0x00}},
             {"XPwrOn", {0xA7}, {0x00}},
             {"XEvent: feedback to fetch", {0xC8}, {0x04}},
             {"XEvtSen", {0xCB}, bytes({1, 0x80, 0x00, 2, 0, 0, 3, 0, 0, 0})},
             {"XEvent: nothing new", {0xC8}, {0x00}},
             {"XLok", {0x80, 3, 0, 64, 0xE0}, {0x00}, {"371;Lok1;1;162.2\n", "381;Lok1;0\n"}},
             {"XFunc", {0x88, 3, 0, 0x01}, {0x00}},
             {"XFuncX", {0x89, 3, 0, 0x00}, {0x00}},
             {"XFunc34", {0x8A, 3, 0, 0x00, 0x00}, {0x00}},
             {"XEvtLok", {0xC9}, {0x80}},
             {"XTrnt coil on", {0x90, 6, 0x40}, {0x00}, {"305;W2;0;\n"}},
             {"XTrnt coil off", {0x90, 6, 0x00}, {0x00}},
             {"XTrntSts", {0x94, 6, 0}, bytes({0x00, 0x00})},
             {"XEvtTrn", {0xCA}, {0x00}},
             {"XSensor", {0x98, 1}, bytes({0x00, 0x80, 0x00})},
             {"X88PGet", {0x9C, 0}, bytes({0x00, 0x06})},
             {"XLokSts", {0x84, 3, 0}, bytes({0x00, 64, 0x21, 64})},
             {"XHalt", {0xA5}, {0x00}, {"371;Lok1;1;0.0\n", "381;Lok1;0\n"}},
             {"XEvent: a halted locomotive to fetch", {0xC8}, {0x01}},
             {"XEvtLok: the halted locomotive", {0xC9}, bytes({0, 0x01, 3, 0x80, 0, 0x80})},
             {"XEvtLok: reported once", {0xC9}, {0x80}},
             {"XEvent: nothing new after the report", {0xC8}, {0x00}},
             {"programming track",
              {0xF3, 1, 2, 3, 4},
              {0x01},
              {},
              "Programmiergleis-Befehl f3 nicht unterstuetzt.\n"},
             {"programming track, one byte",
              {0xCE},
              {0x01},
              {},
              "Programmiergleis-Befehl ce nicht unterstuetzt.\n"},
             {"unknown opcode", {0xFF}, {0x01}, {}, "Unbekannter P50Xb-Befehl ff\n"},
             {"xse", text("xse\r"), text("SE 6\r]")},
             {"se without the x", text("se\r"), text("SE 6\r]")},
             {"baud query without the x", text("b\r"), text("57600\r]")},
             {"other text", text("zz\r"), {}, {}, "P50a-Befehl\n"},
             {"ZzA1 stays", text("ZzA1\r"), kPrompt},
             {"the lone byte 00", {0x00}, {0x00}},
             {"leave", text("ZzA0\r"), kPrompt, {}, "", mixed},
             {"mixed again: probe", {0xC4}, kPrompt, {}, "", mixed},
             {"mixed again: XEvent", {'X', 0xC8}, {0x00}, {}, "", mixed},
             // The XLok flags 0xE0 and the XFunc's F1: functions and
             // direction as sent, the speed as XHalt left it.
             {"mixed again: XLokSts", {'X', 0x84, 3, 0}, bytes({0x00, 0, 0x21, 0}), {}, "", mixed},
             {"mixed again: XFuncSts", {'X', 0x8C, 3, 0}, bytes({0x00, 0x01}), {}, "", mixed},
         });
}

TEST(P50XOnlyMode, PrefixedCommandsAreStillTaken) {
  test::FullStation s;
  s.enterP50XOnly();
  run(s, {
             {"X XStatus", {'X', 0xA2}, {0x08}},
             {"x XLok", {'x', 0x80, 3, 0, 0, 0xC0}, {0x00}, {"371;Lok1;1;-0.0\n", "381;Lok1;0\n"}},
             {"X XNop", {'X', 0xC4}, {0x00}},
             {"x XLokSts", {'x', 0x84, 3, 0}, bytes({0x00, 0x00, 0x00, 0x00})},
             {"X programming track",
              {'X', 0xED, 1, 2, 3},
              {0x01},
              {},
              "Programmiergleis-Befehl ed nicht unterstuetzt.\n"},
             {"X unknown", {'X', 0xFF}, {0x01}, {}, "Unbekannter P50Xb-Befehl ff\n"},
             {"X CR", text("X\r"), kPrompt},
             {"x CR", text("x\r"), kPrompt},
             {"CR", text("\r"), kPrompt},
             {"xZzA1 stays", text("xZzA1\r"), kPrompt},
             {"XZzA0 leaves", text("XZzA0\r"), kPrompt, {}, "", StationMode::Mixed},
         });
  s.enterP50XOnly();
  run(s, {{"xZzA0 leaves", text("xZzA0\r"), kPrompt, {}, "", StationMode::Mixed}});
  // Only the exact line leaves.
  s.enterP50XOnly();
  run(s, {{"ZzA0 with more", text("ZzA0x\r"), {}, {}, "P50a-Befehl\n"}});
}

TEST(P50XOnlyMode, BinaryInputStoppingForOver200MsIsDropped) {
  test::FullStation s;
  s.enterP50XOnly();
  // A pause of exactly 200 ms between bytes still belongs to the command.
  s.send({0x94, 6});
  s.now += milliseconds(200);
  EXPECT_EQ(s.send({0}), bytes({0x00, 0x04}));
  s.now += milliseconds(200);
  EXPECT_EQ(s.send({0x94, 6}), Bytes{});

  // One millisecond more and the held bytes are gone; the byte starts afresh.
  s.now += milliseconds(201);
  EXPECT_EQ(s.send({0xA2}), bytes({0x08}));
  EXPECT_EQ(s.consoleText(), "Unvollstaendiger P50Xb-Befehl 94 (2 Bytes) verworfen.\n");

  // The pause counts from the newest byte, so a slow command is not cut.
  s.send({'X', 0x94});
  for (int byte : {6, 0}) {
    s.now += milliseconds(150);
    s.send({static_cast<std::uint8_t>(byte)});
  }
  EXPECT_EQ(s.sink.all(), bytes({0x00, 0x04}));

  // Text lines have no time limit.
  s.send(text("xs"));
  s.now += milliseconds(5000);
  EXPECT_EQ(s.send(text("e\r")), text("SE 6\r]"));
  EXPECT_EQ(s.consoleText(), "");
}

// The clock is read when a binary command begins and for bytes the read
// waited for; bytes queued right behind another take its time.
TEST(P50XOnlyMode, BytesQueuedBehindOthersAreNotTimed) {
  test::FullStation s;
  s.enterP50XOnly();
  int reads = 0;
  s.assembler.setClock([&] {
    ++reads;
    return s.now;
  });
  constexpr auto queued = CommandAssembler::Arrival::kQueued;
  const auto feed = [&](std::uint8_t byte, CommandAssembler::Arrival arrival) {
    s.assembler.feed(1, &byte, arrival);
  };
  // XLok sent in one write: one read, at its opcode.
  feed(0x80, CommandAssembler::Arrival::kAfterWait);
  for (std::uint8_t byte : {3, 0, 0}) feed(byte, queued);
  EXPECT_EQ(reads, 1);
  // A byte that came after a wait is timed from the newest timed byte.
  s.now += milliseconds(150);
  feed(0x20, CommandAssembler::Arrival::kAfterWait);
  EXPECT_EQ(reads, 2);
  EXPECT_EQ(s.sink.take(), bytes({0x00}));

  // A command that begins with a queued byte is timed afresh: the command
  // before it may have waited long for the host.
  s.now += milliseconds(5000);
  feed(0x94, queued);
  feed(6, queued);
  EXPECT_EQ(reads, 3);
  s.now += milliseconds(200);
  feed(0, CommandAssembler::Arrival::kAfterWait);
  EXPECT_EQ(s.sink.take(), bytes({0x00, 0x04}));

  // The later bytes of one delivery are queued behind its first.
  s.now += milliseconds(1000);
  const Bytes status = {0x94, 6, 0};
  s.assembler.feed(3, status.data());
  EXPECT_EQ(reads, 5);
  EXPECT_EQ(s.sink.take(), bytes({0x00, 0x04}));

  // One that waited more than 200 ms drops the bytes before it.
  feed(0x94, queued);
  s.now += milliseconds(201);
  feed(0xA2, CommandAssembler::Arrival::kAfterWait);
  EXPECT_EQ(s.sink.take(), bytes({0x08}));
  EXPECT_EQ(s.consoleText(), "Unvollstaendiger P50Xb-Befehl 94 (1 Bytes) verworfen.\n");
}

TEST(P50XOnlyMode, AnOpcodeEndsATextLineThatLostItsCr) {
  test::FullStation s;
  s.enterP50XOnly();
  EXPECT_EQ(s.send(bytes({'a', 'b', 0xA2})), bytes({0x08}));
  EXPECT_EQ(s.consoleText(), "Unvollstaendiger Textbefehl (2 Bytes) verworfen.\n");
  EXPECT_EQ(s.send(bytes({'a', 'x', 0xA2})), bytes({0x08}));
  EXPECT_EQ(s.consoleText(), "Unvollstaendiger Textbefehl (1 Bytes) verworfen.\n");

  // A 00 is a command only as the first byte; inside a line it is text.
  EXPECT_EQ(s.send(bytes({'a', 0x00, '\r'})), Bytes{});
  EXPECT_EQ(s.consoleText(), "P50a-Befehl\n");

  // A line that never ends is dropped when it fills the input.
  EXPECT_EQ(s.send(text(std::string(80, 'a'))), Bytes{});
  EXPECT_EQ(s.consoleText(), "Befehl zu lang, verworfen.\n");
  EXPECT_EQ(s.send({0xA2}), bytes({0x08}));
}

TEST(P50XOnlyMode, EveryCommandOfALargerDeliveryIsAnswered) {
  test::FullStation s;
  s.enterP50XOnly();
  const Bytes burst = bytes({0xA2, 0xA6, 0xA2, 0x80, 3, 0, 10, 0xE0, 0xC8});
  s.assembler.feed(static_cast<int>(burst.size()), burst.data());
  EXPECT_EQ(s.sink.writes, (std::vector<Bytes>{{0x08}, {0x00}, {0x00}, {0x00}, {0x00}}));

  // Leaving inside a delivery hands the rest to mixed mode as one delivery.
  s.sink.clear();
  const Bytes leave = bytes({'Z', 'z', 'A', '0', '\r', 'X', 0xA2});
  s.assembler.feed(static_cast<int>(leave.size()), leave.data());
  EXPECT_EQ(s.sink.writes, (std::vector<Bytes>{kPrompt, {0x00}}));
  EXPECT_EQ(s.assembler.mode(), StationMode::Mixed);
}

// The host flips a contact on its own thread while the serial side is fetching
// XEvtSen. A change that lands while the report is being made must either be in
// that report or raise bit 2 of the next XEvent, so the client's picture ends
// right every time. Run under ThreadSanitizer too.
TEST(P50XOnlyMode, EventBitNeverLosesAHostChangeRacingWithXEvtSen) {
  test::FullStation s;
  s.enterP50XOnly();
  constexpr int kEpisodes = 1000;
  std::atomic<int> ready{0};
  std::atomic<int> flipped{0};
  std::thread host([&] {
    for (int episode = 1; episode <= kEpisodes; ++episode) {
      if (!test::waitFor([&] { return ready.load() == episode; })) return;
      if (episode % 2 == 1) {
        s.feedback.setContact("K1");
      } else {
        s.feedback.clearContact("K1");
      }
      flipped.store(episode);
    }
  });

  int stale = 0;
  for (int episode = 1; episode <= kEpisodes; ++episode) {
    ready.store(episode);
    test::notifyWaiters();
    Bytes report;
    do {
      report = s.send({0xCB});
    } while (flipped.load() != episode);
    // The last report may have raced with the flip; the event bit covers it.
    const Bytes event = s.send({0xC8});
    ASSERT_TRUE(event == bytes({0x00}) || event == bytes({0x04}));
    if (event[0] == 0x04) report = s.send({0xCB});
    ASSERT_EQ(report.size(), 10u);
    if (report[1] != (episode % 2 == 1 ? 0x80 : 0x00)) ++stale;
  }
  host.join();
  EXPECT_EQ(stale, 0);
}

}  // namespace
}  // namespace p50x
