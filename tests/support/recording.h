// Recording stand-ins for the seams, so tests see exactly what goes out, and
// the helper that waits for what they record.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "diag/console.h"
#include "seams/host_sender.h"
#include "seams/reply.h"
#include "seams/traffic_log.h"

namespace p50x::test {

using Bytes = std::vector<std::uint8_t>;

// Wakes the helpers that wait. Every recording stand-in notifies it once it
// has recorded, so a waiting test re-checks its condition the moment
// something it may be waiting for has happened.
// Threads: any; mutex_ guards the count of notifications.
class WaitSignal {
 public:
  using Clock = std::chrono::steady_clock;

  static WaitSignal& shared() {
    static WaitSignal signal;
    return signal;
  }
  void notify() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++count_;
    }
    changed_.notify_all();
  }
  std::uint64_t count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
  }
  // Sleeps until a notification later than `seen`, or until `until`.
  void waitPast(std::uint64_t seen, Clock::time_point until) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_until(lock, until, [&] { return count_ != seen; });
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t count_ = 0;
};

// For test code whose own threads change what another thread waits for.
inline void notifyWaiters() {
  WaitSignal::shared().notify();
}

class RecordingConsole final : public Console {
 public:
  void out(std::string_view text) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      out_.append(text);
    }
    notifyWaiters();
  }
  void err(std::string_view text) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      err_.append(text);
    }
    notifyWaiters();
  }
  std::string outText() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return out_;
  }
  std::string errText() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return err_;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    out_.clear();
    err_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::string out_;
  std::string err_;
};

// Records every write as one entry.
class RecordingSink final : public ReplySink {
 public:
  void write(const std::uint8_t* bytes, int length) override {
    writes.emplace_back(bytes, bytes + (length > 0 ? length : 0));
    notifyWaiters();
  }
  // All bytes written, concatenated.
  Bytes all() const {
    Bytes b;
    for (const auto& w : writes) b.insert(b.end(), w.begin(), w.end());
    return b;
  }
  void clear() { writes.clear(); }
  // All bytes written since the last take, and forget them.
  Bytes take() {
    Bytes b = all();
    clear();
    return b;
  }
  std::vector<Bytes> writes;
};

// Records every message posted. Thread-safe.
class RecordingHostSender final : public HostSender {
 public:
  void post(const char* text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.emplace_back(text);
    notifyWaiters();
    if (onSend) onSend(text);
  }
  std::vector<std::string> messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.clear();
  }
  // The messages since the last take, and forget them.
  std::vector<std::string> take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> m;
    m.swap(messages_);
    return m;
  }
  std::function<void(const char*)> onSend;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;
};

class RecordingTrafficLog final : public TrafficLog {
 public:
  void logReceived(int count, const std::uint8_t* bytes) override { add('R', count, bytes); }
  void logSent(int count, const std::uint8_t* bytes) override { add('S', count, bytes); }
  // "R 12 S a5 5a" style transcript, one entry per call.
  std::string text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
  }

 private:
  void add(char dir, int count, const std::uint8_t* bytes) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      static const char* hex = "0123456789abcdef";
      if (!text_.empty()) text_ += ' ';
      text_ += dir;
      for (int i = 0; i < count; ++i) {
        text_ += ' ';
        text_ += hex[bytes[i] >> 4];
        text_ += hex[bytes[i] & 15];
      }
    }
    notifyWaiters();
  }
  mutable std::mutex mutex_;
  std::string text_;
};

// Waits for a condition with a deadline instead of sleeping a fixed time:
// tests never sleep to wait. It sleeps on the WaitSignal and re-checks the
// condition on every notification. What cannot notify (another process, the
// file system, a flag of the code under test) is seen at the latest after a
// pause that doubles from 1 ms to kLongestPause; the thread never spins.
inline constexpr std::chrono::milliseconds kLongestPause{32};

inline bool waitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds deadline = std::chrono::milliseconds(5000)) {
  using Clock = WaitSignal::Clock;
  WaitSignal& signal = WaitSignal::shared();
  const auto end = Clock::now() + deadline;
  std::chrono::milliseconds pause{1};
  for (;;) {
    const std::uint64_t seen = signal.count();
    if (condition()) return true;
    const auto now = Clock::now();
    if (now >= end) return false;
    signal.waitPast(seen, std::min<Clock::time_point>(end, now + pause));
    pause = std::min(pause * 2, kLongestPause);
  }
}

inline Bytes bytes(std::initializer_list<int> values) {
  Bytes b;
  for (int v : values) b.push_back(static_cast<std::uint8_t>(v));
  return b;
}

}  // namespace p50x::test
