// The optional hex log of everything that passes on the serial line.
#pragma once

#include <cstddef>
#include <cstdio>
#include <mutex>

#include "diag/console.h"
#include "seams/traffic_log.h"

namespace p50x {

// Threads: logReceived on the serial worker, logSent on the serial worker and
// the console thread, open and close on the console thread. One mutex makes
// each call (direction test, header, bytes) indivisible.
//
// A write that fails (a full disk, a file grown to its limit) is said once on
// the console with the reason; logging goes on being tried, each call then
// flushed at once so the first one that reaches the file again is known, and
// that is said once too. The serial line is never held up by the file.
class TrafficMonitor final : public TrafficLog {
 public:
  // openFailureText is the perror text for a file that will not open; its "Ö"
  // is encoded as the platform's console expects.
  TrafficMonitor(Console& console, const char* openFailureText);
  ~TrafficMonitor() override;

  // Empty monitorFile: off, nothing printed. Otherwise "MonitorFlag=1", the
  // file opened for appending and the separator written.
  void open(const char* monitorFile);
  // The file of a monitor, opened for appending apart from open() and on any
  // thread (opening may block on a path that hangs): the file, or null and the
  // error number.
  struct OpenedFile {
    std::FILE* file = nullptr;
    int error = 0;
  };
  static OpenedFile openFile(const char* monitorFile);
  // As open(monitorFile), with its file opened beforehand by openFile; the file
  // is taken over.
  void open(const char* monitorFile, OpenedFile opened);
  void close();
  bool enabled() const;

  void logReceived(int count, const std::uint8_t* bytes) override;
  void logSent(int count, const std::uint8_t* bytes) override;

 private:
  void log(int direction, int count, const std::uint8_t* bytes);
  void put(const char* text, std::size_t length);
  // Reports a change between failing and succeeding writes, once each way.
  void settleWrites();

  Console& console_;
  const char* openFailureText_;
  mutable std::mutex mutex_;
  std::FILE* file_ = nullptr;
  int enabled_ = 0;
  int direction_ = -1;
  int callError_ = 0;     // first write error of the call in progress
  bool failing_ = false;  // a write error has been reported; no write has succeeded since
};

}  // namespace p50x
