#include "layout/turnout_table.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

#include "common/bytes.h"
#include "common/text.h"
#include "layout/host_messages.h"

namespace p50x {

namespace {
// name;address low;address high;status flag;partner. The partner is the low
// address byte of another turnout.
constexpr FieldRule kTurnoutFields[] = {
    {"Adresse low", 0, 255},
    {"Adresse high", 0, 255},
    {"Statusflag", INT_MIN, INT_MAX},
    {"Partner", 0, 255},
};
constexpr std::uint8_t kCoilBit = 0x40;
}  // namespace

TurnoutTable::TurnoutTable(Console& console, HostSender& host) : console_(console), host_(host) {}

TurnoutTable::~TurnoutTable() = default;

void TurnoutTable::load(const char* path) {
  FileListSource source;
  source.read(path);
  load(source);
}

void TurnoutTable::load(FileListSource& source) {
  if (!source.report(console_, "Weichenliste")) {
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
    e.line = r.line;
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
  return const_cast<Entry*>(std::as_const(*this).findByAddress(low, high));
}

const TurnoutTable::Entry* TurnoutTable::findByAddress(std::uint8_t low, std::uint8_t high) const {
  for (const Entry& e : entries_) {
    if (e.addressLow == low && e.addressHigh == high) return &e;
  }
  return nullptr;
}

TurnoutTable::Entry* TurnoutTable::findByName(const char* name) {
  for (Entry& e : entries_) {
    if (std::strcmp(e.name, name) == 0) return &e;
  }
  return nullptr;
}

// X 90 al second -> 00; second: bits 0-2 high address, bit 6 coil
// on, bit 7 direction. Then "305;name;state;" where a partner makes the state
// partner position + 2 * direction. A turnout and its partner are one object
// to the host (a three-way turnout, say) with four states; host applications
// decode the number in this order, so it is not tidied up.
void TurnoutTable::xTrnt(ReplyChannel& reply, int low, int second) {
  const std::uint8_t secondByte = low8(second);
  const std::uint8_t high = secondByte & 0x07;
  const int direction = (secondByte & 0x80) != 0 ? 1 : 0;
  const bool coilOn = (secondByte & kCoilBit) != 0;
  if (switchUnlisted(reply, low8(low), high, direction)) return;

  HostMessage message;
  bool report = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Entry* e = findByAddress(low8(low), high);
    if (e == nullptr) return;
    // Control software switches with the coil on and then repeats the command
    // with the coil off. The repeat moves nothing, and the host would hear
    // every switch twice. Only that pair is one switch: a command without the
    // coil bit on its own still names a position the host must hear, also the
    // one the turnout already has (it starts at 1 without anybody saying so).
    const bool coilRelease = !coilOn && e->awaitingRelease && e->position == direction;
    e->awaitingRelease = coilOn;
    if (!coilRelease) {
      e->position = direction;
      e->commanded = true;
      int state = 0;
      report = messageState(*e, state);
      if (report) message = turnoutMessage(e->name, state);
    }
  }
  reply.send({0x00});
  if (report) host_.post(message.text);
}

namespace {
// The number of a turnout in no entry. XTrntSts takes the whole second byte
// as the high address; of that, the three bits the protocol carries count.
int unlistedAddress(std::uint8_t low, std::uint8_t high) {
  return (high & 0x07) << 8 | low;
}
}  // namespace

bool TurnoutTable::switchUnlisted(ReplyChannel& reply, std::uint8_t low, std::uint8_t high,
                                  int direction) {
  const int address = unlistedAddress(low, high);
  bool first = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (findByAddress(low, high) != nullptr) return false;
    unlistedAtZero_[static_cast<std::size_t>(address)] = direction == 0;
    first = firstMeeting(address);
  }
  if (first) nameUnlisted(address);
  reply.send({0x00});
  return true;
}

bool TurnoutTable::statusUnlisted(ReplyChannel& reply, std::uint8_t low, std::uint8_t high) {
  const int address = unlistedAddress(low, high);
  bool first = false;
  bool atZero = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (findByAddress(low, high) != nullptr) return false;
    atZero = unlistedAtZero_[static_cast<std::size_t>(address)];
    first = firstMeeting(address);
  }
  if (first) nameUnlisted(address);
  reply.send({0x00, static_cast<std::uint8_t>(atZero ? 0x00 : 0x04)});
  return true;
}

bool TurnoutTable::firstMeeting(int address) {
  const auto bit = static_cast<std::size_t>(address);
  if (unlistedNamed_[bit]) return false;
  unlistedNamed_[bit] = true;
  return true;
}

void TurnoutTable::nameUnlisted(int address) {
  console_.print("Weiche %d nicht in der Weichenliste\n", address);
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

void TurnoutTable::appendCommandedMessages(std::vector<HostMessage>& messages) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Entry& e : entries_) {
    int state = 0;
    if (e.commanded && messageState(e, state)) messages.push_back(turnoutMessage(e.name, state));
  }
}

// X 94 al ah -> 00 status; status bit 0: status flag, bit 2: position. The
// whole second byte is the high address of an entry here, unlike XTrnt. The
// difference stays: control software that works with the bridge was set up
// against these answers. A query with flag bits in it finds no entry and is
// answered as a turnout in no entry.
void TurnoutTable::xTrntSts(ReplyChannel& reply, int low, int high) {
  if (statusUnlisted(reply, low8(low), low8(high))) return;
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

// X 95 g -> 00 bits 00; bit i is the position bit of XTrntSts for the turnout
// at address 8(g-1)+1+i, 0 when the table has none there.
void TurnoutTable::xTrntGrp(ReplyChannel& reply, int group) {
  const int first = 8 * (static_cast<int>(low8(group)) - 1) + 1;
  std::uint8_t bits = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int i = 0; i < 8; ++i) {
      const int address = first + i;
      if (address < 0) continue;
      const Entry* e = findByAddress(low8(address), low8(address >> 8));
      if (e != nullptr && e->position != 0) bits = static_cast<std::uint8_t>(bits | (1u << i));
    }
  }
  reply.send({0x00, bits, 0x00});
}

// X CA -> 00: turnout events are never reported.
void TurnoutTable::xEvtTrn(ReplyChannel& reply) {
  reply.send({0x00});
}

std::vector<ListDuplicate> TurnoutTable::duplicates() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return findAddressedDuplicates(entries_);
}

void TurnoutTable::hostTurnout(const char* name, int /*number*/) {
  if (name == nullptr) return;
  std::lock_guard<std::mutex> lock(mutex_);
  // The host's report moves no turnout: the station alone commands them. The
  // lookup stays local, so it cannot redirect a serial-side command.
  findByName(name);
}

}  // namespace p50x
