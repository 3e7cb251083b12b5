// Seam through which the serial side reports its traffic to the monitor file.
#pragma once

#include <cstdint>

namespace p50x {

// Entered from the serial worker (received bytes, replies) and the console
// thread (typed keys); implementations make each call one indivisible step.
class TrafficLog {
 public:
  virtual ~TrafficLog() = default;
  virtual void logReceived(int count, const std::uint8_t* bytes) = 0;
  virtual void logSent(int count, const std::uint8_t* bytes) = 0;
};

}  // namespace p50x
