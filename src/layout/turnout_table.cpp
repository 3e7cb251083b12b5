#include "layout/turnout_table.h"

#include <algorithm>
#include <cstring>

#include "common/text.h"
#include "layout/host_messages.h"

namespace p50x {

namespace {
constexpr int kTurnoutFields = 5;
constexpr std::uint8_t kCoilBit = 0x40;
std::uint8_t low8(int value) {
  return static_cast<std::uint8_t>(value);
}
}  // namespace

TurnoutTable::TurnoutTable(Console& console, HostSender& host) : console_(console), host_(host) {}

TurnoutTable::~TurnoutTable() = default;

void TurnoutTable::load(const char* path) {
  FileListSource source;
  if (!source.open(path, console_)) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
    return;
  }
  loadEntries(source);
}

void TurnoutTable::loadEntries(ListSource& source) {
  // Built aside and swapped in, so a host event during loading sees either the
  // old list or the new one.
  std::vector<Entry> loaded;
  readList(source, kTurnoutFields, console_, [&loaded](const ListRecord& r) {
    Entry e;
    copyField(e.name, sizeof e.name, r.name);
    e.addressLow = low8(r.numbers[0]);
    e.addressHigh = low8(r.numbers[1]);
    e.statusFlag = r.numbers[2];
    e.partner = r.numbers[3];
    loaded.push_back(e);
  });
  std::reverse(loaded.begin(), loaded.end());
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.swap(loaded);
}

int TurnoutTable::count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(entries_.size());
}

TurnoutTable::Entry* TurnoutTable::findByAddress(std::uint8_t low, std::uint8_t high) {
  for (Entry& e : entries_) {
    if (e.addressLow == low && e.addressHigh == high) return &e;
  }
  return nullptr;
}

const TurnoutTable::Entry* TurnoutTable::findByAddress(std::uint8_t low, std::uint8_t high) const {
  for (const Entry& e : entries_) {
    if (e.addressLow == low && e.addressHigh == high) return &e;
  }
  return nullptr;
}

bool TurnoutTable::messageState(const Entry& e, int& state) const {
  state = e.position;
  if (e.partner == 0) return true;
  const Entry* partner = findByAddress(low8(e.partner), 0);
  // Without its partner the combined state is unknown: say nothing rather
  // than something wrong.
  if (partner == nullptr) return false;
  state = partner->position + 2 * e.position;
  return true;
}

void TurnoutTable::collectReplay(std::vector<HostMessage>& out) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Entry& e : entries_) {
    int state = 0;
    if (e.commanded && messageState(e, state)) out.push_back(turnoutMessage(e.name, state));
  }
}

TurnoutTable::Entry* TurnoutTable::findByName(const char* name) {
  for (Entry& e : entries_) {
    if (std::strcmp(e.name, name) == 0) return &e;
  }
  return nullptr;
}

// X 90 al second -> 00 | nothing; second: bits 0-2 high address, bit 6 coil
// on, bit 7 direction. Then "305;name;state;" where a partner makes the state
// partner position + 2 * direction.
void TurnoutTable::xTrnt(ReplyChannel& reply, int low, int second, StationMode mode) {
  const std::uint8_t secondByte = low8(second);
  const std::uint8_t high = secondByte & 0x07;
  const int direction = (secondByte & 0x80) != 0 ? 1 : 0;
  const bool coilOn = (secondByte & kCoilBit) != 0;

  char name[kNameSize];
  int state = direction;
  bool report = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Entry* e = findByAddress(low8(low), high);
    if (e == nullptr) return;
    // A P50X-only client switches with the coil on and then repeats the command
    // with the coil off. The repeat moves nothing; passing it on would only make
    // the serial side wait for the host once more.
    const bool coilRelease = mode == StationMode::P50XOnly && !coilOn && e->position == direction;
    if (coilRelease) {
      report = false;
    } else {
      e->position = direction;
      e->commanded = true;
      copyField(name, sizeof name, e->name);
      report = messageState(*e, state);
    }
  }
  reply.send({0x00});
  if (!report) return;
  const HostMessage message = turnoutMessage(name, state);
  host_.sendAndAwaitAnswer(message.text);
}

// X 94 al ah -> 00 status | nothing; status bit 0: status flag, bit 2: position
void TurnoutTable::xTrntSts(ReplyChannel& reply, int low, int high) {
  std::uint8_t status = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const Entry* e = findByAddress(low8(low), low8(high));
    if (e == nullptr) return;
    if (e->statusFlag != 0) status |= 0x01;
    if (e->position != 0) status |= 0x04;
  }
  reply.send({0x00, status});
}

// X CA -> 00: turnout events are never reported.
void TurnoutTable::xEvtTrn(ReplyChannel& reply) {
  reply.send({0x00});
}

void TurnoutTable::hostTurnout(const char* name, int /*number*/) {
  if (name == nullptr) return;
  std::lock_guard<std::mutex> lock(mutex_);
  // The host's report moves no turnout: the station alone commands them. The
  // lookup stays local, so it cannot redirect a serial-side command.
  findByName(name);
}

}  // namespace p50x
