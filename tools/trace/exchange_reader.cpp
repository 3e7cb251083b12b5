#include "exchange_reader.h"

#include <algorithm>

#include "reply_form.h"
#include "trace_words.h"

namespace p50x::trace {

namespace {
// Commands are padded to this column, so the replies line up.
constexpr std::size_t kReplyColumn = 40;
// A command is at most 79 bytes long; a piece cut off and the command behind
// it lie within this many bytes of the reply.
constexpr std::size_t kResyncWindow = 96;

std::string padded(std::string line) {
  line.resize(std::max(line.size() + 1, kReplyColumn), ' ');
  return line;
}

// Commands that the station answers whenever it takes them: one without a
// reply in the file is odd. In P50X-only mode that is every binary command.
bool alwaysAnswered(const Framed& c) {
  if (c.kind == Framed::Kind::OneByte) return true;
  if (c.kind == Framed::Kind::Text) return false;
  if (c.mode == Mode::P50XOnly) return true;
  if (c.kind != Framed::Kind::Binary || c.programmingTrack) return false;
  switch (c.body()[0]) {
    case 0x80:  // XLok
    case 0x81:  // XLokX
    case 0x85:  // XLokCfg
    case 0x88:  // XFunc
    case 0x99:  // XSensOff
    case 0xA0:  // XVer
    case 0xA2:  // XStatus
    case 0xA6:  // XPwrOff
    case 0xA7:  // XPwrOn
    case 0xC8:  // XEvent
    case 0xC9:  // XEvtLok
    case 0xCA:  // XEvtTrn
    case 0xCB:  // XEvtSen
      return true;
    default:
      return false;
  }
}

class Writer {
 public:
  Writer(const TraceOptions& options, Reading& out) : options_(options), out_(out) {}

  void line(const Framed& c, const std::string& reply, const std::string& replyHex) {
    std::string text = "R " + commandWords(c);
    if (!reply.empty()) text = padded(text) + options_.arrow + " " + reply;
    if (options_.hex) {
      text += "  [" + hexBytes(c.bytes.data(), c.bytes.size());
      if (!replyHex.empty()) text += " | " + replyHex;
      text += "]";
    }
    out_.lines.push_back(text);
    if (c.switchesMode) {
      out_.lines.push_back(c.mode == Mode::Mixed ? "-- P50X-only mode --" : "-- mixed mode --");
    }
  }

  void noReply(const std::vector<Framed>& commands, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      const Framed& c = commands[i];
      if (c.kind == Framed::Kind::CutShort) {
        line(c, "", "");
        ++out_.oddities;
      } else {
        line(c, "no reply", "");
        out_.exchanges.push_back({c, {}});
        if (alwaysAnswered(c)) ++out_.oddities;
      }
    }
  }

  void cut(const Bytes& rest, Mode mode) {
    if (rest.empty()) return;
    TraceFramer framer(mode);
    std::vector<Framed> pieces;
    for (std::uint8_t b : rest) framer.push(b, pieces);
    framer.cutHeld(pieces);
    noReply(pieces, pieces.size());
  }

  void withReply(const Framed& c, const Bytes& sent, std::size_t length) {
    std::string reply = replyWords(c, sent.data(), length);
    std::size_t used = length;
    if (replyLoggedTwice(c, sent.data(), length) && sent.size() >= 2 * length &&
        std::equal(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(length),
                   sent.begin() + static_cast<std::ptrdiff_t>(length))) {
      reply += " (logged twice)";
      used = 2 * length;
    }
    line(c, reply, hexBytes(sent.data(), used));
    out_.exchanges.push_back(
        {c, Bytes(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(length))});
    if (used < sent.size()) readUnpaired(sent, used, out_);
  }

  void unexpected(const Framed& c, const Bytes& sent) {
    const std::string hex = hexBytes(sent.data(), sent.size());
    line(c, "?? " + hex + " (unexpected)", hex);
    // Bytes of no form the command has: what it did is not known.
    out_.exchanges.push_back({c, {}});
    ++out_.oddities;
  }

