// The emulated station's own status byte and the five commands that read or
// change it.
#pragma once

#include <cstdint>

#include "seams/reply.h"

namespace p50x {

// Threads: the serial worker only (created and released on the console thread
// before the worker may reach it). No guard needed.
class StationState {
 public:
  static constexpr std::uint8_t kPowerBit = 0x08;

  std::uint8_t status() const { return status_; }

  void xVer(ReplyChannel& reply);     // X A0 -> 03 01 04 06 04 00 13 07 56 00
  void xStatus(ReplyChannel& reply);  // X A2 -> status
  void xPwrOff(ReplyChannel& reply);  // X A6 -> 00, power bit cleared
  void xPwrOn(ReplyChannel& reply);   // X A7 -> 00, status = 08
  // X C8 -> 00, or 04 when the feedback image changed since XEvtSen last
  // answered. The caller decides whether the mode reports that at all.
  void xEvent(ReplyChannel& reply, bool feedbackChanged);

  static constexpr std::uint8_t kFeedbackEventBit = 0x04;

 private:
  std::uint8_t status_ = kPowerBit;  // the station starts with track power on
};

}  // namespace p50x
