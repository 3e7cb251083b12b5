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

}  // namespace p50x
