// The P50Xb command table: the single source of every binary opcode the
// station knows, with its length and name.
#pragma once

#include <cstdint>

namespace p50x {

struct CommandDescriptor {
  int opcode;     // the second byte of the command; 0 ends the table
  int lastIndex;  // index of the last byte, counting the "X"/"x" as index 0
  const char* name;
};

// The 33 rows in their fixed order, then the terminating row (opcode 0).
extern const CommandDescriptor kP50XbCommands[34];

// The row for an opcode, or nullptr when the table has none. Constant time: it
// sits on the per-byte path.
const CommandDescriptor* findCommand(std::uint8_t opcode);

// Programming-track commands that control software sends in P50X-only mode.
// The station has no programming track: it only needs their lengths to consume
// them whole before it answers "not supported". Same row form as above, ended
// by opcode 0; they are no P50Xb table rows and never reach the dispatch.
extern const CommandDescriptor kProgrammingTrackCommands[14];

// The programming-track row for an opcode, or nullptr.
const CommandDescriptor* findProgrammingTrackCommand(std::uint8_t opcode);

}  // namespace p50x
