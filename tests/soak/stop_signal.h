// The end of the soak, as something its threads wait on: a pause between two
// actions ends at once when the soak stops.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace p50x::soak {

// Threads: any; mutex_ guards the flag.
class StopSignal {
 public:
  using Clock = std::chrono::steady_clock;
  // Waits until `until`; false when the stop came first.
  bool pauseUntil(Clock::time_point until) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !changed_.wait_until(lock, until, [this] { return stopped_; });
  }
  bool pause(Clock::duration time) { return pauseUntil(Clock::now() + time); }
  void stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopped_ = true;
    }
    changed_.notify_all();
  }
  bool stopped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopped_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool stopped_ = false;
};

}  // namespace p50x::soak
