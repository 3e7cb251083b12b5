// Turns the serial byte stream into P50, P50Xa and P50Xb commands and answers
// or dispatches each one.
#pragma once

#include <cstdint>

#include "diag/console.h"
#include "station/p50xb_dispatch.h"
#include "station/reply.h"

namespace p50x {

// Threads: only the serial worker feeds it (deliveries never overlap); it is
// created, wired and released on the console thread while no delivery can
// reach it. No guard needed.
class CommandAssembler {
 public:
  static constexpr int kInputSize = 80;  // 79 command bytes and a zero byte

  CommandAssembler(ReplySink& sink, Console& console);

  // Wires the handlers; called before the first delivery.
  void setTargets(const StationTargets& targets) { targets_ = targets; }

  // One delivery of n >= 1 received bytes.
  void feed(int n, const std::uint8_t* bytes);

  ReplyChannel& reply() { return reply_; }
  const std::uint8_t* input() const { return input_; }
  int inputCount() const { return inputCount_; }

  // Writes 40 - (3n + 4) spaces (none when that is not positive), then text.
  static void printPadded(Console& console, int n, const char* text);

 private:
  // Implementation's choice beyond this point.

  // What the held command is, judged afresh on every delivery from its first
  // byte (and the second, for "X"/"x"). A further framing mode adds its own
  // rows to classify() and, if it needs one, its own family here.
  enum class Family {
    Zero,   // the one-byte command 0x00
    Nop,    // the one-byte command 0xC4
    P50,    // text up to CR
    P50Xa,  // "X"/"x", text up to CR
    P50Xb,  // "X"/"x", opcode >= 0x80, length from the command table
  };

  Family classify(int deliverySize) const;
  void handleP50();
  void handleP50Xa();
  void frameP50Xb();
  void sendPrompt();
  void discardOverlong();
  void clear() { inputCount_ = 0; }
  bool lastIsCr() const;
  bool startsWith(const char* prefix, int length) const;

  Console& console_;
  ReplyChannel reply_;
  StationTargets targets_;
  std::uint8_t input_[kInputSize] = {};
  int inputCount_ = 0;
};

}  // namespace p50x
