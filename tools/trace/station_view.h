// The station's state as the trace has seen it: what the commands of the
// latest run of the bridge changed, and what its status replies told.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "trace_decoder.h"

namespace p50x::trace {

// Threads: one owner; no guard.
//
// Only what the station carried out counts: a command changes the view when
// its reply says so (00; 41 for a locomotive refused its speed while halted,
// which keeps the rest), never when it went unanswered. A status reply is
// the station's own word and corrects the view of what it names. Each start
// of the bridge begins again from the station's state at start.
class StationView final : public ExchangeEvents {
 public:
  struct Loco {
    int speed = 0;  // the station's 0 to 127 (1: emergency stop)
    int step = -1;  // an XLokX step whose speed the trace cannot convert
    bool forward = true;
    bool light = false;
    std::uint32_t functions = 0;  // bit 0 = F1 ... bit 27 = F28
  };

  void exchanged(const Exchange& exchange) override;
  void bridgeStarted() override;

  // Locomotive names by address (low byte + 256 * high byte), for the lines.
  void setLocoNames(std::map<int, std::string> names) { names_ = std::move(names); }

  // The state in lines: power and halt, mode, the locomotives commanded, the
  // turnouts switched and the contacts reported occupied.
  std::vector<std::string> lines() const;

  bool powerOn() const { return powerOn_; }
  bool halted() const { return halted_; }
  const std::map<int, Loco>& locos() const { return locos_; }

 private:
  void binary(const Framed& command, const std::vector<std::uint8_t>& reply);
  // XHalt or its text form: the halt bit, and every locomotive stops.
  void halt();
  void locoCommand(std::uint8_t opcode, int address, const std::uint8_t* p,
                   const std::vector<std::uint8_t>& reply);
  void locoStatus(std::uint8_t opcode, int address, const std::vector<std::uint8_t>& reply);

  bool powerOn_ = true;  // the station starts with track power on
  bool halted_ = false;
  Mode mode_ = Mode::Mixed;
  std::map<int, Loco> locos_;              // by address, those commanded
  std::map<int, bool> turnouts_;           // by address, green; those switched
  std::map<int, std::uint16_t> contacts_;  // by module; bit 0 = contact 1
  std::map<int, std::string> names_;
};

}  // namespace p50x::trace
