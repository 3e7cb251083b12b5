// How the station frames what arrives on the serial line. Control software
// picks the mode with a text command; the handlers whose answers differ
// between the modes are told which one is on.
#pragma once

namespace p50x {

enum class StationMode {
  // P50 and P50Xa text commands, and P50Xb commands behind an "X"/"x" prefix.
  Mixed,
  // P50Xb commands start with their opcode; text lines are P50Xa commands with
  // the leading "x"/"X" optional. Entered by "xZzA1" CR, left by "ZzA0" CR.
  P50XOnly,
};

}  // namespace p50x
