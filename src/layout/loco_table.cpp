#include "layout/loco_table.h"

#include <algorithm>
#include <cstdlib>

#include "common/text.h"
#include "layout/host_messages.h"
#include "seams/reply_status.h"

namespace p50x {

namespace {
// Step mode 0: raw steps 0..15 on the station's 0..127 scale. Step 14 is full
// speed and step 15 reads as 1, the station's emergency stop. Control software
// reads the converted speed back in XEvtLok and expects exactly these values,
// so the table stays as it is even where it looks uneven.
constexpr std::uint8_t kStepTable[16] = {0,  2,  10, 19, 29,  38,  48,  57,
                                         67, 76, 86, 95, 105, 114, 127, 1};
// Turns a top speed from the locomotive list into the units the host shows.
// Host applications have always been sent values made with exactly this factor
// (and the single-precision steps of reportToHost) and are set up for them; a
// "rounder" factor would move every reported speed by a few tenths.
constexpr double kSpeedScale = 3.19284802;
constexpr std::uint8_t kDirectionBit = 0x20;
constexpr std::uint8_t kLightBit = 0x10;
constexpr std::uint32_t kF1ToF4 = 0x0F;
// Bit 7 of the XLok/XLokX flags: its low four bits are F1 to F4 and to be
// taken. Without it they are left alone, so a program that switches functions
// with XFunc keeps them when it changes the speed.
constexpr std::uint8_t kChangeFunctions = 0x80;
// On the station's scale 1 is no speed but the emergency stop.
constexpr std::uint8_t kEmergencyStop = 1;
constexpr int kLocoFields = 7;

std::uint8_t low8(int value) {
  return static_cast<std::uint8_t>(value);
}
}  // namespace

LocoTable::LocoTable(Console& console, HostSender& host, int speedReportTag)
    : console_(console), host_(host), speedReportTag_(speedReportTag) {}

LocoTable::~LocoTable() = default;

void LocoTable::load(const char* path) {
  entries_.clear();
  FileListSource source;
  if (source.open(path, console_)) loadEntries(source);
  // The host takes this as "the station is up" and waits for it before it
  // sends events, so it goes out even without a list.
  const HostMessage start = startMessage();
  host_.sendAndAwaitAnswer(start.text);
}

void LocoTable::loadEntries(ListSource& source) {
  entries_.clear();
  readList(source, kLocoFields, console_, [this](const ListRecord& r) {
    Entry e;
    copyField(e.name, sizeof e.name, r.name);
    e.addressLow = low8(r.numbers[0]);
    e.addressHigh = low8(r.numbers[1]);
    e.stepMode = r.numbers[2];
    e.cfgValue = r.numbers[3];
    e.maxSpeedForward = r.numbers[4];
    e.maxSpeedReverse = r.numbers[5];
    entries_.push_back(e);
  });
  std::reverse(entries_.begin(), entries_.end());
}

int LocoTable::count() const {
  return static_cast<int>(entries_.size());
}

LocoTable::Entry* LocoTable::findByAddress(ReplyChannel& reply, int low, int high) {
  for (Entry& e : entries_) {
    if (e.addressLow == low8(low) && e.addressHigh == low8(high)) return &e;
  }
  reply.send({ReplyStatus::kBadParameter});
  return nullptr;
}

void LocoTable::takeFlags(Entry& e, int flags) {
  e.flags = low8(flags);
  if ((e.flags & kChangeFunctions) != 0) setFunctions(e, 0, 4, flags);
}

void LocoTable::setFunctions(Entry& e, int firstBit, int count, int bits) {
  const std::uint32_t mask = ((1u << count) - 1u) << firstBit;
  const std::uint32_t value = static_cast<std::uint32_t>(low8(bits)) << firstBit;
  e.functions = (e.functions & ~mask) | (value & mask);
}

void LocoTable::convertSpeed(Entry& e) {
  const int raw = e.rawSpeed;
  switch (e.stepMode) {
    case 0:
      // Outside the table there is no step to take: keep the old speed.
      if (raw >= 0 && raw < 16) e.speed = kStepTable[raw];
      break;
    // Integer steps truncated toward zero and cut to 8 bits, as the station
    // always computed them: control software compares the XEvtLok speed with
    // its own conversion.
    case 1:  // 27 steps onto 126; above 27 the low 8 bits (28 -> 130)
      e.speed = low8(126 * raw / 27);
      break;
    case 2:  // 28 steps onto 126
      e.speed = low8(126 * raw / 28);
      break;
    case 3:  // already on the station's scale
      e.speed = low8(raw);
      break;
    default:
      break;
  }
}

// The speed in the locomotive's own steps, as XLokSts reports it. After XLokX
// that is the raw speed it was given; after XLok (or a halt) the raw speed
// would be stale, so the stored speed is taken back onto the step scale.
std::uint8_t LocoTable::ownSteps(const Entry& e) {
  Entry fromRaw = e;
  convertSpeed(fromRaw);
  if (fromRaw.speed == e.speed) return static_cast<std::uint8_t>(e.rawSpeed);
  const int speed = e.speed;
  switch (e.stepMode) {
    case 0: {
      if (speed == kEmergencyStop) return 15;  // the table's emergency step
      int best = 0;
      for (int step = 1; step < 15; ++step) {
        if (std::abs(kStepTable[step] - speed) < std::abs(kStepTable[best] - speed)) best = step;
      }
      return low8(best);
    }
    case 1:  // nearest of 27 steps
      return low8((speed * 27 + 63) / 126);
    case 2:  // nearest of 28 steps
      return low8((speed * 28 + 63) / 126);
    default:
      return e.speed;
  }
}

// The host wants the speed in its own units: the top speed of the direction
// scaled by the station speed, signed by the direction bit. Each step is
// rounded to single precision, so the printed decimal matches what the host
// has always been sent. An emergency stop leaves the locomotive standing, so
// the host hears a standstill rather than the slowest crawl.
void LocoTable::reportToHost(const Entry& e) {
  const bool forward = (e.flags & kDirectionBit) != 0;
  const int top = forward ? e.maxSpeedForward : e.maxSpeedReverse;
  const float a = static_cast<float>(static_cast<double>(top) * kSpeedScale);
  const int speed = e.speed == kEmergencyStop ? 0 : static_cast<std::int8_t>(e.speed);
  float v = static_cast<float>(static_cast<double>(a) * speed / 126);
  // A standstill in reverse stays -0.0: host applications take the sign as the
  // direction even at speed 0, so a stop must not turn the locomotive round.
  if (!forward) v = -v;
  const HostMessage speedText = speedMessage(e.name, speedReportTag_, v);
  host_.sendAndAwaitAnswer(speedText.text);
  const HostMessage lightText = lightMessage(e.name, (e.flags & kLightBit) != 0 ? 1 : 0);
  host_.sendAndAwaitAnswer(lightText.text);
}

// X 80 al ah speed flags -> 00 | 41 (halted) | 02; then speed and light message
void LocoTable::xLok(ReplyChannel& reply, int low, int high, int speed, int flags, bool halted) {
  Entry* e = findByAddress(reply, low, high);
  if (e == nullptr) return;
  takeFlags(*e, flags);
  const bool refused = halted && low8(speed) > kEmergencyStop;
  e->speed = refused ? 0 : low8(speed);
  reply.send({refused ? ReplyStatus::kHalted : ReplyStatus::kOk});
  reportToHost(*e);
}

// X 81 al ah raw flags -> 00 | 41 (halted) | 02; then speed and light message
void LocoTable::xLokX(ReplyChannel& reply, int low, int high, int rawSpeed, int flags,
                      bool halted) {
  Entry* e = findByAddress(reply, low, high);
  if (e == nullptr) return;
  takeFlags(*e, flags);
  e->rawSpeed = static_cast<std::int8_t>(rawSpeed);
  convertSpeed(*e);
  // Judged on the station's scale, so a raw speed that converts to the
  // emergency stop still works while halted.
  const bool refused = halted && e->speed > kEmergencyStop;
  if (refused) {
    e->speed = 0;
    e->rawSpeed = 0;
  }
  reply.send({refused ? ReplyStatus::kHalted : ReplyStatus::kOk});
  reportToHost(*e);
}

// X 84 al ah -> 00 speed dir<<5|light<<4|F4..F1 own-steps | 02
void LocoTable::xLokSts(ReplyChannel& reply, int low, int high) {
  const Entry* e = findByAddress(reply, low, high);
  if (e == nullptr) return;
  const auto state = static_cast<std::uint8_t>((e->flags & (kDirectionBit | kLightBit)) |
                                               (e->functions & kF1ToF4));
  reply.send({ReplyStatus::kOk, e->speed, state, ownSteps(*e)});
}

// X 85 al ah -> 00 mode cfg FF FF | 02
void LocoTable::xLokCfg(ReplyChannel& reply, int low, int high) {
  const Entry* e = findByAddress(reply, low, high);
  if (e == nullptr) return;
  reply.send({ReplyStatus::kOk, low8(e->stepMode), low8(e->cfgValue), 0xFF, 0xFF});
}

// Functions never reach the host: its protocol has no message for them. They
// are kept so the status commands and XEvtLok tell every client the same.

// X 88 al ah f8..f1 -> 00 | 02
void LocoTable::xFunc(ReplyChannel& reply, int low, int high, int f1to8) {
  Entry* e = findByAddress(reply, low, high);
  if (e == nullptr) return;
  setFunctions(*e, 0, 8, f1to8);
  reply.send({ReplyStatus::kOk});
}

// X 89 al ah f16..f9 -> 00 | 02
void LocoTable::xFuncX(ReplyChannel& reply, int low, int high, int f9to16) {
  Entry* e = findByAddress(reply, low, high);
  if (e == nullptr) return;
  setFunctions(*e, 8, 8, f9to16);
  reply.send({ReplyStatus::kOk});
}

// X 8A al ah f24..f17 f28..f25 -> 00 | 02; the upper four bits of the last
// byte name no function.
void LocoTable::xFunc34(ReplyChannel& reply, int low, int high, int f17to24, int f25to28) {
  Entry* e = findByAddress(reply, low, high);
  if (e == nullptr) return;
  setFunctions(*e, 16, 8, f17to24);
  setFunctions(*e, 24, 4, f25to28);
  reply.send({ReplyStatus::kOk});
}

// X 8C al ah -> 00 f8..f1 | 02
void LocoTable::xFuncSts(ReplyChannel& reply, int low, int high) {
  const Entry* e = findByAddress(reply, low, high);
  if (e == nullptr) return;
  reply.send({ReplyStatus::kOk, low8(static_cast<int>(e->functions))});
}

// X 8D al ah -> 00 f16..f9 | 02
void LocoTable::xFuncXSts(ReplyChannel& reply, int low, int high) {
  const Entry* e = findByAddress(reply, low, high);
  if (e == nullptr) return;
  reply.send({ReplyStatus::kOk, low8(static_cast<int>(e->functions >> 8))});
}

// X 8E al ah -> 00 f24..f17 f28..f25 | 02
void LocoTable::xFunc34Sts(ReplyChannel& reply, int low, int high) {
  const Entry* e = findByAddress(reply, low, high);
  if (e == nullptr) return;
  reply.send({ReplyStatus::kOk, low8(static_cast<int>(e->functions >> 16)),
              low8(static_cast<int>((e->functions >> 24) & 0x0F))});
}

// X C9 -> per locomotive: speed, F8..F1, address low, dir<<7|light<<6, raw;
// then 80 (P50X-only mode: 80 alone). The record form and the end byte 80 are
// what mixed-mode control software parses; every locomotive is reported on
// every call because such software polls and takes the report as the state.
// The report reads the entries and never changes them: XLokX has already
// converted its raw speed, and converting again here would overwrite the speed
// of a later XLok.
void LocoTable::xEvtLok(ReplyChannel& reply, StationMode mode) {
  if (mode == StationMode::P50XOnly) {
    reply.send({0x80});
    return;
  }
  std::uint8_t* out = reply.area();
  std::size_t n = 0;
  const std::size_t reported = std::min<std::size_t>(entries_.size(), kMaxReportedLocos);
  for (std::size_t i = 0; i < reported; ++i) {
    const Entry& e = entries_[i];
    out[n++] = e.speed;
    out[n++] = low8(static_cast<int>(e.functions));
    out[n++] = e.addressLow;
    out[n++] = static_cast<std::uint8_t>((e.flags & (kDirectionBit | kLightBit)) << 2);
    out[n++] = static_cast<std::uint8_t>(e.rawSpeed);
  }
  out[n++] = 0x80;
  reply.send(n);
}

// In table order, so the host hears the stops in the order XEvtLok lists the
// locomotives. A locomotive already standing hears nothing: nothing changed.
void LocoTable::haltAll() {
  for (Entry& e : entries_) {
    if (e.speed == 0) continue;
    e.speed = 0;
    e.rawSpeed = 0;
    reportToHost(e);
  }
}

}  // namespace p50x
