#include "trace_words.h"

#include <cstdio>

namespace p50x::trace {

namespace {
std::string format(const char* pattern, int a, int b = 0) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, a, b);
  return text;
}

// The functions whose bits are set, bit 0 first; empty when none is.
std::string functionsOn(std::uint8_t bits, int first, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    if ((bits & (1 << i)) == 0) continue;
    if (!text.empty()) text += ' ';
    text += "F" + std::to_string(first + i);
  }
  return text;
}

int address(std::uint8_t low, std::uint8_t high) {
  return low | (high << 8);
}

// XLok: 80 al ah speed flags; XLokX: 81 al ah step flags. Speed 1 is the
// emergency stop; the function bits count only with bit 7 ("change functions").
std::string lokWords(const char* name, const std::uint8_t* p, bool steps) {
  std::string words = std::string(name) + " " + std::to_string(address(p[0], p[1]));
  if (!steps && p[2] == 1) {
    words += " emergency stop";
  } else {
    words += (steps ? " step " : " speed ") + std::to_string(p[2]);
  }
  return words + " " + locoFlags(p[3], (p[3] & 0x80) != 0);
}

// XTrnt: 90 al second; second: bits 0-2 address high, bit 6 coil, bit 7 green.
std::string trntWords(const std::uint8_t* p) {
  std::string words = "XTrnt " + std::to_string(address(p[0], p[1] & 0x07));
  words += (p[1] & 0x80) != 0 ? " green" : " red";
  words += (p[1] & 0x40) != 0 ? " coil on" : " coil off";
  return words;
}

// Parameter bytes the words below read, by opcode; a command table that
// frames a command shorter than that gets the plain form.
int parametersRead(std::uint8_t opcode) {
  switch (opcode) {
    case 0x80:
    case 0x81:
    case 0x8A:
      return 4;
    case 0x88:
    case 0x89:
      return 3;
    case 0x84:
    case 0x85:
    case 0x8C:
    case 0x8D:
    case 0x8E:
    case 0x90:
    case 0x94:
    case 0x9D:
    case 0xA4:
      return 2;
    case 0x95:
    case 0x98:
    case 0x9C:
      return 1;
    default:
      return 0;
  }
}

std::string binaryWords(const Framed& c) {
  const std::uint8_t* body = c.body();
  const std::uint8_t* p = body + 1;
  const std::string name = c.row->name;
  if (c.programmingTrack)
    return name + " " + hexBytes(body, static_cast<std::size_t>(c.bodySize()));
  if (c.bodySize() - 1 < parametersRead(body[0])) {
    return c.bodySize() <= 1 ? name
                             : name + " " + hexBytes(p, static_cast<std::size_t>(c.bodySize() - 1));
  }
  switch (body[0]) {
    case 0x80:
      return lokWords("XLok", p, false);
    case 0x81:
      return lokWords("XLokX", p, true);
    case 0x84:  // XLokSts al ah
    case 0x85:  // XLokCfg al ah
    case 0x8C:  // XFuncSts al ah
    case 0x8D:  // XFuncXSts al ah
    case 0x8E:  // XFunc34Sts al ah
    case 0x94:  // XTrntSts al ah
      return name + " " + std::to_string(address(p[0], p[1]));
    case 0x88:  // XFunc al ah f1..f8
      return name + " " + std::to_string(address(p[0], p[1])) + " " + functionList(p[2], 1, 8);
    case 0x89:  // XFuncX al ah f9..f16
      return name + " " + std::to_string(address(p[0], p[1])) + " " + functionList(p[2], 9, 8);
    case 0x8A: {  // XFunc34 al ah f17..f24 f25..f28
      std::string on = functionsOn(p[2], 17, 8);
      const std::string high = functionsOn(p[3] & 0x0F, 25, 4);
      if (!on.empty() && !high.empty()) on += ' ';
      on += high;
      return name + " " + std::to_string(address(p[0], p[1])) + " " +
             (on.empty() ? std::string("F17-F28 off") : on);
    }
    case 0x90:
      return trntWords(p);
    case 0x95:  // XTrntGrp g
      return name + " " + std::to_string(p[0]) +
             format(" (turnouts %d-%d)", 8 * (p[0] - 1) + 1, 8 * p[0]);
    case 0x98:  // XSensor module
      return name + " " + std::to_string(p[0]);
    case 0x9C:  // X88PGet parameter
      return name + " " + std::to_string(p[0]);
    case 0x9D:  // X88PSet parameter value
      return name + " " + std::to_string(p[0]) + " = " + std::to_string(p[1]);
    case 0xA4:  // XSoGet lo hi
      return name + " " + std::to_string(address(p[0], p[1]));
    default:
      break;
  }
  if (c.bodySize() <= 1) return name;
  return name + " " + hexBytes(p, static_cast<std::size_t>(c.bodySize() - 1));
}
}  // namespace

std::string commandWords(const Framed& c) {
  switch (c.kind) {
    case Framed::Kind::OneByte:
      return hexBytes(c.bytes.data(), 1);
    case Framed::Kind::Text: {
      // The CR that ends every line goes without saying.
      std::size_t length = c.bytes.size();
      if (length > 0 && c.bytes[length - 1] == 0x0D) --length;
      return quotedText(c.bytes.data(), length);
    }
    case Framed::Kind::Binary:
      return binaryWords(c);
    case Framed::Kind::Unknown:
      return "unknown opcode " + hexBytes(c.body(), 1);
    case Framed::Kind::CutShort: {
      std::string what;
      if (c.row != nullptr) {
        what = c.row->name;
      } else if (c.bytes.size() >= 2 && (c.bytes[0] == 'X' || c.bytes[0] == 'x') &&
                 (c.bytes[1] & 0x80) != 0) {
        what = "binary command";
      } else if (c.mode == Mode::P50XOnly && (c.bytes[0] & 0x80) != 0) {
        what = "binary command";
      } else {
        what = "text " + quotedText(c.bytes.data(), c.bytes.size());
        return what + " cut short";
      }
      return what + " cut short: " + hexBytes(c.bytes.data(), c.bytes.size());
    }
  }
  return {};
}

std::string hexBytes(const std::uint8_t* bytes, std::size_t count) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) text += ' ';
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 0x0F];
  }
  return text;
}

std::string quotedText(const std::uint8_t* bytes, std::size_t count) {
  std::string text = "\"";
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t b = bytes[i];
    if (b == '"' || b == '\\') {
      text += '\\';
      text += static_cast<char>(b);
    } else if (b == 0x0D) {
      text += "\\r";
    } else if (b == 0x0A) {
      text += "\\n";
    } else if (b >= 0x20 && b < 0x7F) {
      text += static_cast<char>(b);
    } else {
      text += "\\x" + hexBytes(&b, 1);
    }
  }
  return text + "\"";
}

std::string functionList(std::uint8_t bits, int first, int count) {
  const std::string on = functionsOn(bits, first, count);
  return on.empty() ? format("F%d-F%d off", first, first + count - 1) : on;
}

std::string locoFlags(std::uint8_t flags, bool withFunctions) {
  std::string text = (flags & 0x20) != 0 ? "forward" : "reverse";
  if ((flags & 0x10) != 0) text += " light";
  if (withFunctions) text += " " + functionList(flags & 0x0F, 1, 4);
  return text;
}

}  // namespace p50x::trace
