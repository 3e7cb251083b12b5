#include "station/command_assembler.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "layout/feedback_image.h"
#include "station/command_table.h"

namespace p50x {

namespace {
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kPromptEnd = 0x5D;  // "]"
constexpr int kMaxHeld = CommandAssembler::kInputSize - 1;

// The answer to the grave-accent "xv" query: the station's identification,
// 35 bytes ending in the prompt.
constexpr char kIdentification[] = "MC Revision 1.4.6\rSerNr.      578\r]";
static_assert(sizeof kIdentification - 1 == 35);

// The baud query is answered with this fixed text whatever the line runs at.
constexpr char kBaudReply[] = "57600\r]";
}  // namespace

CommandAssembler::CommandAssembler(ReplySink& sink, Console& console)
    : console_(console), reply_(sink) {}

void CommandAssembler::feed(int n, const std::uint8_t* bytes) {
  if (n <= 0 || bytes == nullptr) return;
  if (n > kMaxHeld - inputCount_) {
    discardOverlong();
    return;
  }
  std::memcpy(input_ + inputCount_, bytes, static_cast<std::size_t>(n));
  inputCount_ += n;
  // With one byte held, the second byte must read as 0 so a lone "X" waits as
  // text rather than as a binary command.
  input_[inputCount_] = 0;

  switch (classify(n)) {
    case Family::Zero:
      // 00 -> 00
      reply_.send({0x00});
      clear();
      break;
    case Family::Nop:
      // C4 -> CR "]"
      sendPrompt();
      clear();
      break;
    case Family::P50:
      handleP50();
      break;
    case Family::P50Xa:
      handleP50Xa();
      break;
    case Family::P50Xb:
      frameP50Xb();
      break;
  }
}

CommandAssembler::Family CommandAssembler::classify(int deliverySize) const {
  // The one-byte commands are told apart by the size of the delivery, not by
  // what is held: a 00 or C4 arriving with other bytes starts a text command.
  switch (input_[0]) {
    case 0x00:
      return deliverySize == 1 ? Family::Zero : Family::P50;
    case 0xC4:
      return deliverySize == 1 ? Family::Nop : Family::P50;
    case 'X':
    case 'x':
      return (input_[1] & 0x80) != 0 ? Family::P50Xb : Family::P50Xa;
    default:
      return Family::P50;
  }
}

bool CommandAssembler::lastIsCr() const {
  return input_[inputCount_ - 1] == kCr;
}

bool CommandAssembler::startsWith(const char* prefix, int length) const {
  return inputCount_ >= length &&
         std::memcmp(input_, prefix, static_cast<std::size_t>(length)) == 0;
}

void CommandAssembler::handleP50() {
  if (!lastIsCr()) return;
  if (startsWith("ZzA0", 4)) {
    // ZzA0 ... CR -> CR "]"  (leaves P50 text mode; only the prefix counts)
    sendPrompt();
  } else if (startsWith("\x60xv", 3)) {
    // ` x v ... CR -> identification text
    std::memcpy(reply_.area(), kIdentification, sizeof kIdentification - 1);
    reply_.send(sizeof kIdentification - 1);
  } else {
    console_.out("P50-Befehl\n");
  }
  clear();
}

void CommandAssembler::handleP50Xa() {
  if (!lastIsCr()) return;
  if (startsWith("X\r", 2)) {
    // X CR -> CR "]"  (upper case only)
    sendPrompt();
  } else if (startsWith("xb57600\r", 8)) {
    // xb57600 CR -> CR "]"
    sendPrompt();
  } else if (startsWith("xb\r", 3)) {
    // xb CR -> "57600" CR "]"
    std::memcpy(reply_.area(), kBaudReply, sizeof kBaudReply - 1);
    reply_.send(sizeof kBaudReply - 1);
  } else if (startsWith("xse", 3)) {
    // xse ... CR -> "SE <moduleParameter>" CR "]"
    const int parameter = targets_.feedback != nullptr ? targets_.feedback->moduleParameter() : 0;
    char* area = reinterpret_cast<char*>(reply_.area());
    const int length = std::snprintf(area, ReplyChannel::kSize, "SE %d%c%c", parameter, kCr,
                                     static_cast<char>(kPromptEnd));
    if (length > 0) reply_.send(static_cast<std::size_t>(length));
  } else {
    console_.out("P50a-Befehl\n");
  }
  clear();
}

void CommandAssembler::frameP50Xb() {
  if (inputCount_ < 2) return;
  const CommandDescriptor* command = findCommand(input_[1]);
  if (command == nullptr) {
    // Reported as soon as the opcode is seen; the two bytes are dropped.
    char text[64];
    std::snprintf(text, sizeof text, "Unbekannter P50Xb-Befehl %02x %02x ",
                  static_cast<unsigned>(input_[0]), static_cast<unsigned>(input_[1]));
    printPadded(console_, 2, text);
    clear();
    return;
  }
  if (inputCount_ <= command->lastIndex) return;
  // Bytes beyond the command's length (only a multi-byte delivery brings them)
  // go with it.
  dispatchP50Xb(input_, reply_, targets_);
  clear();
}

void CommandAssembler::sendPrompt() {
  reply_.send({kCr, kPromptEnd});
}

void CommandAssembler::discardOverlong() {
  // Nothing completes a text line that never brings its CR; holding on would
  // leave the station deaf. Drop it and let the next byte start afresh.
  clear();
  input_[0] = 0;
  console_.out("Befehl zu lang, verworfen.\n");
}

void CommandAssembler::printPadded(Console& console, int n, const char* text) {
  const long long spaces = 40LL - (3LL * n + 4);
  std::string line;
  if (spaces > 0) line.assign(static_cast<std::size_t>(spaces), ' ');
  if (text != nullptr) line += text;
  console.out(line);
}

}  // namespace p50x
