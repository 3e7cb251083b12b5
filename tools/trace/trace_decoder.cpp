#include "trace_decoder.h"

#include <utility>

#include "exchange_reader.h"

namespace p50x::trace {

namespace {
// A reading that leaves the next exchange without its reply is worse than any
// number of oddities.
constexpr int kUnpairedWeight = 1000;
}  // namespace

TraceDecoder::TraceDecoder(LineSink sink, TraceOptions options, ExchangeEvents* events)
    : sink_(std::move(sink)), options_(std::move(options)), events_(events) {}

void TraceDecoder::received(std::uint8_t byte) {
  if (!sent_.empty()) close(Close::NextCommand);
  received_.push_back(byte);
}

void TraceDecoder::sent(std::uint8_t byte) {
  sent_.push_back(byte);
}

void TraceDecoder::bridgeStarted() {
  finish();
  sink_("-- bridge started --");
  if (events_ != nullptr) events_->bridgeStarted();
  mode_ = Mode::Mixed;
}

void TraceDecoder::unreadable(std::string_view text) {
  finish();
  sink_("? " + std::string(text));
}

void TraceDecoder::settle() {
  close(Close::Settle);
}

void TraceDecoder::idle() {
  close(Close::Idle);
}

void TraceDecoder::finish() {
  // Sent bytes that pair with nothing leave the command still arriving held;
  // the next round shows it as cut short.
  for (int round = 0; round < 3 && pending(); ++round) close(Close::Final);
}

void TraceDecoder::close(Close how) {
  if (deferred_) {
    if (how != Close::Settle) decideDeferred(how);
    return;
  }
  if (received_.empty() && sent_.empty()) return;
  Reading reading;
  switch (readExchange(received_, sent_, mode_, how, true, options_, reading)) {
    case Outcome::Waiting:
      return;
    case Outcome::Ambiguous:
      deferred_ = true;
      deferredMode_ = mode_;
      deferredReceived_.swap(received_);
      deferredSent_.swap(sent_);
      received_.clear();
      sent_.clear();
      return;
    case Outcome::Paired:
    case Outcome::Unpaired:
      take(reading);
      return;
  }
}

// Two readings of the deferred exchange, each followed by the exchange after
// it: (a) the station dropped a piece and answered the command behind it;
// (b) the sent bytes were typed keys and the command went on arriving.
void TraceDecoder::decideDeferred(Close how) {
  Reading dropped;
  int droppedScore = kUnpairedWeight;
  if (readResynchronised(deferredReceived_, deferredSent_, deferredMode_, options_, dropped)) {
    Reading next;
    const Outcome outcome =
        readExchange(received_, sent_, dropped.endMode, how, false, options_, next);
    droppedScore =
        dropped.oddities + next.oddities + (outcome == Outcome::Unpaired ? kUnpairedWeight : 0);
    dropped.lines.insert(dropped.lines.end(), next.lines.begin(), next.lines.end());
    dropped.exchanges.insert(dropped.exchanges.end(), next.exchanges.begin(), next.exchanges.end());
    dropped.endMode = next.endMode;
    dropped.keep = next.keep;
  }

  Reading typed;
  readHeld(deferredReceived_, deferredSent_, deferredMode_, options_, typed);
  std::vector<std::uint8_t> continued = typed.keep;
  continued.insert(continued.end(), received_.begin(), received_.end());
  Reading next;
  const Outcome outcome = readExchange(continued, sent_, typed.endMode, how, false, options_, next);
  const int typedScore =
      typed.oddities + next.oddities + (outcome == Outcome::Unpaired ? kUnpairedWeight : 0);
  typed.lines.insert(typed.lines.end(), next.lines.begin(), next.lines.end());
  typed.exchanges.insert(typed.exchanges.end(), next.exchanges.begin(), next.exchanges.end());
  typed.endMode = next.endMode;
  typed.keep = next.keep;

  deferred_ = false;
  deferredReceived_.clear();
  deferredSent_.clear();
  mode_ = deferredMode_;
  take(droppedScore <= typedScore ? dropped : typed);
}

void TraceDecoder::take(const Reading& reading) {
  for (const std::string& line : reading.lines) sink_(line);
  if (events_ != nullptr) {
    for (const Exchange& exchange : reading.exchanges) events_->exchanged(exchange);
  }
  mode_ = reading.endMode;
  received_ = reading.keep;
  sent_.clear();
}

}  // namespace p50x::trace
