// The ways of reading one exchange: received bytes and the sent bytes that
// follow them in the monitor file.
#pragma once

#include <cstdint>
#include <vector>

#include "trace_decoder.h"

namespace p50x::trace {

using Bytes = std::vector<std::uint8_t>;

enum class Outcome {
  Paired,     // the sent bytes answer the last command (or there were none)
  Unpaired,   // they answer nothing received
  Waiting,    // nothing decided yet
  Ambiguous,  // a command is incomplete, and a dropped piece could explain it too
};

// Reads one exchange. `how` says whether more may come: Settle decides only a
// command with its whole reply; Idle keeps a command still arriving; Final
// shows it as cut short. Ambiguous only when `mayDefer`.
Outcome readExchange(const Bytes& received, const Bytes& sent, Mode mode, TraceDecoder::Close how,
                     bool mayDefer, const TraceOptions& options, Reading& out);

// The sent bytes answer a command behind a piece the station dropped. False
// when no split of the received bytes gives such a command.
bool readResynchronised(const Bytes& received, const Bytes& sent, Mode mode,
                        const TraceOptions& options, Reading& out);

// The sent bytes answer nothing (keys typed on the console); the complete
// commands got no reply and an incomplete one is kept.
void readHeld(const Bytes& received, const Bytes& sent, Mode mode, const TraceOptions& options,
              Reading& out);

// Sent bytes with nothing received before them.
void readUnpaired(const Bytes& sent, std::size_t from, Reading& out);

}  // namespace p50x::trace
