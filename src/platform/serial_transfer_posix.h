// One read or one write on a non-blocking descriptor, carried on until its
// full count has moved: what an overlapped request with zero time-outs does
// on Windows, where a read completes only when all its bytes have arrived.
#pragma once

#include <cstdint>

#include "platform/serial_device.h"

namespace p50x::platform {

// Threads: the worker while it runs, the console thread otherwise; never
// both (see SerialDevice). No guard of its own.
class Transfer {
 public:
  void startRead(std::uint8_t* buffer, int size);
  void startWrite(const std::uint8_t* bytes, int length);
  void clear() { *this = Transfer{}; }

  // Started and not yet complete.
  bool inFlight() const { return inFlight_; }

  // Moves what the descriptor takes now. True when the transfer has just
  // completed, well or not (see result()); false while it still waits for the
  // descriptor. `hungUp` is poll()'s word that the far end is gone: a
  // transfer that can move nothing then fails instead of waiting for ever.
  bool advance(int fd, bool hungUp);

  RequestResult result() const { return result_; }

 private:
  bool complete(bool ok, int error);

  bool reading_ = false;
  std::uint8_t* in_ = nullptr;         // read target
  const std::uint8_t* out_ = nullptr;  // write source
  int wanted_ = 0;
  int done_ = 0;
  bool inFlight_ = false;
  bool waited_ = false;  // the descriptor had nothing to move at some point
  RequestResult result_;
};

}  // namespace p50x::platform
