// The host application's side of the soak: contact events in bursts of up to
// 1,000 a second (one line or several per send, on both read connections),
// answers after random delays, and every so often a fault: a restart, a
// freeze of 3 to 5 s, or one connection closed. It keeps the host's last view
// of each locomotive and turnout from the messages the bridge sent.
#pragma once

#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <shared_mutex>
#include <string>
#include <vector>

#include "contact_ledger.h"
#include "findings.h"
#include "host_simulator.h"
#include "station_model.h"
#include "stop_signal.h"

namespace p50x::soak {

// Threads: one, the host thread; start and the end checks run on the main
// thread while the host thread is not running.
class HostPlayer {
 public:
  // Every message received and every fault goes into the log at `logPath`,
  // for reading after a failure.
  HostPlayer(ContactLedger& ledger, Findings& findings, bool slowHost, std::uint32_t seed,
             const std::string& logPath);
  ~HostPlayer();

  bool start();  // on free ports
  int eventPort() const { return eventPort_; }
  int commandPort() const { return commandPort_; }

  // Faults hold `quiet` shared while they last, so a resource sample that
  // holds it alone sees the bridge between faults.
  void run(StopSignal& stop, std::shared_mutex& quiet, std::chrono::seconds faultMin,
           std::chrono::seconds faultMax);
  // The end: a prompt host with its links up; then waits until its view is
  // `expected` and records what still differs.
  void settle(const std::map<std::string, std::string>& expected);

  int faults() const { return faults_; }

 private:
  void burst();
  void fault(StopSignal& stop);
  bool restart();
  bool awaitLinks(int connectionsBefore);
  void collect();
  void log(const std::string& line);
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

  ContactLedger& ledger_;
  Findings& findings_;
  const bool slowHost_;
  std::mt19937 random_;
  std::unique_ptr<hostsim::HostSimulator> host_;
  int eventPort_ = 0;
  int commandPort_ = 0;
  std::vector<bool> occupied_ = std::vector<bool>(Layout::kContacts, false);
  std::map<std::string, std::string> view_;  // "371;name" -> the last such message
  std::ofstream log_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  int faults_ = 0;
  int nextFault_ = 0;
};

}  // namespace p50x::soak
