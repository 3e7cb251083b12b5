// The console notices about binary commands the station does not carry out,
// each printed once per opcode and run.
#pragma once

#include <bitset>
#include <cstdint>

#include "common/printf_format.h"
#include "diag/console.h"

namespace p50x {

// Control software polls: a driver that sends an opcode the station does not
// know, or does not carry out, sends it again a few times a second, and a
// notice for each would bury everything else on the console. The first one
// says what happens; the rest add nothing.
// Threads: the serial worker only, as part of the CommandAssembler. No guard.
class OpcodeNotices {
 public:
  explicit OpcodeNotices(Console& console) : console_(console) {}

  // printf-style; dropped when `opcode` has had its notice this run.
  void print(std::uint8_t opcode, const char* format, ...) P50X_PRINTF_FORMAT(3, 4);

  // The opcodes already noticed by an earlier instance count as noticed here.
  void takeOver(const OpcodeNotices& earlier) { noticed_ |= earlier.noticed_; }

 private:
  Console& console_;
  std::bitset<256> noticed_;
};

}  // namespace p50x