 private:
  const TraceOptions& options_;
  Reading& out_;
};

// Pieces cut off and commands left without the reply they always get; the
// last command of a run that is answered does not count.
std::size_t oddCount(const FramedRun& run, bool lastAnswered) {
  std::size_t count = run.rest.empty() ? 0 : 1;
  const std::size_t n = run.commands.size() - (lastAnswered && !run.commands.empty() ? 1 : 0);
  for (std::size_t i = 0; i < n; ++i) {
    const Framed& f = run.commands[i];
    if (f.kind == Framed::Kind::CutShort || alwaysAnswered(f)) ++count;
  }
  return count;
}

// The split of the received bytes that ends with a command the sent bytes
// answer and leaves the fewest oddities; 0 when there is none.
std::size_t bestSplit(const Bytes& received, const Bytes& sent, Mode mode) {
  const std::size_t n = received.size();
  const std::size_t start = n > kResyncWindow ? n - kResyncWindow : 1;
  std::size_t best = 0;
  std::size_t bestCuts = 0;
  for (std::size_t k = start; k < n; ++k) {
    const FramedRun head = frameRun(received.data(), k, mode);
    const FramedRun tail = frameRun(received.data() + k, n - k, head.endMode);
    if (!tail.rest.empty() || tail.commands.empty()) continue;
    if (replyLength(tail.commands.back(), sent.data(), sent.size()) < 0) continue;
    const std::size_t cuts = oddCount(head, false) + oddCount(tail, true);
    if (best == 0 || cuts < bestCuts) {
      best = k;
      bestCuts = cuts;
    }
  }
  return best;
}

// Whether the sent bytes hold the whole reply and nothing more can belong to it.
bool wholeReply(const Framed& last, const Bytes& sent, std::size_t length) {
  if (!replyLoggedTwice(last, sent.data(), length)) return sent.size() == length;
  // The second copy of a reply logged twice may still be on its way.
  return sent.size() == 2 * length &&
         std::equal(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(length),
                    sent.begin() + static_cast<std::ptrdiff_t>(length));
}
}  // namespace

Outcome readExchange(const Bytes& received, const Bytes& sent, Mode mode, TraceDecoder::Close how,
                     bool mayDefer, const TraceOptions& options, Reading& out) {
  using Close = TraceDecoder::Close;
  out.endMode = mode;
  if (received.empty()) {
    if (!sent.empty()) readUnpaired(sent, 0, out);
    return sent.empty() ? Outcome::Paired : Outcome::Unpaired;
  }
  const FramedRun run = frameRun(received.data(), received.size(), mode);
  Writer write(options, out);
  if (sent.empty()) {
    if (how == Close::Settle) return Outcome::Waiting;
    write.noReply(run.commands, run.commands.size());
    out.endMode = run.endMode;
    if (how == Close::Idle) {
      out.keep = run.rest;
    } else {
      write.cut(run.rest, run.endMode);
    }
    return Outcome::Paired;
  }
  // The usual case: the received bytes end with a complete command and the
  // sent bytes start with a reply of its form.
  if (run.rest.empty() && !run.commands.empty()) {
    const Framed& last = run.commands.back();
    const int length = replyLength(last, sent.data(), sent.size());
    if (length >= 0 &&
        (how != Close::Settle || wholeReply(last, sent, static_cast<std::size_t>(length)))) {
      write.noReply(run.commands, run.commands.size() - 1);
      write.withReply(last, sent, static_cast<std::size_t>(length));
      out.endMode = run.endMode;
      return Outcome::Paired;
    }
  }
  if (how == Close::Settle) return Outcome::Waiting;
  if (!run.rest.empty()) {
    if (bestSplit(received, sent, mode) == 0) {
      readHeld(received, sent, mode, options, out);
      return Outcome::Unpaired;
    }
    if (mayDefer) return Outcome::Ambiguous;
  }
  if (readResynchronised(received, sent, mode, options, out)) return Outcome::Paired;
  if (!run.rest.empty()) {
    readHeld(received, sent, mode, options, out);
    return Outcome::Unpaired;
  }
  // A complete command answered in a form it does not have.
  write.noReply(run.commands, run.commands.size() - 1);
  write.unexpected(run.commands.back(), sent);
  out.endMode = run.endMode;
  return Outcome::Unpaired;
}

bool readResynchronised(const Bytes& received, const Bytes& sent, Mode mode,
                        const TraceOptions& options, Reading& out) {
  const std::size_t split = bestSplit(received, sent, mode);
  if (split == 0) return false;
  const std::size_t n = received.size();
  const FramedRun head = frameRun(received.data(), split, mode);
  const FramedRun tail = frameRun(received.data() + split, n - split, head.endMode);
  Writer write(options, out);
  write.noReply(head.commands, head.commands.size());
  write.cut(head.rest, head.endMode);
  write.noReply(tail.commands, tail.commands.size() - 1);
  const Framed& last = tail.commands.back();
  write.withReply(last, sent,
                  static_cast<std::size_t>(replyLength(last, sent.data(), sent.size())));
  out.endMode = tail.endMode;
  return true;
}

void readHeld(const Bytes& received, const Bytes& sent, Mode mode, const TraceOptions& options,
              Reading& out) {
  const FramedRun run = frameRun(received.data(), received.size(), mode);
  Writer write(options, out);
  write.noReply(run.commands, run.commands.size());
  readUnpaired(sent, 0, out);
  out.endMode = run.endMode;
  out.keep = run.rest;
}

void readUnpaired(const Bytes& sent, std::size_t from, Reading& out) {
  if (from >= sent.size()) return;
  out.lines.push_back(padded("S " + hexBytes(sent.data() + from, sent.size() - from)) +
                      "not a reply");
  ++out.oddities;
}

}  // namespace p50x::trace
