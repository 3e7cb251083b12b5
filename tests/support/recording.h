// Recording stand-ins for the seams, so tests see exactly what goes out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "diag/console.h"
#include "seams/host_sender.h"
#include "seams/reply.h"
#include "seams/traffic_log.h"

namespace p50x::test {

using Bytes = std::vector<std::uint8_t>;

class RecordingConsole final : public Console {
 public:
  void out(std::string_view text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    out_.append(text);
  }
  void err(std::string_view text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    err_.append(text);
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

// Records every message; answers at once with `result`. Thread-safe.
class RecordingHostSender final : public HostSender {
 public:
  int sendAndAwaitAnswer(const char* text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.emplace_back(text);
    if (onSend) onSend(text);
    return result;
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
  int result = 1;
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
  mutable std::mutex mutex_;
  std::string text_;
};

// Waits for a condition with a deadline instead of sleeping: tests never
// sleep to wait.
inline bool waitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds deadline = std::chrono::milliseconds(5000)) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return condition();
    std::this_thread::yield();
  }
  return true;
}

inline Bytes bytes(std::initializer_list<int> values) {
  Bytes b;
  for (int v : values) b.push_back(static_cast<std::uint8_t>(v));
  return b;
}

}  // namespace p50x::test
