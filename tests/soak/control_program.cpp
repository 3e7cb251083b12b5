#include "control_program.h"

#include <unistd.h>

#include <cstdio>
#include <thread>

#include "process_sample.h"
#include "support/recording.h"

namespace p50x::soak {

namespace {
using namespace std::chrono_literals;
constexpr auto kPollEvery = 200ms;
constexpr auto kCommandEvery = 1400us;  // about 700 commands a second
// What control software waits for a reply before it gives up.
constexpr auto kReadTimeout = 1s;
// Longer than the 200 ms after which the station drops a command cut short.
constexpr auto kCutShortPause = 300ms;

double millisecondsSince(ControlProgram::Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(ControlProgram::Clock::now() - t).count();
}
}  // namespace

ControlProgram::ControlProgram(const Layout& layout, StationModel& model, ContactLedger& ledger,
                               Findings& findings, test::BridgeProcess& bridge,
                               std::string portLink, std::uint32_t seed)
    : layout_(layout),
      model_(model),
      ledger_(ledger),
      findings_(findings),
      bridge_(bridge),
      portLink_(std::move(portLink)),
      random_(seed) {}

bool ControlProgram::plugIn() {
  auto line = std::make_unique<test::ControlLine>();
  std::string farEnd;
  if (!line->openPseudoTerminal(farEnd)) return false;
  // The new link replaces the old one in one step, as a device node comes back.
  const std::string next = portLink_ + ".next";
  ::unlink(next.c_str());
  if (::symlink(farEnd.c_str(), next.c_str()) != 0 ||
      std::rename(next.c_str(), portLink_.c_str()) != 0) {
    return false;
  }
  line_ = std::move(line);
  return true;
}

void ControlProgram::run(StopSignal& stop, std::shared_mutex& quiet, std::chrono::seconds replugMin,
                         std::chrono::seconds replugMax) {
  const auto draw = [&](std::chrono::seconds low, std::chrono::seconds high) {
    return std::chrono::seconds(
        std::uniform_int_distribution<long>(low.count(), high.count())(random_));
  };
  auto nextReplug = Clock::now() + draw(replugMin, replugMax);
  auto nextSwitch = Clock::now() + draw(5s, 15s);
  nextPoll_ = Clock::now();
  auto nextCommand = Clock::now();
  while (!stop.stopped()) {
    const auto now = Clock::now();
    if (now >= nextReplug) {
      std::shared_lock<std::shared_mutex> replugging(quiet);
      replug();
      nextReplug = Clock::now() + draw(replugMin, replugMax);
    } else if (now >= nextSwitch) {
      switchMode();
      nextSwitch = Clock::now() + draw(5s, 15s);
    } else if (now >= nextPoll_) {
      poll();
    } else {
      // Paced, not as fast as the line goes: the soak is about a long evening
      // of busy control software, not about the throughput of the pty.
      std::this_thread::sleep_until(std::min(nextPoll_, nextCommand));
      nextCommand = std::max(nextCommand + kCommandEvery, Clock::now());
      randomCommand();
    }
  }
}

void ControlProgram::finish(const std::atomic<bool>& hostDone) {
  // The host's last burst waits to be seen (by a bridge that still runs).
  if (!sampleProcess(bridge_.pid()).running) return;
  while (!hostDone) {
    std::this_thread::sleep_until(nextPoll_);
    poll();
  }
  poll();
  std::vector<std::uint8_t> extra = line_->receive(4096, 300ms);
  if (!extra.empty())
    findings_.add(Findings::kWrong, "bytes after the last reply", "nothing", hex(extra));
}

void ControlProgram::poll() {
  nextPoll_ = Clock::now() + kPollEvery;
  exchange(binary({0xA2}), "XStatus");
  exchange(binary({0xC8}), "XEvent");
  exchange(binary({0xCB}), "XEvtSen");
  exchange(binary({0xC9}), "XEvtLok");
  exchange(binary({0xCA}), "XEvtTrn");
}

void ControlProgram::switchMode() {
  const std::string line = model_.p50xOnly() ? "ZzA0\r" : (pick(2) == 0 ? "xZzA1\r" : "XZzA1\r");
  exchange(Bytes(line.begin(), line.end()), model_.p50xOnly() ? "ZzA0" : "ZzA1");
  ++figures_.modeSwitches;
}

Bytes ControlProgram::binary(std::initializer_list<std::uint8_t> bytes) {
  std::uint8_t prefix = 0;
  if (!model_.p50xOnly()) {
    prefix = pick(5) == 0 ? 'x' : 'X';
  } else if (pick(5) == 0) {
    prefix = 'X';
  }
  Bytes command(bytes.size() + (prefix != 0 ? 1 : 0));
  std::size_t at = 0;
  if (prefix != 0) command[at++] = prefix;
  for (const std::uint8_t b : bytes) command[at++] = b;
  return command;
}

void ControlProgram::randomCommand() {
  const Dialect& dialect = model_.dialect();
  const LocoEntry& known = layout_.locos[pick(static_cast<int>(layout_.locos.size()))];
  // One in ten locomotive commands names an address the list does not have.
  const bool unknownLoco = pick(10) == 0;
  const std::uint8_t al = unknownLoco ? 250 : known.low;
  const std::uint8_t ah = unknownLoco ? 0 : known.high;
  const auto byte = [&](int n) { return static_cast<std::uint8_t>(pick(n)); };
  const int turnout = 1 + pick(16);  // 13 to 16 are in no entry
  const int far = 100 + pick(1948);  // in no entry, any high byte
  const bool farOk = dialect.unknownTurnoutsAnswered;
  const int choice = pick(100);
  if (choice < 22) {
    // speed 0..127 (1: emergency stop), flags: direction, light, F1-F4 with bit 7
    const std::uint8_t speed = pick(4) == 0 ? byte(2) : byte(128);
    exchange(binary({0x80, al, ah, speed, static_cast<std::uint8_t>(byte(256) & 0xBF)}), "XLok");
  } else if (choice < 27) {
    exchange(binary({0x81, al, ah, byte(128), static_cast<std::uint8_t>(byte(256) & 0xBF)}),
             "XLokX");
  } else if (choice < 31) {
    exchange(binary({0x88, al, ah, byte(256)}), "XFunc");
  } else if (choice < 34) {
    exchange(binary({0x89, al, ah, byte(256)}), "XFuncX");
  } else if (choice < 37) {
    exchange(binary({0x8A, al, ah, byte(256), byte(256)}), "XFunc34");
  } else if (choice < 48) {
    static const std::uint8_t kStatus[] = {0x84, 0x85, 0x8C, 0x8D, 0x8E};
    static const char* const kNames[] = {"XLokSts", "XLokCfg", "XFuncSts", "XFuncXSts",
                                         "XFunc34Sts"};
    const int which = pick(5);
    exchange(binary({kStatus[which], al, ah}), kNames[which]);
  } else if (choice < 58) {
    const bool outside = farOk && pick(4) == 0;
    const int address = outside ? far : (farOk ? turnout : 1 + pick(12));
    exchange(binary({0x90, static_cast<std::uint8_t>(address),
                     static_cast<std::uint8_t>((address >> 8) | (byte(2) << 6) | (byte(2) << 7))}),
             "XTrnt");
  } else if (choice < 63) {
    const int address = farOk && pick(4) == 0 ? far : (farOk ? turnout : 1 + pick(12));
    exchange(
        binary({0x94, static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(address >> 8)}),
        "XTrntSts");
  } else if (choice < 65) {
    exchange(binary({0x95, static_cast<std::uint8_t>(1 + pick(2))}), "XTrntGrp");
  } else if (choice < 68) {
    exchange(binary({0x98, static_cast<std::uint8_t>(1 + pick(Layout::kModules + 1))}), "XSensor");
  } else if (choice < 69) {
    exchange(binary({0x9C, byte(2)}), "X88PGet");
  } else if (choice < 75) {
    static const std::uint8_t kStation[] = {0xA0, 0xA2, 0xC4, 0xCA};
    static const char* const kNames[] = {"XVer", "XStatus", "XNop", "XEvtTrn"};
    const int which = pick(4);
    exchange(binary({kStation[which]}), kNames[which]);
  } else if (choice < 76) {
    exchange(binary({0xA4, byte(256), byte(256)}), "XSoGet");
  } else if (choice < 80) {
    const bool on = pick(3) != 0;
    exchange(binary({static_cast<std::uint8_t>(on ? 0xA7 : 0xA6)}), on ? "XPwrOn" : "XPwrOff");
  } else if (choice < 81) {
    if (dialect.textHaltAndWiderOpcodes && pick(3) == 0) {
      exchange({'X', 'H', 'A', 'L', 'T', '\r'}, "XHALT");
    } else {
      exchange(binary({0xA5}), "XHalt");
    }
  } else if (choice < 83) {
    const bool zero = pick(2) == 0;
    exchange({static_cast<std::uint8_t>(zero ? 0x00 : 0xC4)}, zero ? "00" : "C4");
  } else if (choice < 86 && !model_.p50xOnly()) {
    static const char* const kTexts[] = {"xb\r", "\x60xv\r", "xse\r", "X\r"};
    const std::string text = kTexts[pick(4)];
    exchange(Bytes(text.begin(), text.end()), "text command");
  } else if (choice < 87) {
    exchange(binary({0xFF}), "unknown opcode");
  } else if (choice < 88) {
    exchange(binary({0x86, al, ah, byte(256), byte(256)}), "XLokCfgSet");
  } else if (choice < 90 && dialect.textHaltAndWiderOpcodes) {
    // Parameter bytes that would read as commands of their own.
    static const std::uint8_t kTricky[] = {0x00, 0x0D, 'X', 0xA2, 0xC4};
    const auto t = [&] { return kTricky[pick(5)]; };
    switch (pick(4)) {
      case 0:
        exchange(binary({0xC0, t(), t(), t(), t()}), "XClkSet");
        break;
      case 1:
        exchange(binary({0xA3, t(), t(), t()}), "XSoSet");
        break;
      case 2:
        exchange(binary({0xDF, t(), t(), t(), t(), t()}), "XPomAcc");
        break;
      default:
        exchange(binary({0xD2}), "XEvtBiDi");
        break;
    }
  } else if (choice == 90 && pick(50) == 0) {
    cutShort();
  } else {
    exchange(binary({0x84, al, ah}), "XLokSts");
  }
}

// A command whose sender stopped: the station drops it after its pause and
// answers the next command as if it had not been.
void ControlProgram::cutShort() {
  const Bytes partial = binary({0x80, layout_.locos[0].low});
  line_->send(partial);
  if (!line_->silentFor(kCutShortPause)) {
    findings_.add(Findings::kWrong, "XLok cut short " + hex(partial), "nothing",
                  hex(line_->receive(4096, 100ms)));
    resync();
  }
}

void ControlProgram::replug() {
  const std::string lost = "Serielle Verbindung verloren: ";
  const std::string back = "Serielle Verbindung wieder offen: " + portLink_ + "\n";
  const int lostBefore = countOf(bridge_.output(), lost);
  const int backBefore = countOf(bridge_.output(), back);
  line_.reset();  // unplugged: the bridge's end hangs up
  if (!test::waitFor([&] { return countOf(bridge_.output(), lost) > lostBefore; }, 5s)) {
    findings_.add(Findings::kBridge, "adapter unplugged: no \"" + lost + "...\" within 5 s");
  }
  if (!plugIn()) {
    findings_.add(Findings::kBridge, "adapter replugged: cannot make a new pseudo-terminal");
    return;
  }
  if (!test::waitFor([&] { return countOf(bridge_.output(), back) > backBefore; }, 5s)) {
    findings_.add(Findings::kBridge,
                  "adapter replugged: no \"" + back.substr(0, back.size() - 1) + "\" within 5 s");
    return;
  }
  ++figures_.replugs;
  // The station keeps its mode across the replug, as a real one whose line
  // was pulled does: the session goes on without saying it again.
}

void ControlProgram::exchange(const Bytes& command, const char* name) {
  const bool p50xOnly = model_.p50xOnly();
  const Expectation e = model_.command(command);
  const std::string what =
      std::string(name) + " " + hex(command) + (p50xOnly ? " (P50X-only)" : " (mixed)");
  ++figures_.commands;
  const auto asked = Clock::now();
  line_->send(command);
  if (e.reply.empty()) {
    if (!line_->silentFor(kCutShortPause)) {
      findings_.add(Findings::kWrong, what, "no reply", hex(line_->receive(4096, 100ms)));
      resync();
    }
    return;
  }
  const Bytes got = line_->receive(e.reply.size(), kReadTimeout);
  const double ms = millisecondsSince(asked);
  std::string why;
  if (got.empty()) {
    findings_.add(Findings::kMissing, what, hex(e.reply), "nothing within 1 s");
    resync();
    return;
  }
  const bool right = e.feedback == Feedback::kNone ? got == e.reply
                                                   : feedbackMatches(e, got, p50xOnly, asked, why);
  if (!right) {
    findings_.add(Findings::kWrong, what, hex(e.reply) + why, hex(got));
    resync();
    return;
  }
  if (ms > figures_.maxReplyMs) figures_.maxReplyMs = ms;
  if (ms > kReplyLimit.count()) {
    char late[48];
    std::snprintf(late, sizeof late, "a reply within %d ms", static_cast<int>(kReplyLimit.count()));
    char took[48];
    std::snprintf(took, sizeof took, "it after %.1f ms", ms);
    findings_.add(Findings::kLate, what, late, took);
  }
}

// The contact bytes go to the ledger; the rest must be as the model says.
bool ControlProgram::feedbackMatches(const Expectation& e, const Bytes& got, bool p50xOnly,
                                     Clock::time_point asked, std::string& why) {
  if (got.size() != e.reply.size()) return false;
  switch (e.feedback) {
    case Feedback::kEvtSen: {
      Bytes contacts;
      for (int m = 0; m < Layout::kModules; ++m) {
        if (got[3 * m] != m + 1) return false;
        contacts.push_back(got[3 * m + 1]);
        contacts.push_back(got[3 * m + 2]);
      }
      if (got.back() != 0x00) return false;
      why = ledger_.observe(1, contacts.data(), Layout::kModules, true, asked);
      if (!why.empty()) why = " with the contacts the host set (not" + why + ")";
      return why.empty();
    }
    case Feedback::kSensor:
      if (got[0] != 0x00) return false;
      if (e.module < 1 || e.module > Layout::kModules) return got == e.reply;
      why = ledger_.observe(e.module, got.data() + 1, 1, false, asked);
      if (!why.empty()) why = " with the contacts the host set (not" + why + ")";
      return why.empty();
    case Feedback::kEvent: {
      if (!p50xOnly) return got == e.reply;
      if ((got[0] & ~0x04) != e.reply[0]) return false;
      const int rule = ledger_.feedbackEventBit(asked);
      const bool set = (got[0] & 0x04) != 0;
      if (rule > 0 && !set) why = " with 04 (the host changed contacts)";
      if (rule < 0 && set) why = " without 04 (no contact changed since XEvtSen)";
      return why.empty();
    }
    case Feedback::kNone:
      break;
  }
  return got == e.reply;
}

// After a wrong reply the line may hold more of it: what comes until the
// line is quiet belongs to no command.
void ControlProgram::resync() {
  while (!line_->receive(4096, 300ms).empty()) {
  }
}

}  // namespace p50x::soak
