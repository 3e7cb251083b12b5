// Holds the callbacks of the serial worker and the host receivers until
// start-up has created everything they use, and keeps them out again from the
// moment shutdown begins.
#pragma once

#include <condition_variable>
#include <mutex>

namespace p50x {

// Threads: the console thread opens and closes it; the serial worker and both
// host receivers pass through it. One mutex and condition variable; nothing is
// held while a passing callback runs.
class StartGate {
 public:
  // Blocks while start-up is still running. True: the caller may use the
  // instances until it calls leave(). False: shutdown has begun; touch nothing.
  bool enter() {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [this] { return state_ != State::kStarting; });
    if (state_ != State::kRunning) return false;
    ++inside_;
    return true;
  }

  // As enter, but never waits: false also while start-up is still running.
  bool tryEnter() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ != State::kRunning) return false;
    ++inside_;
    return true;
  }

  void leave() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--inside_ == 0) drained_.notify_all();
  }

  // Start-up is complete: held callbacks go on.
  void open() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == State::kStarting) state_ = State::kRunning;
    ready_.notify_all();
  }

  // Shutdown begins: no callback enters any more; held ones are turned away.
  // Returns true when a callback is still inside (the caller may cut its
  // waits short before drain()).
  bool close() {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = State::kStopping;
    ready_.notify_all();
    return inside_ > 0;
  }

  // Waits until every callback that entered has left.
  void drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    drained_.wait(lock, [this] { return inside_ == 0; });
  }

 private:
  enum class State { kStarting, kRunning, kStopping };
  std::mutex mutex_;
  std::condition_variable ready_;
  std::condition_variable drained_;
  State state_ = State::kStarting;
  int inside_ = 0;
};

// Passes a callback through the gate for the length of a scope.
class GatePass {
 public:
  enum Mode { kWait, kNoWait };
  explicit GatePass(StartGate& gate, Mode mode = kWait)
      : gate_(gate), entered_(mode == kWait ? gate.enter() : gate.tryEnter()) {}
  ~GatePass() {
    if (entered_) gate_.leave();
  }
  GatePass(const GatePass&) = delete;
  GatePass& operator=(const GatePass&) = delete;
  explicit operator bool() const { return entered_; }

 private:
  StartGate& gate_;
  bool entered_;
};

}  // namespace p50x
