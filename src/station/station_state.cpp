#include "station/station_state.h"

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

void StationState::xPwrOff(ReplyChannel& reply) {
  status_ = static_cast<std::uint8_t>(status_ & ~kPowerBit);
  reply.send({0x00});
}

void StationState::xPwrOn(ReplyChannel& reply) {
  status_ = kPowerBit;
  reply.send({0x00});
}

void StationState::xEvent(ReplyChannel& reply, bool feedbackChanged) {
  reply.send({feedbackChanged ? kFeedbackEventBit : std::uint8_t{0x00}});
}

}  // namespace p50x
