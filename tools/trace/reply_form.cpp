#include "reply_form.h"

#include <cstring>

#include "station/text_commands.h"
#include "trace_words.h"

namespace p50x::trace {

namespace {
enum class Form {
  Status,        // a status byte; after 00 the data of the command, else nothing
  Byte,          // one byte of its own meaning (XStatus)
  Events,        // XEvent: bytes until one without bit 7
  Version,       // XVer: length-prefixed fields closed by a zero length
  LocoEvents,    // XEvtLok: 5-byte records closed by 80
  SensorEvents,  // XEvtSen: 3-byte records closed by 00
  Prompt,        // CR "]"
  Text,          // text up to and including CR "]"
  TextLine,      // text up to and including CR: the text halt's "Ok"
  Zero,          // the one-byte command 00 is answered 00
};

struct Shape {
  Form form;
  int okLength = 1;   // Status: the whole reply after 00
  bool ffOk = false;  // XFunc: the classic station's FF for carried out
};

constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kPromptEnd = 0x5D;

Shape shapeOf(const Framed& c) {
  switch (c.kind) {
    case Framed::Kind::OneByte:
      return {c.bytes[0] == 0x00 ? Form::Zero : Form::Prompt};
    case Framed::Kind::Text: {
      const StationMode mode = c.mode == Mode::Mixed ? StationMode::Mixed : StationMode::P50XOnly;
      const TextCommand* command =
          findTextCommand(c.bytes.data(), static_cast<int>(c.bytes.size()), mode);
      return {command != nullptr && command->reply == TextReply::Halt ? Form::TextLine
                                                                      : Form::Text};
    }
    case Framed::Kind::Unknown:
    case Framed::Kind::CutShort:
      return {Form::Status};
    case Framed::Kind::Binary:
      break;
  }
  if (c.programmingTrack) return {Form::Status};
  switch (c.body()[0]) {
    case 0x84:  // XLokSts    -> 00 speed flags steps
      return {Form::Status, 4};
    case 0x85:  // XLokCfg    -> 00 mode cfg FF FF
      return {Form::Status, 5};
    case 0x88:  // XFunc      -> 00 | FF
      return {Form::Status, 1, true};
    case 0x8C:  // XFuncSts   -> 00 f1..f8
    case 0x8D:  // XFuncXSts  -> 00 f9..f16
    case 0x94:  // XTrntSts   -> 00 status
    case 0x9C:  // X88PGet    -> 00 value
      return {Form::Status, 2};
    case 0x8E:  // XFunc34Sts -> 00 f17..f24 f25..f28
    case 0x95:  // XTrntGrp   -> 00 bits 00
    case 0x98:  // XSensor    -> 00 byte1 byte2
      return {Form::Status, 3};
    case 0xA0:
      return {Form::Version};
    case 0xA2:
      return {Form::Byte};
    case 0xC8:
      return {Form::Events};
    case 0xC9:
      return {Form::LocoEvents};
    case 0xCB:
      return {Form::SensorEvents};
    default:
      return {Form::Status};
  }
}

bool isErrorStatus(std::uint8_t status) {
  return status == 0x01 || status == 0x02 || status == 0x41;
}

bool isLocoCommand(std::uint8_t opcode) {
  switch (opcode) {
    case 0x80:
    case 0x81:
    case 0x84:
    case 0x85:
    case 0x88:
    case 0x89:
    case 0x8A:
    case 0x8C:
    case 0x8D:
    case 0x8E:
      return true;
    default:
      return false;
  }
}

std::string statusWord(const Framed& c, std::uint8_t status) {
  const std::string hex = hexBytes(&status, 1);
  switch (status) {
    case 0x00:
      return hex + " ok";
    case 0x01:
      return hex + " not supported";
    case 0x02:
      if (c.kind == Framed::Kind::Binary && !c.programmingTrack) {
        if (isLocoCommand(c.body()[0])) return hex + " unknown locomotive";
        if (c.body()[0] == 0xA4) return hex + " no such option";
      }
      return hex + " bad parameter";
    case 0x41:
      return hex + " halted";
    case 0xFF:
      return hex + " ok";
    default:
      return hex + " error";
  }
}

// Contacts 1-8 are bits 7 to 0 of the first byte, 9-16 of the second.
std::string contacts(std::uint8_t first, std::uint8_t second) {
  std::string text;
  for (int contact = 1; contact <= 16; ++contact) {
    const std::uint8_t byte = contact <= 8 ? first : second;
    const int bit = 7 - (contact - 1) % 8;
    if ((byte & (1 << bit)) == 0) continue;
    text += (text.empty() ? "occupied " : " ") + std::to_string(contact);
  }
  return text.empty() ? "free" : text;
}

std::string statusData(const Framed& c, const std::uint8_t* r) {
  const std::uint8_t* p = c.body() + 1;
  switch (c.body()[0]) {
    case 0x84:
      return "speed " + std::to_string(r[1]) + " " + locoFlags(r[2], true) + ", step " +
             std::to_string(r[3]);
    case 0x85:
      return "step mode " + std::to_string(r[1]) + ", config " + std::to_string(r[2]);
    case 0x8C:
      return functionList(r[1], 1, 8);
    case 0x8D:
      return functionList(r[1], 9, 8);
    case 0x8E:
      return functionList(r[1], 17, 8) + ", " + functionList(r[2] & 0x0F, 25, 4);
    case 0x94:
      return std::string((r[1] & 0x04) != 0 ? "green" : "red") +
             ((r[1] & 0x01) != 0 ? ", flag" : "");
    case 0x95: {
      // Bit i is turnout 8(g-1)+1+i of group g.
      const int group = c.bodySize() >= 2 ? p[0] : 1;
      std::string green;
      for (int i = 0; i < 8; ++i) {
        if ((r[1] & (1 << i)) != 0) green += " " + std::to_string(8 * (group - 1) + 1 + i);
      }
      return green.empty() ? "none green" : "green" + green;
    }
    case 0x98:
      return contacts(r[1], r[2]);
    case 0x9C:
      return std::to_string(r[1]);
    default:
      return {};
  }
}

std::string versionWords(const std::uint8_t* r, std::size_t length) {
  std::string text = "version";
  std::size_t i = 0;
  bool first = true;
  while (i < length && r[i] != 0) {
    const std::size_t n = r[i];
    text += first ? " " : ", ";
    for (std::size_t k = 0; k < n && i + 1 + k < length; ++k) {
      if (first) {
        text += (k > 0 ? "." : "") + std::to_string(r[i + 1 + k]);
      } else {
        text += (k > 0 ? " " : "") + hexBytes(&r[i + 1 + k], 1);
      }
    }
    first = false;
    i += 1 + n;
  }
  return text;
}

// Record: speed, F1-F8, address low, bit 7 forward | bit 6 light | address
// high, the speed as sent.
std::string locoEventWords(const std::uint8_t* r, std::size_t length) {
  std::string text;
  for (std::size_t i = 0; i + 5 <= length; i += 5) {
    const std::uint8_t* rec = r + i;
    if (!text.empty()) text += "; ";
    const int address = rec[2] | ((rec[3] & 0x3F) << 8);
    const auto flags = static_cast<std::uint8_t>(((rec[3] & 0x80) >> 2) | ((rec[3] & 0x40) >> 2));
    text += std::to_string(address) + ": speed " + std::to_string(rec[0]) + " " +
            locoFlags(flags, false);
    if (rec[1] != 0) text += " " + functionList(rec[1], 1, 8);
  }
  return text.empty() ? "none" : text;
}

std::string sensorEventWords(const std::uint8_t* r, std::size_t length) {
  std::string text;
  for (std::size_t i = 0; i + 3 <= length; i += 3) {
    if (!text.empty()) text += "; ";
    text += std::to_string(r[i]) + ": " + contacts(r[i + 1], r[i + 2]);
  }
  return text.empty() ? "none" : text;
}
}  // namespace

int replyLength(const Framed& c, const std::uint8_t* r, std::size_t count) {
  if (count == 0) return -1;
  const Shape shape = shapeOf(c);
  const auto whole = [count](std::size_t n) { return n <= count ? static_cast<int>(n) : -1; };
  switch (shape.form) {
    case Form::Status:
      if (r[0] == 0x00) return whole(static_cast<std::size_t>(shape.okLength));
      if (isErrorStatus(r[0]) || (shape.ffOk && r[0] == 0xFF)) return 1;
      return -1;
    case Form::Byte:
      return 1;
    case Form::Events:
      for (std::size_t i = 0; i < count; ++i) {
        if ((r[i] & 0x80) == 0) return static_cast<int>(i + 1);
      }
      return -1;
    case Form::Version:
      for (std::size_t i = 0; i < count; i += 1 + r[i]) {
        if (r[i] == 0) return static_cast<int>(i + 1);
      }
      return -1;
    case Form::LocoEvents:
      for (std::size_t i = 0; i < count; i += 5) {
        if (r[i] == 0x80) return static_cast<int>(i + 1);
      }
      return -1;
    case Form::SensorEvents:
      for (std::size_t i = 0; i < count; i += 3) {
        if (r[i] == 0x00) return static_cast<int>(i + 1);
      }
      return -1;
    case Form::Prompt:
      return count >= 2 && r[0] == kCr && r[1] == kPromptEnd ? 2 : -1;
    case Form::Text:
      for (std::size_t i = 0; i + 1 < count; ++i) {
        if (r[i] == kCr && r[i + 1] == kPromptEnd) return static_cast<int>(i + 2);
      }
      return -1;
    case Form::TextLine:
      for (std::size_t i = 0; i < count; ++i) {
        if (r[i] == kCr) return static_cast<int>(i + 1);
      }
      return -1;
    case Form::Zero:
      return r[0] == 0x00 ? 1 : -1;
  }
  return -1;
}

bool replyLoggedTwice(const Framed& c, const std::uint8_t* r, std::size_t length) {
  return c.kind == Framed::Kind::Binary && !c.programmingTrack && c.body()[0] == 0x9C &&
         length == 2 && r[0] == 0x00;
}

std::string replyWords(const Framed& c, const std::uint8_t* r, std::size_t length) {
  if (length == 0) return "no reply";
  const Shape shape = shapeOf(c);
  switch (shape.form) {
    case Form::Status: {
      std::string words = statusWord(c, r[0]);
      if (r[0] == 0x00 && length > 1) {
        const std::string data = statusData(c, r);
        if (!data.empty()) words += ": " + data;
      }
      return words;
    }
    case Form::Byte: {
      std::string words = hexBytes(r, 1) + ((r[0] & 0x08) != 0 ? " power on" : " power off");
      if ((r[0] & 0x10) != 0) words += ", halted";
      return words;
    }
    case Form::Events:
      if (length == 1 && r[0] == 0x00) return "00 nothing new";
      if (length == 1 && r[0] == 0x04) return "04 feedback changed";
      if (length == 1 && r[0] == 0x01) return "01 locomotives changed";
      if (length == 1 && r[0] == 0x05) return "05 locomotives and feedback changed";
      return hexBytes(r, length) + " events";
    case Form::Version:
      return versionWords(r, length);
    case Form::LocoEvents:
      return locoEventWords(r, length - 1);
    case Form::SensorEvents:
      return sensorEventWords(r, length - 1);
    case Form::Prompt:
      return "prompt";
    case Form::Text:
      if (length == 2 && r[0] == kCr && r[1] == kPromptEnd) return "prompt";
      return quotedText(r, length);
    case Form::TextLine:
      return quotedText(r, length);
    case Form::Zero:
      return "00";
  }
  return hexBytes(r, length);
}

}  // namespace p50x::trace
