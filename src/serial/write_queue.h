// The bytes waiting for the serial line: replies from the worker and typed
// keys from the console, each write kept whole and in the order accepted.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "seams/traffic_log.h"

namespace p50x {

// Threads: accept from any writer (the serial worker's replies, the console
// thread's keys); next, completed and discard from the serial worker (or from
// the console thread while no worker runs). One mutex covers the ring, the busy
// mark and the log pointer, so a write is logged and queued in one step and
// the monitor file shows the bytes in the order they reach the line.
class WriteQueue {
 public:
  // Room for replies that wait while the line is busy; a write that does not
  // fit is dropped whole.
  static constexpr std::size_t kSize = 4096;
  static constexpr int kMaxWriteLength = 255;

  // Where accepted (and dropped) bytes are logged; nullptr: not logged. Once
  // it returns, no accept uses the earlier log any more.
  void setTrafficLog(TrafficLog* log);

  // Logs the bytes as sent, then queues them whole or drops them (a null
  // pointer, a length outside 0 to 255, no room). True when the caller must
  // signal the worker to start a write: nothing was under way before.
  bool accept(const std::uint8_t* bytes, int length);

  // Worker: moves the oldest queued bytes, at most `capacity`, into `out` and
  // returns their count; -1 when no write is under way (nothing to start).
  int next(std::uint8_t* out, std::size_t capacity);

  // Worker, once a write has completed: true when more bytes wait, so the
  // worker starts the next write itself; otherwise the queue goes idle and the
  // next accept asks for a start again.
  bool completed();

  // True from an accept that asked for a start until completed() finds the
  // queue empty: writes accepted while no worker ran are still waiting.
  bool busy() const;

  // Forgets every queued byte and goes idle.
  void discard();

 private:
  mutable std::mutex mutex_;
  TrafficLog* log_ = nullptr;
  std::array<std::uint8_t, kSize> ring_{};
  std::size_t head_ = 0;
  std::size_t count_ = 0;
  bool busy_ = false;
};

}  // namespace p50x
