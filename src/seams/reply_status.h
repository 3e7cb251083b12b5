// The status byte that begins most P50Xb replies. Control software reads it
// before anything else of the reply, so the values are fixed by the protocol.
#pragma once

#include <cstdint>

namespace p50x {

struct ReplyStatus {
  static constexpr std::uint8_t kOk = 0x00;
  // The command is known but the station does not carry it out. Clients show
  // an error and go on; a pretended success would let them believe it done.
  static constexpr std::uint8_t kNotSupported = 0x01;
  // A locomotive address not in the table, or a parameter the station does not
  // keep: the client's own data is wrong, not the station.
  static constexpr std::uint8_t kBadParameter = 0x02;
  // A speed refused while the station is halted (XHalt): the client learns
  // that its locomotive stays put until the power is switched on again.
  static constexpr std::uint8_t kHalted = 0x41;
};

}  // namespace p50x
