// The monitor file on a small disk of its own (a tmpfs) that fills up once
// and is freed again: the bridge must say so once, keep answering, and say
// when it writes again. Mounting needs root; elsewhere the item is skipped.
#pragma once

#include <chrono>
#include <string>

#include "e2e/bridge_process.h"
#include "findings.h"
#include "stop_signal.h"

namespace p50x::soak {

// Threads: the main thread mounts and unmounts; one disk thread runs.
class MonitorDisk {
 public:
  ~MonitorDisk();
  // Mounts the disk at `dir`; false, with the reason in note(), when that is
  // not allowed here.
  bool mount(const std::string& dir);
  const std::string& note() const { return note_; }
  std::string monitorFile() const { return dir_ + "/monitor.txt"; }

  // Fills the disk at `fillAt` and frees it a few seconds later; meanwhile
  // keeps the monitor file small enough that only the filling fills it.
  void run(StopSignal& stop, test::BridgeProcess& bridge, Findings& findings,
           std::chrono::steady_clock::time_point fillAt);
  bool filledAndFreed() const { return filledAndFreed_; }
  void unmount();

 private:
  void fill();
  void trimMonitorFile();

  std::string dir_;
  std::string note_;
  bool mounted_ = false;
  bool filledAndFreed_ = false;
};

}  // namespace p50x::soak
