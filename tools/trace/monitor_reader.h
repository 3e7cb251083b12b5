// Reads the text of a monitor file as it comes, in pieces of any size, and
// hands on what it holds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace p50x::trace {

class MonitorEvents {
 public:
  virtual ~MonitorEvents() = default;
  virtual void received(std::uint8_t byte) = 0;  // on an "R" line
  virtual void sent(std::uint8_t byte) = 0;      // on an "S" line
  virtual void bridgeStarted() = 0;              // the line of hyphens of a new start
  virtual void unreadable(std::string_view text) = 0;
};

// Threads: one owner; no guard.
class MonitorReader {
 public:
  explicit MonitorReader(MonitorEvents& events) : events_(events) {}

  void feed(std::string_view text);
  // The end of the text: a word it cuts off is taken as it is.
  void finish();
  // Forgets a word cut off by the end of the last piece (the file was read
  // again from its start).
  void reset();

 private:
  void word(std::string_view text);

  enum class Direction { None, Received, Sent };
  MonitorEvents& events_;
  std::string word_;
  Direction direction_ = Direction::None;
};

}  // namespace p50x::trace
