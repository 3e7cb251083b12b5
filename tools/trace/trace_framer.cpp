#include "trace_framer.h"

#include <cstring>

namespace p50x::trace {

namespace {
constexpr std::uint8_t kCr = 0x0D;
// The station holds at most 79 bytes of one command; the byte that would be
// the 80th is dropped together with them.
constexpr std::size_t kMaxHeld = 79;

bool isPrefix(std::uint8_t byte) {
  return byte == 'X' || byte == 'x';
}
bool isOpcode(std::uint8_t byte) {
  return (byte & 0x80) != 0;
}

bool lineIs(const std::vector<std::uint8_t>& held, std::size_t from, const char* text) {
  const std::size_t length = std::strlen(text);
  return held.size() - from == length && std::memcmp(held.data() + from, text, length) == 0;
}

const CommandDescriptor* rowFor(std::uint8_t opcode, bool& programmingTrack) {
  programmingTrack = false;
  if (const CommandDescriptor* row = findCommand(opcode)) return row;
  const CommandDescriptor* row = findProgrammingTrackCommand(opcode);
  programmingTrack = row != nullptr;
  return row;
}
}  // namespace

void TraceFramer::push(std::uint8_t byte, std::vector<Framed>& out) {
  if (mode_ == Mode::Mixed) {
    pushMixed(byte, out);
  } else {
    pushP50XOnly(byte, out);
  }
}

// The station reads one byte per delivery, so 00 and C4 as a first byte are
// always commands of their own here.
void TraceFramer::pushMixed(std::uint8_t byte, std::vector<Framed>& out) {
  // An opcode after an "X" inside held text starts a binary command; the text
  // before it never got its CR.
  if (isOpcode(byte) && held_.size() >= 2 && !holdsBinary() && isPrefix(held_.back())) {
    cutBefore(held_.size() - 1, out);
  }
  if (held_.size() >= kMaxHeld) {
    held_.push_back(byte);
    cutHeld(out);
    return;
  }
  held_.push_back(byte);
  const std::uint8_t first = held_[0];
  if (held_.size() == 1 && (first == 0x00 || first == 0xC4)) {
    complete(Framed::Kind::OneByte, out);
  } else if (isPrefix(first) && held_.size() >= 2 && isOpcode(held_[1])) {
    frameBinary(1, out);
  } else if (byte == kCr) {
    completeText(out);
  }
}

void TraceFramer::pushP50XOnly(std::uint8_t byte, std::vector<Framed>& out) {
  // Text is 7-bit: an opcode ends a line that never got its CR; an "X" right
  // before the opcode is its prefix.
  if (!held_.empty() && !holdsBinary() && isOpcode(byte)) {
    const std::size_t last = held_.size() - 1;
    if (!isPrefix(held_[last])) {
      cutBefore(held_.size(), out);
    } else if (last > 0) {
      cutBefore(last, out);
    }
  }
  if (held_.size() >= kMaxHeld) {
    held_.push_back(byte);
    cutHeld(out);
    return;
  }
  held_.push_back(byte);
  if (held_.size() == 1 && byte == 0x00) {
    complete(Framed::Kind::OneByte, out);
  } else if (holdsBinary()) {
    frameBinary(isPrefix(held_[0]) ? 1 : 0, out);
  } else if (byte == kCr) {
    completeText(out);
  }
}

bool TraceFramer::holdsBinary() const {
  if (held_.empty()) return false;
  if (mode_ == Mode::P50XOnly && isOpcode(held_[0])) return true;
  return isPrefix(held_[0]) && held_.size() >= 2 && isOpcode(held_[1]);
}

void TraceFramer::frameBinary(int prefix, std::vector<Framed>& out) {
  const auto at = static_cast<std::size_t>(prefix);
  if (held_.size() <= at) return;
  bool programmingTrack = false;
  const CommandDescriptor* row = rowFor(held_[at], programmingTrack);
  if (row == nullptr) {
    Framed f;
    f.kind = Framed::Kind::Unknown;
    f.prefix = prefix;
    f.mode = mode_;
    f.bytes.swap(held_);
    out.push_back(std::move(f));
    return;
  }
  // lastIndex counts the "X" as index 0: without it the command is a byte shorter.
  if (held_.size() < static_cast<std::size_t>(row->lastIndex + prefix)) return;
  Framed f;
  f.kind = Framed::Kind::Binary;
  f.prefix = prefix;
  f.row = row;
  f.programmingTrack = programmingTrack;
  f.mode = mode_;
  f.bytes.swap(held_);
  out.push_back(std::move(f));
}

void TraceFramer::completeText(std::vector<Framed>& out) {
  Framed f;
  f.kind = Framed::Kind::Text;
  f.mode = mode_;
  if (mode_ == Mode::Mixed) {
    if (lineIs(held_, 0, "xZzA1\r") || lineIs(held_, 0, "XZzA1\r")) {
      mode_ = Mode::P50XOnly;
      f.switchesMode = true;
    }
  } else {
    const std::size_t from = isPrefix(held_[0]) ? 1 : 0;
    if (lineIs(held_, from, "ZzA0\r")) {
      mode_ = Mode::Mixed;
      f.switchesMode = true;
    }
  }
  f.bytes.swap(held_);
  out.push_back(std::move(f));
}

void TraceFramer::complete(Framed::Kind kind, std::vector<Framed>& out) {
  Framed f;
  f.kind = kind;
  f.mode = mode_;
  f.bytes.swap(held_);
  out.push_back(std::move(f));
}

void TraceFramer::cutBefore(std::size_t start, std::vector<Framed>& out) {
  std::vector<std::uint8_t> kept(held_.begin() + static_cast<std::ptrdiff_t>(start), held_.end());
  held_.resize(start);
  cutHeld(out);
  held_.swap(kept);
}

void TraceFramer::cutHeld(std::vector<Framed>& out) {
  if (held_.empty()) return;
  Framed f;
  f.kind = Framed::Kind::CutShort;
  f.mode = mode_;
  if (holdsBinary()) {
    f.prefix = isPrefix(held_[0]) ? 1 : 0;
    bool programmingTrack = false;
    f.row = rowFor(held_[static_cast<std::size_t>(f.prefix)], programmingTrack);
  }
  f.bytes.swap(held_);
  held_.clear();
  out.push_back(std::move(f));
}

FramedRun frameRun(const std::uint8_t* bytes, std::size_t count, Mode mode) {
  TraceFramer framer(mode);
  FramedRun run;
  for (std::size_t i = 0; i < count; ++i) framer.push(bytes[i], run.commands);
  run.rest = framer.held();
  run.endMode = framer.mode();
  return run;
}

}  // namespace p50x::trace
