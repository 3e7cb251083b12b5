// The P50Xb command table: the single source of every binary opcode the
// station knows, with its length, its name and the handler that carries it out.
#pragma once

#include <cstdint>

namespace p50x {

// What carries a command out; the dispatch switches on this, never on opcodes.
// Rows that share a way of being answered share a handler.
enum class CommandHandler : std::uint8_t {
  None,  // the terminating row
  XLok,
  XLokX,
  XLokSts,
  XLokCfg,
  XFunc,
  XFuncX,
  XFunc34,
  XFuncSts,
  XFuncXSts,
  XFunc34Sts,
  XTrnt,
  XTrntSts,
  XTrntGrp,
  XSensor,
  XSensOff,
  X88PGet,
  X88PSet,
  XVer,
  XStatus,
  XSoGet,
  XHalt,
  XPwrOff,
  XPwrOn,
  XNop,
  XEvent,
  XEvtLok,
  XEvtTrn,
  XEvtSen,
  // XClkSet, XEvtBiDi: answered as done. The station keeps no fast clock and
  // has no detectors that read back from the decoders, so there is nothing to
  // store and nothing to report.
  Accepted,
  // XLokCfgSet, Xm3Sid, XTrntX: the layout lists are the configuration.
  // XSoSet: the station keeps no special options. XPomAcc: no decoder is
  // written on the main track.
  NotSupported,
  EmbeddedP50,       // XP50Len1, XP50Len2: an old one- or two-byte command inside
  ProgrammingTrack,  // the station has no programming track
};

struct CommandDescriptor {
  int opcode;  // the command's opcode byte; 0 ends the table
  // Index of the command's last byte, counting an "X"/"x" prefix as index 0.
  // That is the command's length from the opcode on, so with or without the
  // prefix a command is complete once lastIndex bytes from its opcode are held.
  int lastIndex;
  const char* name;  // for console notices and diagnostics
  CommandHandler handler;
};

// The 37 rows by opcode, then the terminating row (opcode 0). Besides the
// station's own commands the table knows those that control software written
// for related stations sends, so their parameter bytes are consumed with them
// and never read as commands of their own.
extern const CommandDescriptor kP50XbCommands[38];

// The row for an opcode, or nullptr when the table has none. Constant time: it
// sits on the per-byte path.
const CommandDescriptor* findCommand(std::uint8_t opcode);

// Programming-track commands that control software sends. The station has no
// programming track: it only needs their lengths to consume them whole before
// it answers "not supported". Same row form as above, ended by opcode 0.
extern const CommandDescriptor kProgrammingTrackCommands[14];

// The programming-track row for an opcode, or nullptr.
const CommandDescriptor* findProgrammingTrackCommand(std::uint8_t opcode);

}  // namespace p50x
