#include "station_view.h"

#include <algorithm>
#include <cstdio>

#include "station/text_commands.h"

namespace p50x::trace {

namespace {
constexpr std::uint8_t kDirectionBit = 0x20;
constexpr std::uint8_t kLightBit = 0x10;
constexpr std::uint8_t kChangeFunctions = 0x80;
constexpr std::uint8_t kPowerBit = 0x08;
constexpr std::uint8_t kHaltBit = 0x10;
constexpr std::uint8_t kOk = 0x00;
constexpr std::uint8_t kHalted = 0x41;

int address(std::uint8_t low, std::uint8_t high) {
  return low | (high << 8);
}

void setBits(std::uint32_t& functions, int first, int count, std::uint8_t bits) {
  const std::uint32_t mask = ((1u << count) - 1u) << first;
  functions = (functions & ~mask) | ((static_cast<std::uint32_t>(bits) << first) & mask);
}

// Contacts 1-8 are bits 7 to 0 of the first module byte, 9-16 of the second.
std::uint16_t contactBits(std::uint8_t first, std::uint8_t second) {
  std::uint16_t bits = 0;
  for (int contact = 1; contact <= 16; ++contact) {
    const std::uint8_t byte = contact <= 8 ? first : second;
    if ((byte & (1 << (7 - (contact - 1) % 8))) != 0) {
      bits = static_cast<std::uint16_t>(bits | (1u << (contact - 1)));
    }
  }
  return bits;
}

std::string functionsOn(std::uint32_t functions) {
  std::string text;
  for (int f = 0; f < 28; ++f) {
    if ((functions & (1u << f)) != 0) text += " F" + std::to_string(f + 1);
  }
  return text;
}
}  // namespace

void StationView::bridgeStarted() {
  powerOn_ = true;
  halted_ = false;
  mode_ = Mode::Mixed;
  locos_.clear();
  turnouts_.clear();
  contacts_.clear();
}

void StationView::exchanged(const Exchange& exchange) {
  const Framed& c = exchange.command;
  // The mode follows the station's framing, whatever the reply.
  mode_ = c.mode;
  if (c.switchesMode) mode_ = c.mode == Mode::Mixed ? Mode::P50XOnly : Mode::Mixed;
  if (exchange.reply.empty()) return;
  if (c.kind == Framed::Kind::Binary && !c.programmingTrack) {
    binary(c, exchange.reply);
  } else if (c.kind == Framed::Kind::Text) {
    // The text form of XHalt, found the way the station finds it.
    const TextCommand* command =
        findTextCommand(c.bytes.data(), static_cast<int>(c.bytes.size()),
                        c.mode == Mode::Mixed ? StationMode::Mixed : StationMode::P50XOnly);
    if (command != nullptr && command->reply == TextReply::Halt) halt();
  }
}

void StationView::halt() {
  halted_ = true;
  for (auto& [at, loco] : locos_) {
    loco.speed = 0;
    loco.step = -1;
  }
}

void StationView::binary(const Framed& c, const std::vector<std::uint8_t>& reply) {
  const std::uint8_t* body = c.body();
  const std::uint8_t* p = body + 1;
  const std::uint8_t opcode = body[0];
  const bool ok = reply[0] == kOk;
  switch (opcode) {
    case 0x80:  // XLok al ah speed flags
    case 0x81:  // XLokX al ah step flags
    case 0x88:  // XFunc al ah f1..f8
    case 0x89:  // XFuncX al ah f9..f16
    case 0x8A:  // XFunc34 al ah f17..f24 f25..f28
      locoCommand(opcode, address(p[0], p[1]), p, reply);
      return;
    case 0x84:  // XLokSts al ah -> 00 speed flags steps
    case 0x8C:  // XFuncSts al ah -> 00 f1..f8
    case 0x8D:  // XFuncXSts al ah -> 00 f9..f16
    case 0x8E:  // XFunc34Sts al ah -> 00 f17..f24 f25..f28
      locoStatus(opcode, address(p[0], p[1]), reply);
      return;
    case 0x90:  // XTrnt al second: bits 0-2 address high, bit 7 green
      if (ok) turnouts_[address(p[0], p[1] & 0x07)] = (p[1] & 0x80) != 0;
      return;
    case 0x94: {  // XTrntSts al ah -> 00 status, bit 2 green
      const auto known = turnouts_.find(address(p[0], p[1]));
      if (ok && reply.size() >= 2 && known != turnouts_.end()) {
        known->second = (reply[1] & 0x04) != 0;
      }
      return;
    }
    case 0x98:  // XSensor module -> 00 byte1 byte2
      if (ok && reply.size() >= 3) contacts_[p[0]] = contactBits(reply[1], reply[2]);
      return;
    case 0x99:  // XSensOff: mixed mode clears the image
      if (ok && c.mode == Mode::Mixed) contacts_.clear();
      return;
    case 0xCB:  // XEvtSen -> (module byte1 byte2)... 00
      for (std::size_t i = 0; i + 3 <= reply.size() && reply[i] != 0; i += 3) {
        contacts_[reply[i]] = contactBits(reply[i + 1], reply[i + 2]);
      }
      return;
    case 0xA2:  // XStatus -> status byte
      powerOn_ = (reply[0] & kPowerBit) != 0;
      halted_ = (reply[0] & kHaltBit) != 0;
      return;
    case 0xA5:  // XHalt: every locomotive stops
      if (ok) halt();
      return;
    case 0xA6:  // XPwrOff
      if (ok) powerOn_ = halted_ = false;
      return;
    case 0xA7:  // XPwrOn
      if (ok) {
        powerOn_ = true;
        halted_ = false;
      }
      return;
    default:
      return;
  }
}

void StationView::locoCommand(std::uint8_t opcode, int at, const std::uint8_t* p,
                              const std::vector<std::uint8_t>& reply) {
  const bool refusedSpeed = reply[0] == kHalted && (opcode == 0x80 || opcode == 0x81);
  // XFunc answers FF on the classic station: carried out there too.
  if (reply[0] != kOk && !refusedSpeed && !(opcode == 0x88 && reply[0] == 0xFF)) return;
  Loco& loco = locos_[at];
  switch (opcode) {
    case 0x80:
    case 0x81: {
      const std::uint8_t flags = p[3];
      loco.forward = (flags & kDirectionBit) != 0;
      loco.light = (flags & kLightBit) != 0;
      if ((flags & kChangeFunctions) != 0) setBits(loco.functions, 0, 4, flags);
      // XLokX steps become a speed by the locomotive's step mode, which the
      // trace does not know; the step is shown until XLokSts tells the speed.
      const bool steps = opcode == 0x81 && !refusedSpeed && p[2] != 0;
      loco.speed = refusedSpeed || opcode == 0x81 ? 0 : p[2];
      loco.step = steps ? p[2] : -1;
      return;
    }
    case 0x88:
      setBits(loco.functions, 0, 8, p[2]);
      return;
    case 0x89:
      setBits(loco.functions, 8, 8, p[2]);
      return;
    default:  // 0x8A
      setBits(loco.functions, 16, 8, p[2]);
      setBits(loco.functions, 24, 4, p[3]);
      return;
  }
}

void StationView::locoStatus(std::uint8_t opcode, int at, const std::vector<std::uint8_t>& reply) {
  const auto known = locos_.find(at);
  if (known == locos_.end() || reply[0] != kOk) return;
  Loco& loco = known->second;
  if (opcode == 0x84 && reply.size() >= 4) {
    loco.speed = reply[1];
    loco.step = -1;
    loco.forward = (reply[2] & kDirectionBit) != 0;
    loco.light = (reply[2] & kLightBit) != 0;
    setBits(loco.functions, 0, 4, reply[2]);
  } else if (opcode == 0x8C && reply.size() >= 2) {
    setBits(loco.functions, 0, 8, reply[1]);
  } else if (opcode == 0x8D && reply.size() >= 2) {
    setBits(loco.functions, 8, 8, reply[1]);
  } else if (opcode == 0x8E && reply.size() >= 3) {
    setBits(loco.functions, 16, 8, reply[1]);
    setBits(loco.functions, 24, 4, reply[2]);
  }
}

std::vector<std::string> StationView::lines() const {
  std::vector<std::string> out;
  out.push_back(std::string("power ") + (powerOn_ ? "on" : "off") + (halted_ ? ", halted" : "") +
                "; " + (mode_ == Mode::Mixed ? "mixed mode" : "P50X-only mode"));

  std::size_t nameWidth = 0;
  for (const auto& [at, loco] : locos_) {
    if (const auto name = names_.find(at); name != names_.end()) {
      nameWidth = std::max(nameWidth, name->second.size() + 1);
    }
  }
  out.push_back(locos_.empty() ? "locomotives: none commanded" : "locomotives:");
  for (const auto& [at, loco] : locos_) {
    const auto name = names_.find(at);
    std::string text = name != names_.end() ? name->second : "";
    text.resize(nameWidth, ' ');
    std::string state;
    if (loco.step >= 0) {
      state = "step " + std::to_string(loco.step);
    } else if (loco.speed == 1) {
      state = "emergency stop";
    } else {
      state = "speed " + std::to_string(loco.speed);
    }
    state += loco.forward ? " forward" : " reverse";
    if (loco.light) state += " light";
    char head[16];
    std::snprintf(head, sizeof head, "  %5d ", at);
    out.push_back(head + text + state + functionsOn(loco.functions));
  }

  out.push_back(turnouts_.empty() ? "turnouts: none switched" : "turnouts:");
  for (const auto& [at, green] : turnouts_) {
    char line[32];
    std::snprintf(line, sizeof line, "  %5d %s", at, green ? "green" : "red");
    out.emplace_back(line);
  }

  std::vector<std::string> occupied;
  for (const auto& [module, bits] : contacts_) {
    if (bits == 0) continue;
    std::string text = "  module " + std::to_string(module) + ":";
    for (int contact = 1; contact <= 16; ++contact) {
      if ((bits & (1u << (contact - 1))) != 0) text += " " + std::to_string(contact);
    }
    occupied.push_back(text);
  }
  out.push_back(occupied.empty() ? "contacts occupied: none" : "contacts occupied:");
  out.insert(out.end(), occupied.begin(), occupied.end());
  return out;
}

}  // namespace p50x::trace
