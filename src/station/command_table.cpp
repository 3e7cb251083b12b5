#include "station/command_table.h"

#include <array>

namespace p50x {

namespace {
using H = CommandHandler;
}  // namespace

// clang-format off
const CommandDescriptor kP50XbCommands[38] = {
    // opcode, lastIndex, name, handler      wire: X opcode parameters
    {0x80, 5, "XLok",       H::XLok},         // al ah speed flags
    {0x81, 5, "XLokX",      H::XLokX},        // al ah raw flags
    {0x84, 3, "XLokSts",    H::XLokSts},      // al ah
    {0x85, 3, "XLokCfg",    H::XLokCfg},      // al ah
    {0x86, 5, "XLokCfgSet", H::NotSupported}, // al ah, 2 bytes
    {0x87, 7, "Xm3Sid",     H::NotSupported}, // al ah, 4 bytes
    {0x88, 4, "XFunc",      H::XFunc},        // al ah f1..f8
    {0x89, 4, "XFuncX",     H::XFuncX},       // al ah f9..f16
    {0x8A, 5, "XFunc34",    H::XFunc34},      // al ah f17..f24 f25..f28
    {0x8C, 3, "XFuncSts",   H::XFuncSts},     // al ah
    {0x8D, 3, "XFuncXSts",  H::XFuncXSts},    // al ah
    {0x8E, 3, "XFunc34Sts", H::XFunc34Sts},   // al ah
    {0x90, 3, "XTrnt",      H::XTrnt},        // al ah|coil|dir
    {0x91, 3, "XTrntX",     H::NotSupported}, // 2 bytes
    {0x94, 3, "XTrntSts",   H::XTrntSts},     // al ah
    {0x95, 2, "XTrntGrp",   H::XTrntGrp},     // group
    {0x98, 2, "XSensor",    H::XSensor},      // module
    {0x99, 1, "XSensOff",   H::XSensOff},
    {0x9C, 2, "X88PGet",    H::X88PGet},      // parameter
    {0x9D, 3, "X88PSet",    H::X88PSet},      // parameter value
    {0xA0, 1, "XVer",       H::XVer},
    {0xA2, 1, "XStatus",    H::XStatus},
    {0xA3, 4, "XSoSet",     H::NotSupported}, // option lo hi, value
    {0xA4, 3, "XSoGet",     H::XSoGet},       // option lo hi
    {0xA5, 1, "XHalt",      H::XHalt},
    {0xA6, 1, "XPwrOff",    H::XPwrOff},
    {0xA7, 1, "XPwrOn",     H::XPwrOn},
    {0xC0, 5, "XClkSet",    H::Accepted},     // 4 bytes: the fast clock
    {0xC4, 1, "XNop",       H::XNop},
    {0xC6, 2, "XP50Len1",   H::EmbeddedP50},  // P50 byte
    {0xC7, 3, "XP50Len2",   H::EmbeddedP50},  // P50 byte, P50 byte
    {0xC8, 1, "XEvent",     H::XEvent},
    {0xC9, 1, "XEvtLok",    H::XEvtLok},
    {0xCA, 1, "XEvtTrn",    H::XEvtTrn},
    {0xCB, 1, "XEvtSen",    H::XEvtSen},
    {0xD2, 1, "XEvtBiDi",   H::Accepted},
    {0xDF, 6, "XPomAcc",    H::NotSupported}, // 5 bytes: accessory decoder on the main
    {0,    0, "",           H::None},
};

// Lengths as measured on the wire from the opcode on, which is what lastIndex
// counts.
const CommandDescriptor kProgrammingTrackCommands[14] = {
    {0xEC, 3, "programming track", H::ProgrammingTrack},
    {0xED, 4, "programming track", H::ProgrammingTrack},
    {0xEE, 3, "programming track", H::ProgrammingTrack},
    {0xEF, 4, "programming track", H::ProgrammingTrack},
    {0xF0, 3, "programming track", H::ProgrammingTrack},
    {0xF1, 4, "programming track", H::ProgrammingTrack},
    {0xF2, 3, "programming track", H::ProgrammingTrack},
    {0xF3, 5, "programming track", H::ProgrammingTrack},
    {0xDA, 5, "programming track", H::ProgrammingTrack},
    {0xDE, 6, "programming track", H::ProgrammingTrack},
    {0xE1, 1, "programming track", H::ProgrammingTrack},
    {0xE2, 1, "programming track", H::ProgrammingTrack},
    {0xCE, 1, "programming track", H::ProgrammingTrack},
    {0,    0, "",                  H::None},
};
// clang-format on

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
