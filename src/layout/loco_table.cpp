#include "layout/loco_table.h"

#include <algorithm>
#include <climits>

#include "common/bytes.h"
#include "common/text.h"
#include "seams/reply_status.h"

namespace p50x {

namespace {
// name;address low;address high;step mode;config value;top speed forward;top
// speed reverse. The address bytes and the config value are bytes on the wire.
constexpr FieldRule kLocoFields[] = {
    {"Adresse low", 0, 255},
    {"Adresse high", 0, 255},
    {"Fahrstufenmodus", INT_MIN, INT_MAX},
    {"Konfigurationswert", 0, 255},
    {"Hoechstgeschwindigkeit vorwaerts", INT_MIN, INT_MAX},
    {"Hoechstgeschwindigkeit rueckwaerts", INT_MIN, INT_MAX},
};
constexpr int kStepModes = 4;  // 0 to 3

}  // namespace

LocoTable::LocoTable(Console& console, HostSender& host, int speedReportTag)
    : console_(console), host_(host), speedReportTag_(speedReportTag) {}

LocoTable::~LocoTable() = default;

void LocoTable::load(const char* path) {
  FileListSource source;
  source.read(path);
  load(source);
}

void LocoTable::load(FileListSource& source) {
  if (source.report(console_, "Lokliste")) {
    loadEntries(source);
  } else {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
  }
  // The host takes this as "the station is up" and waits for it before it
  // sends events, so it goes out even without a list.
  const HostMessage start = startMessage();
  host_.post(start.text);
}

void LocoTable::loadEntries(ListSource& source) {
  // Built aside and swapped in, so a thread asking for the commanded state
  // sees either the old list or the new one.
  std::vector<Entry> loaded;
  readList(source, kLocoFields, console_, [this, &loaded](const ListRecord& r) {
    // The locomotive still answers XLok; only XLokX has no steps to convert.
    if (r.numbers[2] < 0 || r.numbers[2] >= kStepModes) {
      console_.print(
          "%s:%d: Fahrstufenmodus %d unbekannt (0 bis 3): XLokX aendert die "
          "Geschwindigkeit von %s nicht.\n",
          r.file, r.line, r.numbers[2], r.name);
    }
    Entry e;
    copyField(e.name, sizeof e.name, r.name);
    e.addressLow = low8(r.numbers[0]);
    e.addressHigh = low8(r.numbers[1]);
    e.stepMode = r.numbers[2];
    e.cfgValue = r.numbers[3];
    e.maxSpeedForward = r.numbers[4];
    e.maxSpeedReverse = r.numbers[5];
    e.line = r.line;
    loaded.push_back(e);
  });
  std::reverse(loaded.begin(), loaded.end());
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.swap(loaded);
}

int LocoTable::count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(entries_.size());
}

void LocoTable::setSpeedReportTag(int tag) {
  std::lock_guard<std::mutex> lock(mutex_);
  speedReportTag_ = tag;
}

LocoTable::Entry* LocoTable::findByAddress(int low, int high) {
  for (Entry& e : entries_) {
    if (e.addressLow == low8(low) && e.addressHigh == low8(high)) return &e;
  }
  return nullptr;
}

std::size_t LocoTable::notFound(std::uint8_t* out) {
  out[0] = ReplyStatus::kBadParameter;
  return 1;
}

LocoTable::Report LocoTable::reportOf(const Entry& e) const {
  return {speedMessage(e.name, speedReportTag_, hostSpeed(e)),
          lightMessage(e.name, (e.flags & kLightBit) != 0 ? 1 : 0)};
}

// Speed first: the host is sent the light message only once it has answered
// the speed message, as the outbox delivers one message at a time in order.
void LocoTable::send(const Report& report) {
  host_.post(report.speed.text);
  host_.post(report.light.text);
}

