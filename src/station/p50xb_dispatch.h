// Routes a complete P50Xb command to its handler.
#pragma once

#include <cstdint>

#include "station/reply.h"

namespace p50x {

class StationState;
class LocoTable;
class TurnoutTable;
class FeedbackImage;

// The instances that carry out P50Xb commands. A target that is absent makes
// its opcodes be consumed without a reply, like the table rows without handler.
struct StationTargets {
  StationState* station = nullptr;
  LocoTable* locos = nullptr;
  TurnoutTable* turnouts = nullptr;
  FeedbackImage* feedback = nullptr;
};

// `input` holds the complete command: "X"/"x", the opcode, the parameter bytes.
void dispatchP50Xb(const std::uint8_t* input, ReplyChannel& reply, const StationTargets& targets);

}  // namespace p50x
