// The trace reads commands and replies as the station frames and sends them:
// one table per behaviour, each row a piece of monitor file and its lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "trace_test_support.h"

namespace p50x::trace::test {
namespace {

using Lines = std::vector<std::string>;

struct Case {
  const char* what;
  std::string monitor;
  Lines lines;  // blanks squeezed
};

// A bridge start, then the switch to P50X-only mode.
const std::string kP50XOnly = "\n-------------\n\nR 78 5a 7a 41 31 0d \nS 0d 5d ";
const Lines kP50XOnlyLines = {"-- bridge started --", "R \"xZzA1\" → prompt",
                              "-- P50X-only mode --"};

Lines afterSwitch(Lines more) {
  Lines all = kP50XOnlyLines;
  all.insert(all.end(), more.begin(), more.end());
  return all;
}

void expectRows(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(squeezed(traceOf(c.monitor)), c.lines) << c.what;
  }
}

TEST(Trace, CommandsAndRepliesInWords) {
  expectRows({
      {"XLok with functions",
       "\nR 58 80 03 00 40 b1 \nS 00 ",
       {"R XLok 3 speed 64 forward light F1 → 00 ok"}},
      {"XLok functions without bit 7 do not count",
       "\nR 58 80 03 00 40 01 \nS 00 ",
       {"R XLok 3 speed 64 reverse → 00 ok"}},
      {"XLok emergency stop, halted",
       "\nR 58 80 03 00 01 20 \nS 41 ",
       {"R XLok 3 emergency stop forward → 41 halted"}},
      {"XLok unknown locomotive",
       "\nR 78 80 09 00 10 20 \nS 02 ",
       {"R XLok 9 speed 16 forward → 02 unknown locomotive"}},
      {"XLokX", "\nR 58 81 03 01 0e 30 \nS 00 ", {"R XLokX 259 step 14 forward light → 00 ok"}},
      {"XLokSts",
       "\nR 58 84 03 00 \nS 00 40 31 0e ",
       {"R XLokSts 3 → 00 ok: speed 64 forward light F1, step 14"}},
      {"XLokCfg",
       "\nR 58 85 03 00 \nS 00 02 1c ff ff ",
       {"R XLokCfg 3 → 00 ok: step mode 2, config 28"}},
      {"XLokCfgSet",
       "\nR 58 86 03 00 01 02 \nS 01 ",
       {"R XLokCfgSet 03 00 01 02 → 01 not supported"}},
      {"XFunc, classic reply", "\nR 58 88 03 00 05 \nS ff ", {"R XFunc 3 F1 F3 → ff ok"}},
      {"XFuncX", "\nR 58 89 03 00 01 \nS 00 ", {"R XFuncX 3 F9 → 00 ok"}},
      {"XFunc34", "\nR 58 8a 03 00 01 08 \nS 00 ", {"R XFunc34 3 F17 F28 → 00 ok"}},
      {"XFunc34 all off", "\nR 58 8a 03 00 00 00 \nS 00 ", {"R XFunc34 3 F17-F28 off → 00 ok"}},
      {"XFuncSts", "\nR 58 8c 03 00 \nS 00 05 ", {"R XFuncSts 3 → 00 ok: F1 F3"}},
      {"XFuncXSts", "\nR 58 8d 03 00 \nS 00 00 ", {"R XFuncXSts 3 → 00 ok: F9-F16 off"}},
      {"XFunc34Sts", "\nR 58 8e 03 00 \nS 00 01 08 ", {"R XFunc34Sts 3 → 00 ok: F17, F28"}},
      {"XTrnt", "\nR 58 90 06 c0 \nS 00 ", {"R XTrnt 6 green coil on → 00 ok"}},
      {"XTrntSts", "\nR 58 94 05 00 \nS 00 05 ", {"R XTrntSts 5 → 00 ok: green, flag"}},
      {"XTrntGrp",
       "\nR 58 95 02 \nS 00 05 00 ",
       {"R XTrntGrp 2 (turnouts 9-16) → 00 ok: green 9 11"}},
      {"XSensor", "\nR 58 98 01 \nS 00 80 01 ", {"R XSensor 1 → 00 ok: occupied 1 16"}},
      {"X88PGet logged twice",
       "\nR 58 9c 00 \nS 00 04 00 04 ",
       {"R X88PGet 0 → 00 ok: 4 (logged twice)"}},
      {"X88PSet bad parameter", "\nR 58 9d 01 05 \nS 02 ", {"R X88PSet 1 = 5 → 02 bad parameter"}},
      {"XVer",
       "\nR 58 a0 \nS 03 01 04 06 04 00 13 07 56 00 ",
       {"R XVer → version 1.4.6, 00 13 07 56"}},
      {"XStatus halted", "\nR 58 a2 \nS 18 ", {"R XStatus → 18 power on, halted"}},
      {"XStatus off", "\nR 58 a2 \nS 00 ", {"R XStatus → 00 power off"}},
      {"XSoGet", "\nR 58 a4 01 00 \nS 02 ", {"R XSoGet 1 → 02 no such option"}},
      {"XHalt", "\nR 58 a5 \nS 00 ", {"R XHalt → 00 ok"}},
      {"XP50Len1 gets no reply",
       "\nR 58 c6 01 58 a0 \nS 03 01 04 06 04 00 13 07 56 00 ",
       {"R XP50Len1 01 → no reply", "R XVer → version 1.4.6, 00 13 07 56"}},
      {"XEvent", "\nR 58 c8 \nS 04 ", {"R XEvent → 04 feedback changed"}},
      {"XEvent after a halt",
       "\nR 58 c8 \nS 05 ",
       {"R XEvent → 05 locomotives and feedback changed"}},
      {"XClkSet", "\nR 58 c0 00 0d 58 a2 \nS 00 ", {"R XClkSet 00 0d 58 a2 → 00 ok"}},
      {"XEvtLok",
       "\nR 58 c9 \nS 3f 05 03 c0 0e 00 00 05 00 00 80 ",
       {"R XEvtLok → 3: speed 63 forward light F1 F3; 5: speed 0 reverse"}},
      {"XEvtSen",
       "\nR 58 cb \nS 01 80 00 03 00 80 00 ",
       {"R XEvtSen → 1: occupied 1; 3: occupied 9"}},
      {"XEvtSen nothing", "\nR 58 cb \nS 00 ", {"R XEvtSen → none"}},
      {"unknown opcode answered", "\nR 58 f5 \nS 01 ", {"R unknown opcode f5 → 01 not supported"}},
      {"one-byte commands", "\nR c4 \nS 0d 5d \nR 00 \nS 00 ", {"R c4 → prompt", "R 00 → 00"}},
      {"text replies",
       "\nR 78 62 0d \nS 35 37 36 30 30 0d 5d \nR 61 62 63 0d 58 a2 \nS 08 ",
       {"R \"xb\" → \"57600\\r]\"", "R \"abc\" → no reply", "R XStatus → 08 power on"}},
      {"the text halt, answered without a prompt",
       "\nR 58 48 41 4c 54 0d \nS 4f 6b 0d \nR 58 a2 \nS 18 ",
       {"R \"XHALT\" → \"Ok\\r\"", "R XStatus → 18 power on, halted"}},
      {"P50X-only commands without prefix",
       kP50XOnly + "\nR c4 \nS 00 \nR 90 06 40 \nS 00 \nR ec 01 02 \nS 01 \nR 58 a2 \nS 08 ",
       afterSwitch({"R XNop → 00 ok", "R XTrnt 6 red coil on → 00 ok",
                    "R programming track ec 01 02 → 01 not supported", "R XStatus → 08 power on"})},
      {"back to mixed mode", kP50XOnly + "\nR 5a 7a 41 30 0d \nS 0d 5d \nR c4 \nS 0d 5d ",
       afterSwitch({"R \"ZzA0\" → prompt", "-- mixed mode --", "R c4 → prompt"})},
      {"Windows line ends",
       "\r\n-------------\r\n\r\nR 58 a2 \r\nS 08 ",
       {"-- bridge started --", "R XStatus → 08 power on"}},
  });
}

TEST(Trace, BytesThatPairWithNothingShowInHex) {
  expectRows({
      {"a key typed before anything was received", "\nS 41 ", {"S 41 not a reply"}},
      {"a key typed while a command arrives",
       "\nR 58 80 03 00 \nS 41 \nR 40 b1 \nS 00 ",
       {"S 41 not a reply", "R XLok 3 speed 64 forward light F1 → 00 ok"}},
      {"a key typed while a command arrives that could have been dropped",
       "\nR 58 ff 58 80 03 58 a2 \nS 41 \nR 5a \nS 02 ",
       {"R unknown opcode ff → no reply", "S 41 not a reply",
        "R XLok 22531 speed 162 reverse light → 02 unknown locomotive"}},
      {"a command dropped after a pause (P50X-only)",
       kP50XOnly + "\nR 80 03 00 a2 \nS 08 \nR 78 73 65 0d \nS 53 45 20 36 0d 5d ",
       afterSwitch(
           {"R XLok cut short: 80 03 00", "R XStatus → 08 power on", "R \"xse\" → \"SE 6\\r]\""})},
      {"a command dropped after a pause (mixed)",
       "\nR 58 80 03 00 58 a0 \nS 03 01 04 06 04 00 13 07 56 00 ",
       {"R XLok cut short: 58 80 03 00", "R XVer → version 1.4.6, 00 13 07 56"}},
      {"the classic station takes the next command as parameters",
       "\nR 58 80 03 00 58 a0 \nS 00 ",
       {"R XLok 3 speed 88 forward F1-F4 off → 00 ok"}},
      {"text cut off by a binary command",
       "\nR 61 62 58 a2 \nS 08 ",
       {"R text \"ab\" cut short", "R XStatus → 08 power on"}},
      {"a reply of another form", "\nR 58 a6 \nS 05 ", {"R XPwrOff → ?? 05 (unexpected)"}},
      {"more sent than the reply",
       "\nR 58 a6 \nS 00 41 ",
       {"R XPwrOff → 00 ok", "S 41 not a reply"}},
      {"a command cut off by the end of the file", "\nR 58 80 03 ", {"R XLok cut short: 58 80 03"}},
      {"a key typed, then the end, while a command arrives",
       "\nR 58 80 03 00 \nS 41 ",
       {"S 41 not a reply", "R XLok cut short: 58 80 03 00"}},
      {"a command cut off by a new start",
       "\nR 58 80 03 \n-------------\n",
       {"R XLok cut short: 58 80 03", "-- bridge started --"}},
      {"text that is no monitor line",
       "\nR 58 a2 \nS 08 \nhello ",
       {"R XStatus → 08 power on", "? hello"}},
  });
}

// What -f shows: a command once its reply is whole, a command that gets none
// after a quiet spell, and everything as reading the whole file would.
TEST(Trace, FollowingShowsACommandOnceItsReplyIsWhole) {
  Lines lines;
  TraceDecoder decoder([&lines](const std::string& line) { lines.push_back(squeezed(line)); }, {});
  MonitorReader reader(decoder);
  const auto step = [&](std::string_view text) {
    reader.feed(text);
    decoder.settle();
  };

  step("\nR 58 a2 ");
  step("\nS 0");  // a hex word cut by the end of what was read
  EXPECT_TRUE(lines.empty());
  step("8 ");
  EXPECT_EQ(lines, Lines{"R XStatus → 08 power on"});

  step("\nR 58 9c 00 \nS 00 06 ");
  EXPECT_EQ(lines.size(), 1u) << "the second copy of the reply may still come";
  step("00 06 ");
  EXPECT_EQ(lines.back(), "R X88PGet 0 → 00 ok: 6 (logged twice)");

  step("\nR 58 84 03 00 ");
  EXPECT_EQ(lines.size(), 2u);
  decoder.idle();
  EXPECT_EQ(lines.back(), "R XLokSts 3 → no reply");

  step("\nR 58 80 03 ");
  decoder.idle();
  EXPECT_EQ(lines.size(), 3u) << "a command still arriving stays";
  step("00 40 b1 \nS 00 ");
  EXPECT_EQ(lines.back(), "R XLok 3 speed 64 forward light F1 → 00 ok");
  EXPECT_FALSE(decoder.pending());
}

TEST(Trace, RepliesLineUpAndHexShowsTheBytes) {
  TraceOptions options;
  options.hex = true;
  const Lines lines = traceOf("\nR 58 a2 \nS 08 \nR 58 80 03 00 40 b1 \nS 00 ", options);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].find("→"), lines[1].find("→"));
  EXPECT_NE(lines[1].find("  [58 80 03 00 40 b1 | 00]"), std::string::npos) << lines[1];
  options.arrow = "->";
  EXPECT_EQ(squeezed(traceOf("\nR 58 a7 \nS 00 ", options)),
            Lines{"R XPwrOn -> 00 ok [58 a7 | 00]"});
}

}  // namespace
}  // namespace p50x::trace::test
