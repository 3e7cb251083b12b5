// Turns the serial byte stream into P50, P50Xa and P50Xb commands and answers
// or dispatches each one.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <utility>

#include "diag/console.h"
#include "seams/reply.h"
#include "seams/station_mode.h"
#include "station/command_table.h"
#include "station/opcode_notices.h"
#include "station/p50xb_dispatch.h"
#include "station/text_commands.h"

namespace p50x {

// Threads: only the serial worker feeds it (deliveries never overlap) and only
// it calls the clock; it is created, wired and released on the console thread
// while no delivery can reach it. No guard needed.
class CommandAssembler {
 public:
  static constexpr int kInputSize = 80;  // 79 command bytes and a zero byte

  using TimePoint = std::chrono::steady_clock::time_point;
  using Clock = std::function<TimePoint()>;

  // A binary command whose bytes stop for longer than this has lost a byte
  // (or its sender died); the next byte starts a new command. Text lines have
  // no such limit: people type them.
  static constexpr std::chrono::milliseconds kBinaryPause{200};

  CommandAssembler(ReplySink& sink, Console& console);

  // Wires the handlers; called before the first delivery.
  void setTargets(const StationTargets& targets) { targets_ = targets; }

  // For an assembler that takes over from `earlier` when the line has been
  // opened again (a replugged adapter): the station's mode and the notices
  // already given go on, as they would in a station whose line was pulled;
  // half-received input does not. Called before the first delivery.
  void continueFrom(const CommandAssembler& earlier);

  // Replaces the steady clock that times binary input; called before the
  // first delivery.
  void setClock(Clock clock) { clock_ = std::move(clock); }

  // How a delivery met the line. kAfterWait: the read waited for it, so the
  // line may have been quiet before it. kQueued: its bytes were there when the
  // read began, right behind the bytes before them.
  enum class Arrival { kAfterWait, kQueued };

  // One delivery of n >= 1 received bytes. The clock is read only when a
  // binary command begins and for a delivery that came after a wait, so the
  // 200 ms rule costs nothing on the bytes of a command sent in one go.
  void feed(int n, const std::uint8_t* bytes, Arrival arrival = Arrival::kAfterWait);

  ReplyChannel& reply() { return reply_; }
  const std::uint8_t* input() const { return input_; }
  int inputCount() const { return inputCount_; }
  StationMode mode() const { return mode_; }

  // Writes 40 - (3n + 4) spaces (none when that is not positive), then text.
  static void printPadded(Console& console, int n, const char* text);

 private:
  // Implementation's choice beyond this point.

  // What the held command is in mixed mode, judged afresh on every delivery
  // from its first byte (and the second, for "X"/"x").
  enum class Family {
    Zero,   // the one-byte command 0x00
    Nop,    // the one-byte command 0xC4
    P50,    // text up to CR
    P50Xa,  // "X"/"x", text up to CR
    P50Xb,  // "X"/"x", opcode >= 0x80, length from the command table
  };

  // Mixed mode takes a delivery whole, as the station always has.
  void feedMixed(int n, const std::uint8_t* bytes, Arrival arrival);
  Family classify(int deliverySize) const;

  // P50X-only mode takes every byte on its own, so each command of a larger
  // delivery is answered.
  void feedP50XOnly(std::uint8_t byte, Arrival arrival);

  // Shared by both modes: the held bytes are a text line up to its CR, or a
  // binary command whose opcode is at `opcodeAt` (after its prefix, if any).
  void handleTextLine();
  void sendTextReply(TextReply reply);
  void frameBinary(int opcodeAt);
  const CommandDescriptor* findRow(std::uint8_t opcode) const;
  void unknownOpcode(int opcodeAt);
  TimePoint dropIfStalled();
  // After a byte: the time of the newest byte of held binary input. `wasHeld`:
  // binary input was held before it; `arrival`: its time, if read (`timed`).
  // A byte queued right behind the one before it came at that one's time, as
  // near as matters: while a command is held nothing between two of its bytes
  // waits. A command that begins is timed afresh, since the command before it
  // may have waited. On the per-byte path, so inline.
  void stampBinary(bool wasHeld, bool timed, TimePoint arrival) {
    if (!holdsBinary()) return;
    if (timed) {
      lastBinaryByte_ = arrival;
    } else if (!wasHeld) {
      lastBinaryByte_ = now();
    }
  }
  TimePoint now() const;

  // Held input is a binary command: its first byte an opcode (P50X-only
  // mode), or "X"/"x" and an opcode. On the per-byte path, so inline.
  bool holdsBinary() const {
    if (inputCount_ == 0) return false;
    const bool opcodeFirst = mode_ == StationMode::P50XOnly && (input_[0] & 0x80) != 0;
    return opcodeFirst || ((input_[0] == 'X' || input_[0] == 'x') && (input_[1] & 0x80) != 0);
  }
  int prefixedOpcodeInText(int from) const;
  void restartAt(int start);
  void sendPrompt();
  void discardOverlong();
  void clear() { inputCount_ = 0; }
  bool lastIsCr() const;

  Console& console_;
  OpcodeNotices notices_{console_};
  ReplyChannel reply_;
  StationTargets targets_;
  Clock clock_;  // empty: the steady clock, called directly on the byte path
  StationMode mode_ = StationMode::Mixed;
  // Arrival of the newest byte of held binary input; a byte queued right
  // behind it keeps it.
  TimePoint lastBinaryByte_{};
  std::uint8_t input_[kInputSize] = {};
  int inputCount_ = 0;
};

}  // namespace p50x
