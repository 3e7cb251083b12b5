// Where replies to the control software go: the reply area of the command
// assembler and the sink behind it (the serial port's write operation).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace p50x {

// The serial line as the station's handlers see it. The real sink (the serial
// port) logs the bytes as sent and copies them before it returns.
class ReplySink {
 public:
  virtual ~ReplySink() = default;
  virtual void write(const std::uint8_t* bytes, int length) = 0;
};

// The 256-byte reply area. Every handler builds its reply from the first byte
// on and sends it with its length. Used on the serial worker thread only.
class ReplyChannel {
 public:
  static constexpr std::size_t kSize = 256;

  explicit ReplyChannel(ReplySink& sink) : sink_(sink) {}

  std::uint8_t* area() { return area_.data(); }
  const std::uint8_t* area() const { return area_.data(); }

  // Sends the first `length` bytes of the area (length <= kSize).
  void send(std::size_t length) { sink_.write(area_.data(), static_cast<int>(length)); }

  // Places the bytes at the start of the area and sends them.
  void send(std::initializer_list<std::uint8_t> bytes) {
    std::size_t n = 0;
    for (std::uint8_t b : bytes) area_[n++] = b;
    send(n);
  }

 private:
  ReplySink& sink_;
  std::array<std::uint8_t, kSize> area_{};
};

}  // namespace p50x
