// Every P50Xb command of the table answered alike in both modes, with its
// exact reply bytes and host messages: functions kept per locomotive, the
// status commands, unknown locomotives and turnouts, the emergency stop of the whole layout
// and the commands the station does not carry out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "full_station.h"

namespace p50x {
namespace {

using std::chrono::milliseconds;
using test::bytes;
using test::Bytes;
using test::text;
using Messages = std::vector<std::string>;

// Lok1 at 3/0 in step mode 3 (top 100 forward); Lok2 at 4/0 in step mode 1
// (27 steps, top 100 both ways). The table walks the last line first.
constexpr const char* kLocos = "Lok1;3;0;3;0;100;80\nLok2;4;0;1;0;100;100\n";
const Bytes kVersion = bytes({0x03, 0x01, 0x04, 0x06, 0x04, 0x00, 0x13, 0x07, 0x56, 0x00});

// One command as a P50X-only client sends it; mixed mode puts "X" before it.
struct Row {
  const char* name;
  Bytes command;
  Bytes reply;
  Messages host = {};
  std::string console = {};
};

const std::string kLok1Moving = "371;Lok1;1;126.7\n";  // speed 50 forward, top 100

// clang-format off
const std::vector<Row> kGolden = {
    // Functions F1 to F28, one state per locomotive.
    {"XFunc F1 F3",         {0x88, 3, 0, 0x05},       {0x00}},
    {"XFuncX F9",           {0x89, 3, 0, 0x01},       {0x00}},
    {"XFunc34 F17 F25-F28", {0x8A, 3, 0, 0x01, 0xFF}, {0x00}},
    {"XFuncSts",            {0x8C, 3, 0},             {0x00, 0x05}},
    {"XFuncXSts",           {0x8D, 3, 0},             {0x00, 0x01}},
    {"XFunc34Sts",          {0x8E, 3, 0},             {0x00, 0x01, 0x0F}},
    {"XLok, bit 7 clear",   {0x80, 3, 0, 50, 0x3F},   {0x00}, {kLok1Moving, "381;Lok1;1\n"}},
    {"F1 to F4 kept",       {0x8C, 3, 0},             {0x00, 0x05}},
    {"XLokSts",             {0x84, 3, 0},             {0x00, 50, 0x35, 50}},
    {"XLok, bit 7 set",     {0x80, 3, 0, 50, 0xB2},   {0x00}, {kLok1Moving, "381;Lok1;1\n"}},
    {"F1 to F4 taken",      {0x8C, 3, 0},             {0x00, 0x02}},
    {"XLokX 27 steps",      {0x81, 4, 0, 13, 0x00},   {0x00}, {"371;Lok2;1;-152.0\n", "381;Lok2;0\n"}},
    {"XLokSts own steps",   {0x84, 4, 0},             {0x00, 60, 0x00, 13}},
    {"XLokCfg",             {0x85, 3, 0},             {0x00, 0x03, 0x00, 0xFF, 0xFF}},
    // A locomotive the table does not have.
    {"unknown XLok",        {0x80, 9, 0, 10, 0x20},   {0x02}},
    {"unknown XLokX",       {0x81, 9, 0, 10, 0x20},   {0x02}},
    {"unknown XLokSts",     {0x84, 9, 0},             {0x02}},
    {"unknown XLokCfg",     {0x85, 9, 0},             {0x02}},
    {"unknown XFunc",       {0x88, 9, 0, 0x01},       {0x02}},
    {"unknown XFuncX",      {0x89, 9, 0, 0x01},       {0x02}},
    {"unknown XFunc34",     {0x8A, 9, 0, 0x01, 0x01}, {0x02}},
    {"unknown XFuncSts",    {0x8C, 9, 0},             {0x02}},
    {"unknown XFuncXSts",   {0x8D, 9, 0},             {0x02}},
    {"unknown XFunc34Sts",  {0x8E, 3, 1},             {0x02}},
    // Turnouts W1 (5) and W2 (6) in group 1, both at 1 until commanded.
    {"XTrntGrp 1",          {0x95, 1},                {0x00, 0x30, 0x00}},
    {"XTrnt W2 to 0",       {0x90, 6, 0x00},          {0x00}, {"305;W2;0;\n"}},
    {"XTrntGrp 1 again",    {0x95, 1},                {0x00, 0x10, 0x00}},
    {"XTrntGrp 2",          {0x95, 2},                {0x00, 0x00, 0x00}},
    {"XTrntGrp 0",          {0x95, 0},                {0x00, 0x00, 0x00}},
    {"XTrntSts W1",         {0x94, 5, 0},             {0x00, 0x05}},
    // A turnout in no entry: answered, its position kept, named once, and
    // never reported to the host.
    {"XTrntSts unlisted",   {0x94, 9, 0},             {0x00, 0x04}, {}, "Weiche 9 nicht in der Weichenliste\n"},
    {"XTrnt unlisted to 0", {0x90, 9, 0x40},          {0x00}},
    {"its coil release",    {0x90, 9, 0x00},          {0x00}},
    {"XTrntSts unlisted 0", {0x94, 9, 0},             {0x00, 0x00}},
    {"XTrnt unlisted to 1", {0x90, 9, 0x80},          {0x00}},
    {"XTrntSts unlisted 1", {0x94, 9, 0},             {0x00, 0x04}},
    {"XTrnt highest",       {0x90, 0xFF, 0x07},       {0x00}, {}, "Weiche 2047 nicht in der Weichenliste\n"},
    {"XTrntSts highest",    {0x94, 0xFF, 7},          {0x00, 0x00}},
    // Feedback: K1 is set, module 4 is outside the image.
    {"XSensor 1",           {0x98, 1},                {0x00, 0x80, 0x00}},
    {"XSensor 3",           {0x98, 3},                {0x00, 0x00, 0x00}},
    {"XSensor 4",           {0x98, 4},                {0x00, 0x00, 0x00}},
    {"X88PGet 0",           {0x9C, 0},                {0x00, 0x06}},
    {"X88PGet 1",           {0x9C, 1},                {0x02}, {}, "Parameter 1 unbekannt.\n"},
    {"X88PSet 2",           {0x9D, 2, 5},             {0x02}, {}, "Parameter 2 unbekannt.\n"},
    // Station commands and the rows the station does not carry out.
    {"XSoGet",              {0xA4, 0, 0},             {0x02}},
    {"XNop",                {0xC4},                   {0x00}},
    {"XLokCfgSet",          {0x86, 3, 0, 1, 2},       {0x01}, {}, "P50Xb-Befehl XLokCfgSet nicht unterstuetzt.\n"},
    {"Xm3Sid",              {0x87, 3, 0, 1, 2, 3, 4}, {0x01}, {}, "P50Xb-Befehl Xm3Sid nicht unterstuetzt.\n"},
    {"XTrntX",              {0x91, 5, 0},             {0x01}, {}, "P50Xb-Befehl XTrntX nicht unterstuetzt.\n"},
    {"XP50Len1: no reply",  {0xC6, 0x61},             {},     {}, "XP50Len1: P50-Befehl 61 ignoriert.\n"},
    {"XP50Len2: no reply",  {0xC7, 0x03, 0x41},       {},     {}, "XP50Len2: P50-Befehl 03 41 ignoriert.\n"},
    {"XVer",                {0xA0},                   kVersion},
    {"programming track",   {0xF3, 1, 2, 3, 4},       {0x01}, {}, "Programmiergleis-Befehl f3 nicht unterstuetzt.\n"},
    {"unknown opcode",      {0xFF},                   {0x01}, {}, "Unbekannter P50Xb-Befehl ff\n"},
    // The halt cycle: both locomotives move (Lok2 in reverse).
    {"XStatus",             {0xA2},                   {0x08}},
    {"XHalt",               {0xA5},                   {0x00}, {"371;Lok2;1;-0.0\n", "381;Lok2;0\n",
                                                               "371;Lok1;1;0.0\n", "381;Lok1;1\n"}},
    {"XStatus halted",      {0xA2},                   {0x18}},
    {"XHalt, all standing", {0xA5},                   {0x00}},
    {"XLok refused",        {0x80, 3, 0, 50, 0x20},   {0x41}, {"371;Lok1;1;0.0\n", "381;Lok1;0\n"}},
    {"XLokSts halted",      {0x84, 3, 0},             {0x00, 0, 0x22, 0}},
    {"XLokX refused",       {0x81, 4, 0, 13, 0x20},   {0x41}, {"371;Lok2;1;0.0\n", "381;Lok2;0\n"}},
    {"XLok stop byte",      {0x80, 3, 0, 1, 0x20},    {0x00}, {"371;Lok1;1;0.0\n", "381;Lok1;0\n"}},
    {"XLok speed 0",        {0x80, 3, 0, 0, 0x00},    {0x00}, {"371;Lok1;1;-0.0\n", "381;Lok1;0\n"}},
    {"XPwrOn",              {0xA7},                   {0x00}},
    {"XStatus power on",    {0xA2},                   {0x08}},
    {"XLok works again",    {0x80, 3, 0, 50, 0x30},   {0x00}, {kLok1Moving, "381;Lok1;1\n"}},
    {"XHalt once more",     {0xA5},                   {0x00}, {"371;Lok1;1;0.0\n", "381;Lok1;1\n"}},
    {"XPwrOff",             {0xA6},                   {0x00}},
    {"XStatus power off",   {0xA2},                   {0x00}},
    {"XLok after XPwrOff",  {0x80, 3, 0, 50, 0x30},   {0x00}, {kLok1Moving, "381;Lok1;1\n"}},
};
// clang-format on

TEST(WholeStation, EveryCommandIsAnsweredAlikeInBothModes) {
  for (const StationMode mode : {StationMode::Mixed, StationMode::P50XOnly}) {
    const bool mixed = mode == StationMode::Mixed;
    SCOPED_TRACE(mixed ? "mixed mode" : "P50X-only mode");
    test::FullStation s(kLocos);
    s.feedback.setContact("K1");
    if (!mixed) s.enterP50XOnly();
    std::vector<test::Step> steps;
    for (const Row& row : kGolden) {
      Bytes in = row.command;
      if (mixed) in.insert(in.begin(), 'X');
      steps.push_back({row.name, in, row.reply, row.host, row.console, mode});
    }
    test::run(s, steps);
  }
}

// A station sends nothing for XP50Len1/2. An answer there would be read as the
// reply to the next command, and every reply after it would be one off.
TEST(WholeStation, EmbeddedP50CommandsLeaveTheNextReplyInPlace) {
  struct Case {
    const char* name;
    StationMode mode;
    Bytes in;
  };
  const Case cases[] = {
      {"mixed XP50Len1", StationMode::Mixed, bytes({'X', 0xC6, 0x61, 'X', 0xA0})},
      {"mixed XP50Len2", StationMode::Mixed, bytes({'x', 0xC7, 0x03, 0x41, 'x', 0xA0})},
      {"P50X-only XP50Len1", StationMode::P50XOnly, bytes({0xC6, 0x61, 0xA0})},
      {"P50X-only XP50Len2", StationMode::P50XOnly, bytes({0xC7, 0x03, 0x41, 0xA0})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::FullStation s;
    if (c.mode == StationMode::P50XOnly) s.enterP50XOnly();
    EXPECT_EQ(s.send(c.in), kVersion);
    EXPECT_EQ(s.sink.writes.size(), 1u);
  }
  // P50X-only mode takes each byte of a delivery on its own.
  test::FullStation s;
  s.enterP50XOnly();
  const Bytes burst = bytes({0xC6, 0x61, 0xA0});
  s.assembler.feed(static_cast<int>(burst.size()), burst.data());
  EXPECT_EQ(s.sink.writes, std::vector<Bytes>{kVersion});
}

// A control program that dies mid-command leaves its bytes behind; the next
// program's first command must not complete them.
TEST(WholeStation, MixedModeDropsABinaryCommandThatStoppedForOver200Ms) {
  test::FullStation s;
  EXPECT_EQ(s.send({'X', 0x80, 3, 0}), Bytes{});
  s.now += milliseconds(250);
  EXPECT_EQ(s.send({'X', 0xA0}), kVersion);
  EXPECT_EQ(s.hostMessages(), Messages{});
  EXPECT_EQ(s.consoleText(), "Unvollstaendiger P50Xb-Befehl 80 (4 Bytes) verworfen.\n");

  // A pause of exactly 200 ms between bytes still belongs to the command,
  // counted from the newest byte.
  s.send({'X', 0x80, 3});
  for (int byte : {0, 20, 0x20}) {
    s.now += milliseconds(200);
    s.send({static_cast<std::uint8_t>(byte)});
  }
  EXPECT_EQ(s.sink.all(), bytes({0x00}));
  EXPECT_EQ(s.hostMessages(), (Messages{"371;Lok1;1;50.7\n", "381;Lok1;0\n"}));

  // Text lines wait for their CR without a limit: people type them.
  s.send(text("xs"));
  s.now += milliseconds(5000);
  EXPECT_EQ(s.send(text("e\r")), text("SE 6\r]"));
  EXPECT_EQ(s.consoleText(), "");
}

}  // namespace
}  // namespace p50x
