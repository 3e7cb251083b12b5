// Pairs the commands the control software sent with the station's replies and
// prints one line per command.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "monitor_reader.h"
#include "trace_framer.h"

namespace p50x::trace {

struct TraceOptions {
  std::string arrow = "\xE2\x86\x92";  // U+2192 in UTF-8
  bool hex = false;                    // the bytes of each line in brackets too
};

// One command as the station took it, with the reply it gave (none: empty).
struct Exchange {
  Framed command;
  std::vector<std::uint8_t> reply;
};

// What the commands did, for a reader that follows the station's state.
class ExchangeEvents {
 public:
  virtual ~ExchangeEvents() = default;
  // In the order of the trace lines; a piece cut short is no command.
  virtual void exchanged(const Exchange& exchange) = 0;
  virtual void bridgeStarted() = 0;
};

// One way of reading a run of received bytes and the sent bytes behind it.
struct Reading {
  std::vector<std::string> lines;
  std::vector<Exchange> exchanges;
  int oddities = 0;  // pieces cut off, replies missing or misfit, bytes answering nothing
  Mode endMode = Mode::Mixed;
  std::vector<std::uint8_t> keep;  // a command still arriving
};

// The monitor file holds what the station received on "R" lines and what it
// sent on "S" lines. A reply is logged right behind the last byte of its
// command, so the received bytes up to an "S" line end with the command that
// the sent bytes answer; the commands before it in the same run got no reply.
// Sent bytes that arrive while a command is still incomplete are either the
// reply to a command behind a piece the station dropped after a pause, or keys
// typed on the bridge's console; the next exchange decides which reading has
// fewer oddities.
//
// Threads: one owner; no guard.
class TraceDecoder final : public MonitorEvents {
 public:
  using LineSink = std::function<void(const std::string& line)>;

  // `events` (may be nullptr) hears of every command as its line goes out.
  TraceDecoder(LineSink sink, TraceOptions options, ExchangeEvents* events = nullptr);

  void received(std::uint8_t byte) override;
  void sent(std::uint8_t byte) override;
  void bridgeStarted() override;
  void unreadable(std::string_view text) override;

  // Shows what is certain already: a command with its whole reply.
  void settle();
  // Nothing new has come for a while: the complete commands still waiting go
  // out as unanswered; a command still arriving stays.
  void idle();
  // The end: everything goes out, an incomplete command as cut short.
  void finish();

  bool pending() const { return !received_.empty() || !sent_.empty() || deferred_; }

  enum class Close { Settle, Idle, NextCommand, Final };

 private:
  void close(Close how);
  void decideDeferred(Close how);
  void take(const Reading& reading);

  LineSink sink_;
  TraceOptions options_;
  ExchangeEvents* events_;
  Mode mode_ = Mode::Mixed;  // the mode the first held received byte arrived in
  std::vector<std::uint8_t> received_;
  std::vector<std::uint8_t> sent_;
  // An exchange whose reading waits for the next one.
  bool deferred_ = false;
  Mode deferredMode_ = Mode::Mixed;
  std::vector<std::uint8_t> deferredReceived_;
  std::vector<std::uint8_t> deferredSent_;
};

}  // namespace p50x::trace
