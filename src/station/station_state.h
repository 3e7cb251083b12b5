// The emulated station's own status byte and the station-level commands that
// read or change it.
#pragma once

#include <cstdint>

#include "seams/reply.h"

namespace p50x {

// Threads: the serial worker only (created and released on the console thread
// before the worker may reach it). No guard needed.
class StationState {
 public:
  static constexpr std::uint8_t kPowerBit = 0x08;
  static constexpr std::uint8_t kHaltBit = 0x10;
  static constexpr std::uint8_t kLocoEventBit = 0x01;
  static constexpr std::uint8_t kFeedbackEventBit = 0x04;

  std::uint8_t status() const { return status_; }
  bool halted() const { return (status_ & kHaltBit) != 0; }

  void xVer(ReplyChannel& reply);     // X A0 -> 03 01 04 06 04 00 13 07 56 00
  void xStatus(ReplyChannel& reply);  // X A2 -> status
  void xSoGet(ReplyChannel& reply);   // X A4 lo hi -> 02
  // X A5 and the text XHALT: halt bit set. The caller answers and stops the
  // locomotives (haltLayout).
  void halt();
  void xPwrOff(ReplyChannel& reply);  // X A6 -> 00, power and halt bits cleared
  void xPwrOn(ReplyChannel& reply);   // X A7 -> 00, status = 08
  // X C8 -> 00; bit 0 set while XEvtLok has locomotives to report, bit 2 when
  // the feedback image changed since XEvtSen last answered. The caller decides
  // whether the mode reports them at all.
  void xEvent(ReplyChannel& reply, bool locosToReport, bool feedbackChanged);

 private:
  std::uint8_t status_ = kPowerBit;  // the station starts with track power on
};

}  // namespace p50x
