// The control software's side of the soak: the poll loop of real software
// (XStatus, XEvent, XEvtSen, XEvtLok, XEvtTrn five times a second) and
// commands at random between the polls, in mixed mode and P50X-only phases,
// each reply checked against the station model and timed; now and then the
// serial adapter is replugged.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <shared_mutex>
#include <string>

#include "contact_ledger.h"
#include "e2e/bridge_process.h"
#include "findings.h"
#include "station_model.h"
#include "stop_signal.h"

namespace p50x::soak {

struct ControlFigures {
  long commands = 0;
  double maxReplyMs = 0;
  int replugs = 0;
  int modeSwitches = 0;
};

// Threads: one, the control thread (the figures are read once it has ended).
class ControlProgram {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kReplyLimit{50};

  ControlProgram(const Layout& layout, StationModel& model, ContactLedger& ledger,
                 Findings& findings, test::BridgeProcess& bridge, std::string portLink,
                 std::uint32_t seed);

  // Makes the first pseudo-terminal and the port's link to it.
  bool plugIn();
  // Until the stop: polls, commands, mode switches, and a replug after a
  // time drawn from the range each time, holding `quiet` shared meanwhile.
  void run(StopSignal& stop, std::shared_mutex& quiet, std::chrono::seconds replugMin,
           std::chrono::seconds replugMax);
  // Polls until the host is done, once more, and then the line must stay
  // silent.
  void finish(const std::atomic<bool>& hostDone);

  const ControlFigures& figures() const { return figures_; }

 private:
  void poll();
  void randomCommand();
  void switchMode();
  void cutShort();
  void replug();
  // A binary command with the prefix the mode takes (X or x in mixed mode,
  // mostly none in P50X-only mode).
  Bytes binary(std::initializer_list<std::uint8_t> bytes);
  void exchange(const Bytes& command, const char* name);
  bool feedbackMatches(const Expectation& e, const Bytes& got, bool p50xOnly,
                       Clock::time_point asked, std::string& why);
  void resync();
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

  const Layout& layout_;
  StationModel& model_;
  ContactLedger& ledger_;
  Findings& findings_;
  test::BridgeProcess& bridge_;
  const std::string portLink_;
  std::unique_ptr<test::ControlLine> line_;
  std::mt19937 random_;
  ControlFigures figures_;
  Clock::time_point nextPoll_{};
};

}  // namespace p50x::soak
