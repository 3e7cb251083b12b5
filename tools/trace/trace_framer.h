// Frames the bytes the control software sent into commands the way the
// station frames them, so a trace shows what the station took each byte for.
#pragma once

#include <cstdint>
#include <vector>

#include "station/command_table.h"

namespace p50x::trace {

enum class Mode { Mixed, P50XOnly };

struct Framed {
  enum class Kind {
    OneByte,   // 00, or C4 in mixed mode
    Text,      // a P50 or P50Xa line, CR included
    Binary,    // a P50Xb command of the command table or the programming track
    Unknown,   // an opcode the station does not know; its length is unknown
    CutShort,  // bytes of a command that never completed
  };
  Kind kind = Kind::CutShort;
  std::vector<std::uint8_t> bytes;
  Mode mode = Mode::Mixed;                 // the mode it was framed in
  int prefix = 0;                          // Binary/Unknown: 1 with its "X"/"x"
  const CommandDescriptor* row = nullptr;  // Binary, and CutShort of a binary command
  bool programmingTrack = false;           // Binary: a row of the programming track
  bool switchesMode = false;               // Text: xZzA1 or ZzA0 changed the mode

  // The opcode and its parameters (Binary/Unknown), after any prefix.
  const std::uint8_t* body() const { return bytes.data() + prefix; }
  int bodySize() const { return static_cast<int>(bytes.size()) - prefix; }
};

// Threads: one owner; no guard.
class TraceFramer {
 public:
  explicit TraceFramer(Mode mode = Mode::Mixed) : mode_(mode) {}

  // One received byte; every command it completes or cuts off goes to `out`.
  void push(std::uint8_t byte, std::vector<Framed>& out);

  Mode mode() const { return mode_; }
  const std::vector<std::uint8_t>& held() const { return held_; }

  // What is held as a command cut short (nothing when nothing is held).
  void cutHeld(std::vector<Framed>& out);

 private:
  void pushMixed(std::uint8_t byte, std::vector<Framed>& out);
  void pushP50XOnly(std::uint8_t byte, std::vector<Framed>& out);
  bool holdsBinary() const;
  void frameBinary(int prefix, std::vector<Framed>& out);
  void completeText(std::vector<Framed>& out);
  void complete(Framed::Kind kind, std::vector<Framed>& out);
  void cutBefore(std::size_t start, std::vector<Framed>& out);

  Mode mode_;
  std::vector<std::uint8_t> held_;
};

// Frames a whole run of received bytes from `mode` on: the complete commands
// in `commands`, what is left incomplete in `rest`.
struct FramedRun {
  std::vector<Framed> commands;
  std::vector<std::uint8_t> rest;
  Mode endMode = Mode::Mixed;
};
FramedRun frameRun(const std::uint8_t* bytes, std::size_t count, Mode mode);

}  // namespace p50x::trace
