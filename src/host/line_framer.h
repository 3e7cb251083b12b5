// Cuts what a read connection receives into host messages. TCP keeps no
// boundaries: two events sent back to back may arrive in one receive, and one
// event may arrive in two. A line feed (or CR LF) ends a message.
#pragma once

#include <cstddef>
#include <functional>

namespace p50x {

// Threads: one per read connection, fed by that connection's receiver only.
// No guard needed.
//
// A connection that has never sent a line feed keeps the classic rule, one
// receive is one message, so hosts that send bare messages with pauses between
// them still work. From its first line feed on, every line is a message of its
// own and bytes after the last line end wait for the next receive. A line
// that grows beyond kMaxLine bytes without a line end is passed on as it
// stands and the rest of it, up to its line end, is dropped.
class LineFramer {
 public:
  static constexpr std::size_t kMaxLine = 256;

  // One message, zero-terminated at text[length] (the text may be changed by
  // the receiver of it; it is only valid during the call).
  using Deliver = std::function<void(char* text, int length)>;

  // Feeds one receive. Returns the number of overlong lines found in it, so
  // the caller can say so once for each.
  int feed(const char* bytes, std::size_t count, const Deliver& deliver);

  // True once the connection has shown that it ends its messages with line
  // feeds.
  bool linesSeen() const { return linesSeen_; }
  // Bytes held for the next receive.
  std::size_t held() const { return length_; }

 private:
  void deliverLine(const Deliver& deliver);

  bool linesSeen_ = false;
  bool droppingRest_ = false;  // an overlong line was passed on; drop to its line end
  std::size_t length_ = 0;
  char line_[kMaxLine + 1] = {};
};

}  // namespace p50x
