// Routes a complete P50Xb command to the handler its table row names.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "seams/reply.h"
#include "seams/station_mode.h"
#include "station/command_table.h"
#include "station/opcode_notices.h"

namespace p50x {

class StationState;
class LocoTable;
class TurnoutTable;
class FeedbackImage;

// The instances that carry out P50Xb commands. A target that is absent makes
// its commands be consumed without a reply.
struct StationTargets {
  StationState* station = nullptr;
  LocoTable* locos = nullptr;
  TurnoutTable* turnouts = nullptr;
  FeedbackImage* feedback = nullptr;
};

// `command` points at the opcode of a complete command of `row`, followed by
// its parameter bytes; a "X"/"x" prefix, if it came with one, lies before it
// and plays no part. Notices about commands the station does not carry out go
// to `notices`, once per opcode.
// The emergency stop of the whole layout, XHalt and its text form alike: the
// station's halt bit, then `answer` to the control software, then the host
// hears of each locomotive that was stopped. Nothing happens without a station.
void haltLayout(const StationTargets& targets, ReplyChannel& reply,
                std::initializer_list<std::uint8_t> answer);

void dispatchP50Xb(const CommandDescriptor& row, const std::uint8_t* command, ReplyChannel& reply,
                   OpcodeNotices& notices, const StationTargets& targets, StationMode mode);

}  // namespace p50x
