#include "platform/serial_transfer_posix.h"

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace p50x::platform {

void Transfer::startRead(std::uint8_t* buffer, int size) {
  clear();
  reading_ = true;
  in_ = buffer;
  wanted_ = size;
  inFlight_ = true;
}

void Transfer::startWrite(const std::uint8_t* bytes, int length) {
  clear();
  out_ = bytes;
  wanted_ = length;
  inFlight_ = true;
}

// A read of 0 bytes, or nothing to move although poll() reported a hang-up,
// means the far end is gone.
bool Transfer::advance(int fd, bool hungUp) {
  while (done_ < wanted_) {
    const auto left = static_cast<std::size_t>(wanted_ - done_);
    const ssize_t n = reading_ ? ::read(fd, in_ + done_, left) : ::write(fd, out_ + done_, left);
    if (n > 0) {
      done_ += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (hungUp) return complete(false, EIO);
      waited_ = true;
      return false;
    }
    return complete(false, n == 0 ? EIO : errno);
  }
  return complete(true, 0);
}

bool Transfer::complete(bool ok, int error) {
  inFlight_ = false;
  result_ = RequestResult{ok, done_, ok ? 0 : error, waited_};
  return true;
}

}  // namespace p50x::platform
