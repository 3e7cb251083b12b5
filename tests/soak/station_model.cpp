#include "station_model.h"

#include <algorithm>
#include <cstdio>

namespace p50x::soak {

namespace {
constexpr std::uint8_t kCr = 0x0D;
const Bytes kPrompt = {kCr, ']'};
constexpr std::uint8_t kPower = 0x08;
constexpr std::uint8_t kHalt = 0x10;
constexpr std::size_t kMaxReportedLocos = 50;

Bytes textBytes(const std::string& text) {
  return Bytes(text.begin(), text.end());
}
}  // namespace

Layout Layout::standard() {
  Layout layout;
  // A high address byte on some, so the two bytes are not taken for one.
  layout.locos = {{"Lok1", 3, 0, 28, 100, 80},    {"Lok2", 4, 0, 14, 160, 160},
                  {"Lok3", 44, 1, 0, 80, 40},     {"Lok4", 78, 0, 128, 120, 120},
                  {"Lok5", 200, 3, 31, 60, 60},   {"Lok6", 9, 0, 5, 250, 200},
                  {"Lok7", 127, 0, 255, 90, 100}, {"Lok8", 10, 39, 1, 300, 10}};
  for (int a = 1; a <= 12; ++a) {
    layout.turnouts.push_back({"W" + std::to_string(a), a, a % 3 == 0});
  }
  return layout;
}

std::string Layout::locoList() const {
  std::string list = "# name;address low;address high;step mode;config;top forward;top reverse\n";
  for (const LocoEntry& l : locos) {
    list += l.name + ";" + std::to_string(l.low) + ";" + std::to_string(l.high) + ";3;" +
            std::to_string(l.configValue) + ";" + std::to_string(l.topForward) + ";" +
            std::to_string(l.topReverse) + "\n";
  }
  return list;
}

std::string Layout::turnoutList() const {
  std::string list;
  for (const TurnoutEntry& t : turnouts) {
    list += t.name + ";" + std::to_string(t.address) + ";0;" + (t.statusFlag ? "1" : "0") + ";0\n";
  }
  return list;
}

std::string Layout::contactName(int contact) {
  return "K" + std::to_string(contact + 1);
}

std::string Layout::contactList() {
  std::string list;
  for (int c = 0; c < kContacts; ++c) {
    list +=
        contactName(c) + ";" + std::to_string(c / 16 + 1) + ";" + std::to_string(c % 16 + 1) + "\n";
  }
  return list;
}

StationModel::StationModel(const Layout& layout, Dialect dialect) : dialect_(dialect) {
  for (auto it = layout.locos.rbegin(); it != layout.locos.rend(); ++it) {
    locos_.push_back({*it});
  }
  for (const TurnoutEntry& t : layout.turnouts) turnouts_[t.address] = {t.name, t.statusFlag};
}

Expectation StationModel::command(const Bytes& c) {
  if (c.empty()) return {};
  const bool prefixed = c.size() >= 2 && (c[0] == 'X' || c[0] == 'x') && (c[1] & 0x80) != 0;
  if (prefixed) return binary(c.data() + 1, c.size() - 1);
  if (c.size() == 1 && c[0] == 0x00) return {{0x00}};
  if (p50xOnly_ && (c[0] & 0x80) != 0) return binary(c.data(), c.size());
  if (c.size() == 1 && c[0] == 0xC4) return {kPrompt};
  if (c.back() == kCr) return text(std::string(c.begin(), c.end() - 1));
  return {};
}

Expectation StationModel::text(const std::string& line) {
  if (line == "XHALT" && dialect_.textHaltAndWiderOpcodes) {
    halt();
    return {textBytes("Ok\r")};
  }
  if (p50xOnly_) {
    if (line == "xZzA1" || line == "XZzA1") return {kPrompt};
    if (line != "ZzA0") return {};
    p50xOnly_ = false;
    return {kPrompt};
  }
  if (line == "xZzA1" || line == "XZzA1") {
    p50xOnly_ = true;
    return {kPrompt};
  }
  if (line == "ZzA0" || line == "X") return {kPrompt};
  if (line == "xb") return {textBytes("57600\r]")};
  if (line == "\x60xv") return {textBytes("MC Revision 1.4.6\rSerNr.      578\r]")};
  if (line == "xse") return {textBytes("SE " + std::to_string(2 * Layout::kModules) + "\r]")};
  return {};
}

Expectation StationModel::binary(const std::uint8_t* in, std::size_t length) {
  (void)length;
  switch (in[0]) {
    case 0x80:  // XLok al ah speed flags
    case 0x81:  // XLokX al ah raw flags
    case 0x84:  // XLokSts al ah
    case 0x85:  // XLokCfg al ah
    case 0x88:  // XFunc al ah f8..f1
    case 0x89:  // XFuncX al ah f16..f9
    case 0x8A:  // XFunc34 al ah f24..f17 f28..f25
    case 0x8C:  // XFuncSts al ah
    case 0x8D:  // XFuncXSts al ah
    case 0x8E:  // XFunc34Sts al ah
      return loco(in);
    case 0x86:  // XLokCfgSet: not carried out
      return {{0x01}};
    case 0x90:  // XTrnt al ah|coil|dir
    case 0x94:  // XTrntSts al ah
      return turnout(in);
    case 0x95: {  // XTrntGrp g: the listed turnouts only
      std::uint8_t bits = 0;
      for (int i = 0; i < 8; ++i) {
        const Turnout* t = findTurnout(8 * (in[1] - 1) + 1 + i, false);
        if (t != nullptr && !t->name.empty() && t->position != 0) {
          bits = static_cast<std::uint8_t>(bits | (1u << i));
        }
      }
      return {{0x00, bits, 0x00}};
    }
    case 0x98:  // XSensor module
      return {{0x00, 0x00, 0x00}, Feedback::kSensor, in[1]};
    case 0x9C:  // X88PGet parameter
      if (in[1] != 0) return {{0x02}};
      return {{0x00, static_cast<std::uint8_t>(2 * Layout::kModules)}};
    case 0xA0:  // XVer
      return {{0x03, 0x01, 0x04, 0x06, 0x04, 0x00, 0x13, 0x07, 0x56, 0x00}};
    case 0xA2:  // XStatus
      return {{status_}};
    case 0xA4:  // XSoGet lo hi: no such option
      return {{0x02}};
    case 0xA5:  // XHalt
      halt();
      return {{0x00}};
    case 0xA6:  // XPwrOff: power and halt off
      status_ = static_cast<std::uint8_t>(status_ & ~(kPower | kHalt));
      return {{0x00}};
    case 0xA7:  // XPwrOn
      status_ = kPower;
      return {{0x00}};
    case 0xC4:  // XNop
      return {{0x00}};
    case 0xC8: {  // XEvent: the locomotive bit here, the feedback bit from the ledger
      const bool locos =
          p50xOnly_ && dialect_.locoEventsOnlyAfterHalt &&
          std::any_of(locos_.begin(), locos_.end(), [](const Loco& l) { return l.reportWaiting; });
      return {{static_cast<std::uint8_t>(locos ? 0x01 : 0x00)}, Feedback::kEvent};
    }
    case 0xC9:  // XEvtLok
      return locoEvents();
    case 0xCA:  // XEvtTrn: never an event
      return {{0x00}};
    case 0xCB:  // XEvtSen
      return {Bytes(3 * Layout::kModules + 1, 0x00), Feedback::kEvtSen};
    case 0xC0:  // XClkSet m h d f: taken and ignored
    case 0xD2:  // XEvtBiDi: no data
      return {{static_cast<std::uint8_t>(dialect_.textHaltAndWiderOpcodes ? 0x00 : 0x01)}};
    case 0xA3:  // XSoSet: not carried out
    case 0xDF:  // accessory programming on the main: not carried out
      return {{0x01}};
    default:  // an opcode the station does not know, rejected at once
      return {{0x01}};
  }
}

Expectation StationModel::loco(const std::uint8_t* in) {
  Loco* l = findLoco(in[1], in[2]);
  if (l == nullptr) return {{0x02}};
  const auto setFunctions = [l](int first, int count, std::uint8_t bits) {
    const std::uint32_t mask = ((1u << count) - 1u) << first;
    l->functions = (l->functions & ~mask) | ((static_cast<std::uint32_t>(bits) << first) & mask);
  };
  switch (in[0]) {
    case 0x80:
    case 0x81: {
      l->flags = in[4];
      if ((l->flags & 0x80) != 0) setFunctions(0, 4, l->flags);
      const bool refused = (status_ & kHalt) != 0 && in[3] > 1;
      l->speed = refused ? 0 : in[3];
      if (in[0] == 0x81) l->raw = refused ? 0 : in[3];
      l->commanded = true;
      l->reportWaiting = false;
      return {{static_cast<std::uint8_t>(refused ? 0x41 : 0x00)}};
    }
    case 0x84:
      return {{0x00, l->speed, static_cast<std::uint8_t>((l->flags & 0x30) | (l->functions & 0x0F)),
               l->speed}};
    case 0x85:
      return {{0x00, 0x03, static_cast<std::uint8_t>(l->listed.configValue), 0xFF, 0xFF}};
    case 0x88:
      setFunctions(0, 8, in[3]);
      return {{0x00}};
    case 0x89:
      setFunctions(8, 8, in[3]);
      return {{0x00}};
    case 0x8A:
      setFunctions(16, 8, in[3]);
      setFunctions(24, 4, in[4]);
      return {{0x00}};
    case 0x8C:
      return {{0x00, static_cast<std::uint8_t>(l->functions)}};
    case 0x8D:
      return {{0x00, static_cast<std::uint8_t>(l->functions >> 8)}};
    default:  // 0x8E
      return {{0x00, static_cast<std::uint8_t>(l->functions >> 16),
               static_cast<std::uint8_t>((l->functions >> 24) & 0x0F)}};
  }
}

Expectation StationModel::turnout(const std::uint8_t* in) {
  if (in[0] == 0x90) {
    const int address = in[1] + 256 * (in[2] & 0x07);
    Turnout* t = findTurnout(address, dialect_.unknownTurnoutsAnswered);
    if (t == nullptr) return {};
    t->position = (in[2] & 0x80) != 0 ? 1 : 0;
    t->commanded = true;
    return {{0x00}};
  }
  const Turnout* t = findTurnout(in[1] + 256 * in[2], false);
  if (t == nullptr) {
    if (!dialect_.unknownTurnoutsAnswered) return {};
    return {{0x00, 0x04}};  // never commanded: the start position
  }
  return {{0x00, static_cast<std::uint8_t>((t->statusFlag ? 0x01 : 0x00) |
                                           (t->position != 0 ? 0x04 : 0x00))}};
}

Expectation StationModel::locoEvents() {
  Bytes reply;
  if (dialect_.locoEventsOnlyAfterHalt || !p50xOnly_) {
    for (Loco& l : locos_) {
      if (dialect_.locoEventsOnlyAfterHalt && !l.reportWaiting) continue;
      if (reply.size() / 5 == kMaxReportedLocos) break;
      l.reportWaiting = false;
      reply.insert(reply.end(), {l.speed, static_cast<std::uint8_t>(l.functions), l.listed.low,
                                 static_cast<std::uint8_t>((l.flags & 0x30) << 2), l.raw});
    }
  }
  reply.push_back(0x80);
  return {reply};
}

void StationModel::halt() {
  status_ = static_cast<std::uint8_t>(status_ | kHalt);
  for (Loco& l : locos_) {
    if (l.speed == 0) continue;
    l.speed = 0;
    l.raw = 0;
    l.commanded = true;
    l.reportWaiting = true;
  }
}

StationModel::Loco* StationModel::findLoco(std::uint8_t low, std::uint8_t high) {
  for (Loco& l : locos_) {
    if (l.listed.low == low && l.listed.high == high) return &l;
  }
  return nullptr;
}

StationModel::Turnout* StationModel::findTurnout(int address, bool create) {
  const auto it = turnouts_.find(address);
  if (it != turnouts_.end()) return &it->second;
  return create ? &turnouts_[address] : nullptr;
}

// The host's units: the top speed of the direction, scaled, signed by the
// direction; computed in the same single-precision steps the host has always
// been sent, so the printed decimal is the same.
std::string StationModel::speedText(const Loco& l) {
  const bool forward = (l.flags & 0x20) != 0;
  const int top = forward ? l.listed.topForward : l.listed.topReverse;
  const float a = static_cast<float>(static_cast<double>(top) * 3.19284802);
  const int speed = l.speed == 1 ? 0 : static_cast<std::int8_t>(l.speed);
  const float v = static_cast<float>(static_cast<double>(a) * speed / 126);
  char text[32];
  std::snprintf(text, sizeof text, "%3.1f", static_cast<double>(forward ? v : -v));
  return text;
}

std::map<std::string, std::string> StationModel::hostView() const {
  std::map<std::string, std::string> view;
  for (const Loco& l : locos_) {
    if (!l.commanded) continue;
    const std::string& n = l.listed.name;
    view["371;" + n] = "371;" + n + ";1;" + speedText(l) + "\n";
    view["381;" + n] = "381;" + n + ";" + ((l.flags & 0x10) != 0 ? "1" : "0") + "\n";
  }
  for (const auto& [address, t] : turnouts_) {
    if (!t.commanded || t.name.empty()) continue;
    view["305;" + t.name] = "305;" + t.name + ";" + std::to_string(t.position) + ";\n";
  }
  return view;
}

}  // namespace p50x::soak
