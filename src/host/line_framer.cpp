#include "host/line_framer.h"

#include <cstring>

namespace p50x {

int LineFramer::feed(const char* bytes, std::size_t count, const Deliver& deliver) {
  if (bytes == nullptr || count == 0) return 0;
  if (!linesSeen_) {
    if (std::memchr(bytes, '\n', count) == nullptr) {
      // A host that has never ended a message with a line feed sends one
      // message per send: the receive is the message, as it always was.
      const std::size_t n = count < kMaxLine ? count : kMaxLine;
      std::memcpy(line_, bytes, n);
      line_[n] = '\0';
      deliver(line_, static_cast<int>(n));
      return 0;
    }
    linesSeen_ = true;
  }

  int overlong = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const char c = bytes[i];
    if (c == '\n') {
      if (droppingRest_) {
        droppingRest_ = false;
      } else {
        deliverLine(deliver);
      }
      length_ = 0;
      continue;
    }
    if (droppingRest_) continue;
    if (length_ == kMaxLine) {
      line_[length_] = '\0';
      deliver(line_, static_cast<int>(length_));
      length_ = 0;
      droppingRest_ = true;
      ++overlong;
      continue;
    }
    line_[length_++] = c;
  }
  return overlong;
}

void LineFramer::deliverLine(const Deliver& deliver) {
  std::size_t n = length_;
  if (n > 0 && line_[n - 1] == '\r') --n;
  // A line end alone carries no message; passing it on would only raise the
  // unknown-event notice for code 0.
  if (n == 0) return;
  line_[n] = '\0';
  deliver(line_, static_cast<int>(n));
}

}  // namespace p50x
