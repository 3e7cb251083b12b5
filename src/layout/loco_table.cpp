#include "layout/loco_table.h"

#include <algorithm>

#include "common/text.h"
#include "layout/host_messages.h"

namespace p50x {

namespace {
// Step mode 0: raw steps 0..15 on the station's 0..127 scale; step 14 is full
// speed and step 15 reads as 1, as the control software expects.
constexpr std::uint8_t kStepTable[16] = {0,  2,  10, 19, 29,  38,  48,  57,
                                         67, 76, 86, 95, 105, 114, 127, 1};
constexpr double kSpeedScale = 3.19284802;
constexpr std::uint8_t kDirectionBit = 0x20;
constexpr std::uint8_t kLightBit = 0x10;
constexpr std::uint8_t kFunctionBits = 0x0F;  // F1 to F4
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
  // The host takes this as "the station is up", so it goes out even without a
  // list.
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
  reply.send({0x02});
  return nullptr;
}

void LocoTable::convertSpeed(Entry& e) {
  const int raw = e.rawSpeed;
  switch (e.stepMode) {
    case 0:
      // Outside the table there is no step to take: keep the old speed.
      if (raw >= 0 && raw < 16) e.speed = kStepTable[raw];
      break;
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

// The host wants the speed in its own units: the top speed of the direction
// scaled by the station speed, signed by the direction bit. Each step is
// rounded to single precision, so the printed decimal matches what the host
// has always been sent. An emergency stop leaves the locomotive standing, so
// the host hears a standstill rather than the slowest crawl.
void LocoTable::messagesFor(const Entry& e, HostMessage& speed, HostMessage& light) const {
  const bool forward = (e.flags & kDirectionBit) != 0;
  const int top = forward ? e.maxSpeedForward : e.maxSpeedReverse;
  const float a = static_cast<float>(static_cast<double>(top) * kSpeedScale);
  const int station = e.speed == kEmergencyStop ? 0 : static_cast<std::int8_t>(e.speed);
  float v = static_cast<float>(static_cast<double>(a) * station / 126);
  if (!forward) v = -v;  // a standstill in reverse stays -0.0
  speed = speedMessage(e.name, speedReportTag_, v);
  light = lightMessage(e.name, (e.flags & kLightBit) != 0 ? 1 : 0);
}

void LocoTable::reportToHost(const HostMessage& speed, const HostMessage& light) {
  host_.sendAndAwaitAnswer(speed.text);
  host_.sendAndAwaitAnswer(light.text);
}

void LocoTable::collectReplay(std::vector<HostMessage>& out) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Entry& e : entries_) {
    if (!e.commanded) continue;
    HostMessage speed;
    HostMessage light;
    messagesFor(e, speed, light);
    out.push_back(speed);
    out.push_back(light);
  }
}

// X 80 al ah speed flags -> 00 | 02; then speed and light message
void LocoTable::xLok(ReplyChannel& reply, int low, int high, int speed, int flags) {
  Entry* e = findByAddress(reply, low, high);
  if (e == nullptr) return;
  HostMessage speedText;
  HostMessage lightText;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    e->speed = low8(speed);
    e->flags = low8(flags);
    e->commanded = true;
    messagesFor(*e, speedText, lightText);
  }
  reply.send({0x00});
  reportToHost(speedText, lightText);
}

// X 81 al ah raw flags -> 00 | 02; then speed and light message
void LocoTable::xLokX(ReplyChannel& reply, int low, int high, int rawSpeed, int flags) {
  Entry* e = findByAddress(reply, low, high);
  if (e == nullptr) return;
  HostMessage speedText;
  HostMessage lightText;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    e->rawSpeed = static_cast<std::int8_t>(rawSpeed);
    e->flags = low8(flags);
    convertSpeed(*e);
    e->commanded = true;
    messagesFor(*e, speedText, lightText);
  }
  reply.send({0x00});
  reportToHost(speedText, lightText);
}

// X 85 al ah -> 00 mode cfg FF FF | 02
void LocoTable::xLokCfg(ReplyChannel& reply, int low, int high) {
  const Entry* e = findByAddress(reply, low, high);
  if (e == nullptr) return;
  reply.send({0x00, low8(e->stepMode), low8(e->cfgValue), 0xFF, 0xFF});
}

// X 88 al ah fn -> FF | 02. F1 to F4 are also bits of the XLok flags: the
// latest of the two commands is their state.
void LocoTable::xFunc(ReplyChannel& reply, int low, int high, int functions) {
  Entry* e = findByAddress(reply, low, high);
  if (e == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    e->functions = low8(functions);
    e->flags =
        static_cast<std::uint8_t>((e->flags & ~kFunctionBits) | (low8(functions) & kFunctionBits));
  }
  reply.send({0xFF});
}

// X C9 -> per locomotive: speed, functions, address low, dir<<7|light<<6, raw;
// then 80 (P50X-only mode: 80 alone). The report reads the entries and never
// changes them: XLokX has already converted its raw speed, and converting again
// here would overwrite the speed of a later XLok.
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
    out[n++] = e.flags & 0x0F;
    out[n++] = e.addressLow;
    out[n++] = static_cast<std::uint8_t>((e.flags & 0x30) << 2);
    out[n++] = static_cast<std::uint8_t>(e.rawSpeed);
  }
  out[n++] = 0x80;
  reply.send(n);
}

}  // namespace p50x
