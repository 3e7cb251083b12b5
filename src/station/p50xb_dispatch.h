// Routes a complete P50Xb command to its handler.
#pragma once

#include <cstdint>

#include "seams/reply.h"
#include "seams/station_mode.h"

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

// `command` points at the opcode of a complete command of the command table,
// followed by its parameter bytes; a "X"/"x" prefix, if it came with one, lies
// before it and plays no part. In P50X-only mode the table rows without a
// handler answer too (see the .cpp), so the control software never waits for
// a reply that is not coming.
void dispatchP50Xb(const std::uint8_t* command, ReplyChannel& reply, const StationTargets& targets,
                   StationMode mode);

}  // namespace p50x