// X 80 al ah speed flags -> 00 | 41 (halted) | 02; then speed and light message
void LocoTable::xLok(ReplyChannel& reply, int low, int high, int speed, int flags, bool halted) {
  bool found = false;
  Report report;
  answer(reply, low, high, [&](Entry& e, std::uint8_t* out) {
    takeFlags(e, flags);
    const bool refused = halted && low8(speed) > kEmergencyStop;
    e.speed = refused ? 0 : low8(speed);
    e.commanded = true;
    e.reportWaiting = false;  // the control software has set it itself
    report = reportOf(e);
    found = true;
    out[0] = refused ? ReplyStatus::kHalted : ReplyStatus::kOk;
    return std::size_t{1};
  });
  if (found) send(report);
}

// X 81 al ah raw flags -> 00 | 41 (halted) | 02; then speed and light message
void LocoTable::xLokX(ReplyChannel& reply, int low, int high, int rawSpeed, int flags,
                      bool halted) {
  bool found = false;
  Report report;
  answer(reply, low, high, [&](Entry& e, std::uint8_t* out) {
    takeFlags(e, flags);
    e.rawSpeed = static_cast<std::int8_t>(rawSpeed);
    convertSpeed(e);
    // Judged on the station's scale, so a raw speed that converts to the
    // emergency stop still works while halted.
    const bool refused = halted && e.speed > kEmergencyStop;
    if (refused) {
      e.speed = 0;
      e.rawSpeed = 0;
    }
    e.commanded = true;
    e.reportWaiting = false;
    report = reportOf(e);
    found = true;
    out[0] = refused ? ReplyStatus::kHalted : ReplyStatus::kOk;
    return std::size_t{1};
  });
  if (found) send(report);
}

// X 85 al ah -> 00 mode cfg FF FF | 02
void LocoTable::xLokCfg(ReplyChannel& reply, int low, int high) {
  answer(reply, low, high, [](Entry& e, std::uint8_t* out) {
    out[0] = ReplyStatus::kOk;
    out[1] = low8(e.stepMode);
    out[2] = low8(e.cfgValue);
    out[3] = 0xFF;
    out[4] = 0xFF;
    return std::size_t{5};
  });
}

// X C9 -> per locomotive to report: speed, F8..F1, address low,
// dir<<7|light<<6, raw; then 80. To control software this reply means "these
// locomotives were changed by somebody else": it sets its own picture from
// each record, and as the record has no room for F9 to F28 it takes them as
// off. So a locomotive is reported only after something other than the
// control software changed it, and once; what does not fit one reply (more
// than 50) waits for the next. The report never changes speeds: XLokX has
// already converted its raw speed, and converting again here would overwrite
// the speed of a later XLok.
void LocoTable::xEvtLok(ReplyChannel& reply) {
  std::uint8_t* out = reply.area();
  std::size_t n = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    int reported = 0;
    for (Entry& e : entries_) {
      if (!e.reportWaiting) continue;
      if (reported == kMaxReportedLocos) break;
      e.reportWaiting = false;
      ++reported;
      out[n++] = e.speed;
      out[n++] = static_cast<std::uint8_t>(e.functions);
      out[n++] = e.addressLow;
      out[n++] = static_cast<std::uint8_t>((e.flags & (kDirectionBit | kLightBit)) << 2);
      out[n++] = static_cast<std::uint8_t>(e.rawSpeed);
    }
  }
  out[n++] = 0x80;
  reply.send(n);
}

bool LocoTable::reportWaiting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::any_of(entries_.begin(), entries_.end(),
                     [](const Entry& e) { return e.reportWaiting; });
}

// In table order, so the host hears the stops in the order XEvtLok lists the
// locomotives. A locomotive already standing hears nothing and is not
// reported: nothing changed.
void LocoTable::haltAll() {
  std::vector<Report> stopped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Entry& e : entries_) {
      if (e.speed == 0) continue;
      e.speed = 0;
      e.rawSpeed = 0;
      e.commanded = true;
      e.reportWaiting = true;
      stopped.push_back(reportOf(e));
    }
  }
  for (const Report& report : stopped) send(report);
}

void LocoTable::appendCommandedMessages(std::vector<HostMessage>& messages) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Entry& e : entries_) {
    if (!e.commanded) continue;
    const Report report = reportOf(e);
    messages.push_back(report.speed);
    messages.push_back(report.light);
  }
}

std::vector<ListDuplicate> LocoTable::duplicates() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return findAddressedDuplicates(entries_);
}

}  // namespace p50x
