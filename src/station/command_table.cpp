#include "station/command_table.h"

#include <array>

namespace p50x {

// clang-format off
const CommandDescriptor kP50XbCommands[34] = {
    {0x80, 5, "XLok"},       {0x81, 5, "XLokX"},      {0x84, 3, "XLokSts"},
    {0x85, 3, "XLokCfg"},    {0x86, 5, "XLokCfgSet"}, {0x87, 7, "Xm3Sid"},
    {0x88, 4, "XFunc"},      {0x89, 4, "XFuncX"},     {0x8A, 5, "XFunc34"},
    {0x8C, 3, "XFuncSts"},   {0x8D, 3, "XFuncXSts"},  {0x8E, 3, "XFunc34Sts"},
    {0x90, 3, "XTrnt"},      {0x91, 3, "XTrntX"},     {0x94, 3, "XTrntSts"},
    {0x95, 2, "XTrntGrp"},   {0x98, 2, "XSensor"},    {0x99, 1, "XSensOff"},
    {0x9C, 2, "X88PGet"},    {0x9D, 3, "X88PSet"},    {0xA0, 1, "XVer"},
    {0xA2, 1, "XStatus"},    {0xA4, 3, "XSoGet"},     {0xA5, 1, "XHalt"},
    {0xA6, 1, "XPwrOff"},    {0xA7, 1, "XPwrOn"},     {0xC4, 1, "XNop"},
    {0xC6, 2, "XP50Len1"},   {0xC7, 3, "XP50Len2"},   {0xC8, 1, "XEvent"},
    {0xC9, 1, "XEvtLok"},    {0xCA, 1, "XEvtTrn"},    {0xCB, 1, "XEvtSen"},
    {0, 0, ""},
};
// clang-format on

// Lengths as measured on the wire, opcode included; with the "X" counted as
// index 0 that length is the last index.
const CommandDescriptor kProgrammingTrackCommands[14] = {
    {0xEC, 3, "programming track"}, {0xED, 4, "programming track"},
    {0xEE, 3, "programming track"}, {0xEF, 4, "programming track"},
    {0xF0, 3, "programming track"}, {0xF1, 4, "programming track"},
    {0xF2, 3, "programming track"}, {0xF3, 5, "programming track"},
    {0xDA, 5, "programming track"}, {0xDE, 6, "programming track"},
    {0xE1, 1, "programming track"}, {0xE2, 1, "programming track"},
    {0xCE, 1, "programming track"}, {0, 0, ""},
};

namespace {
// Built once from a table, so the table stays the single source and the
// per-byte lookup is one index.
struct OpcodeIndex {
  std::array<const CommandDescriptor*, 256> rows{};
  explicit OpcodeIndex(const CommandDescriptor* table) {
    for (const CommandDescriptor* row = table; row->opcode != 0; ++row) {
      rows[static_cast<std::size_t>(row->opcode)] = row;
    }
  }
};
const OpcodeIndex kIndex(kP50XbCommands);
const OpcodeIndex kProgrammingTrackIndex(kProgrammingTrackCommands);
}  // namespace

const CommandDescriptor* findCommand(std::uint8_t opcode) {
  return kIndex.rows[opcode];
}

const CommandDescriptor* findProgrammingTrackCommand(std::uint8_t opcode) {
  return kProgrammingTrackIndex.rows[opcode];
}

}  // namespace p50x
