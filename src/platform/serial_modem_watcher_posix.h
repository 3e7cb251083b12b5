// The modem-event wait on Linux. The kernel reports changes of the ring and
// carrier-detect lines only to a thread blocked in TIOCMIWAIT, so a small
// watcher thread sits there and completes the engine's wait request, which
// makes the wait look like an overlapped WaitCommEvent to the worker.
#pragma once

#include <linux/serial.h>
#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/serial_device.h"

namespace p50x::platform {

class EmulatedEvents;

// Threads: start(), stop(), startWait() and result() come from the worker
// while it runs and from the console thread otherwise, never both; the
// watcher thread delivers. mutex_ guards what the two share (the waiting
// request, changes not yet taken, a failure); nothing is held across the
// watcher's ioctl.
class ModemWatcher {
 public:
  enum class Start { kRunning, kNoCounters, kFailed };

  // `events` receives kWaitDoneEvent when a wait completes.
  explicit ModemWatcher(EmulatedEvents& events) : events_(events) {}
  ~ModemWatcher() { stop(); }
  ModemWatcher(const ModemWatcher&) = delete;
  ModemWatcher& operator=(const ModemWatcher&) = delete;

  // Starts watching the lines of `fd` unless already running. kNoCounters: the
  // driver keeps no line counters, so there is nothing to watch.
  Start start(int fd);
  // Ends the watcher thread; harmless when none runs.
  void stop();
  // Forgets the wait and whatever the watcher had gathered (device closed).
  void clear();

  // The wait request: completes at once when changes (or a failure) are
  // waiting, else when the next one comes; `eventMask` then holds the
  // kModemEvent* bits.
  void startWait(std::uint32_t* eventMask);
  RequestResult result();

 private:
  static void* entry(void* self);
  void watch();
  void deliver(std::uint32_t events);
  void fail(int error);

  EmulatedEvents& events_;
  pthread_t thread_{};
  bool running_ = false;
  int fd_ = -1;  // our own duplicate, so stop() can swap it for /dev/null
  std::atomic<bool> stop_{false};
  serial_icounter_struct startCounts_{};

  std::mutex mutex_;
  std::uint32_t* target_ = nullptr;  // guarded by mutex_
  std::uint32_t pending_ = 0;        // guarded by mutex_
  int error_ = 0;                    // guarded by mutex_
  RequestResult result_;             // guarded by mutex_
};

}  // namespace p50x::platform
