// The optional hex log of everything that passes on the serial line.
#pragma once

#include <cstdio>
#include <mutex>

#include "diag/console.h"
#include "seams/traffic_log.h"

namespace p50x {

// Threads: logReceived on the serial worker, logSent on the serial worker and
// the console thread, open and close on the console thread. One mutex makes
// each call (direction test, header, bytes) indivisible.
class TrafficMonitor final : public TrafficLog {
 public:
  // openFailureText is the perror text for a file that will not open; its "Ö"
  // is encoded as the platform's console expects.
  TrafficMonitor(Console& console, const char* openFailureText);
  ~TrafficMonitor() override;

  // Empty monitorFile: off, nothing printed. Otherwise "MonitorFlag=1", the
  // file opened for appending and the separator written.
  void open(const char* monitorFile);
  void close();
  bool enabled() const;

  void logReceived(int count, const std::uint8_t* bytes) override;
  void logSent(int count, const std::uint8_t* bytes) override;

 private:
  void log(int direction, int count, const std::uint8_t* bytes);

  Console& console_;
  const char* openFailureText_;
  mutable std::mutex mutex_;
  std::FILE* file_ = nullptr;
  int enabled_ = 0;
  int direction_ = -1;
};

}  // namespace p50x
