// Helpers of the serial engine tests: bytes to and from a pseudo-terminal,
// and a record of the engine's notifications.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <vector>

#include "serial/serial_port.h"
#include "support/recording.h"

namespace p50x::test {

// Reads `count` bytes from fd, waiting at most five seconds for them.
inline Bytes readBytes(int fd, std::size_t count) {
  Bytes got;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (got.size() < count && std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    std::uint8_t buffer[4096];
    const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, count - got.size()));
    if (n > 0) {
      got.insert(got.end(), buffer, buffer + n);
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      break;  // hung up: poll() would report it at once, for ever
    }
  }
  return got;
}

inline void writeBytes(int fd, const Bytes& bytes) {
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// Notifications and deliveries as the worker raised them. Threads: the
// worker adds, the test reads; mutex_ guards both lists.
class Notes {
 public:
  void add(SerialPort& port, int code) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      codes_.push_back(code);
      if (code == kSerialDataReceived) {
        deliveries_.emplace_back(port.readBuffer(), port.readBuffer() + port.bytesRead());
      }
    }
    notifyWaiters();
  }
  int count(int code) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count(codes_.begin(), codes_.end(), code));
  }
  std::vector<Bytes> deliveries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return deliveries_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<int> codes_;
  std::vector<Bytes> deliveries_;
};

}  // namespace p50x::test
