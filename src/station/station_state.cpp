#include "station/station_state.h"

#include "seams/reply_status.h"

namespace p50x {

void StationState::xVer(ReplyChannel& reply) {
  // Length-prefixed fields closed by a zero length: version 1.4.6, then 00 13 07 56.
  // Control software reads the version to pick the commands it may use; it
  // matches the identification text, and both stay as they are.
  reply.send({0x03, 0x01, 0x04, 0x06, 0x04, 0x00, 0x13, 0x07, 0x56, 0x00});
}

void StationState::xStatus(ReplyChannel& reply) {
  reply.send({status_});
}

// The station keeps no special options: every option number is answered "no
// such option", never with a made-up value.
void StationState::xSoGet(ReplyChannel& reply) {
  reply.send({ReplyStatus::kBadParameter});
}

// The halt stays until the power is switched off or on, as on a real station.
void StationState::halt() {
  status_ = static_cast<std::uint8_t>(status_ | kHaltBit);
}

void StationState::xPwrOff(ReplyChannel& reply) {
  status_ = static_cast<std::uint8_t>(status_ & ~(kPowerBit | kHaltBit));
  reply.send({ReplyStatus::kOk});
}

void StationState::xPwrOn(ReplyChannel& reply) {
  status_ = kPowerBit;
  reply.send({ReplyStatus::kOk});
}

void StationState::xEvent(ReplyChannel& reply, bool locosToReport, bool feedbackChanged) {
  std::uint8_t events = ReplyStatus::kOk;
  if (locosToReport) events |= kLocoEventBit;
  if (feedbackChanged) events |= kFeedbackEventBit;
  reply.send({events});
}

}  // namespace p50x
