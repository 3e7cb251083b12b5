#include "monitor_reader.h"

namespace p50x::trace {

namespace {
// Every start of the bridge writes this line; every byte is two hex digits.
constexpr std::string_view kSeparator = "-------------";

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isSpace(char c) {
  // Windows builds write their line ends as CR LF.
  return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}
}  // namespace

void MonitorReader::feed(std::string_view text) {
  for (const char c : text) {
    if (isSpace(c)) {
      if (!word_.empty()) {
        word(word_);
        word_.clear();
      }
    } else {
      word_ += c;
    }
  }
}

void MonitorReader::finish() {
  if (!word_.empty()) word(word_);
  word_.clear();
}

void MonitorReader::reset() {
  word_.clear();
  direction_ = Direction::None;
}

void MonitorReader::word(std::string_view text) {
  if (text == "R") {
    direction_ = Direction::Received;
    return;
  }
  if (text == "S") {
    direction_ = Direction::Sent;
    return;
  }
  if (text == kSeparator) {
    direction_ = Direction::None;
    events_.bridgeStarted();
    return;
  }
  const int high = text.size() == 2 ? hexDigit(text[0]) : -1;
  const int low = text.size() == 2 ? hexDigit(text[1]) : -1;
  if (high < 0 || low < 0 || direction_ == Direction::None) {
    events_.unreadable(text);
    return;
  }
  const auto byte = static_cast<std::uint8_t>(high * 16 + low);
  if (direction_ == Direction::Received) {
    events_.received(byte);
  } else {
    events_.sent(byte);
  }
}

}  // namespace p50x::trace
