#include "station/command_assembler.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "layout/feedback_image.h"
#include "station/command_table.h"

namespace p50x {

namespace {
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kPromptEnd = 0x5D;  // "]"
constexpr std::uint8_t kNotSupported = 0x01;
constexpr int kMaxHeld = CommandAssembler::kInputSize - 1;

// The answer to the grave-accent "xv" query: the station's identification,
// 35 bytes ending in the prompt.
constexpr char kIdentification[] = "MC Revision 1.4.6\rSerNr.      578\r]";
static_assert(sizeof kIdentification - 1 == 35);

// The baud query is answered with this fixed text whatever the line runs at.
constexpr char kBaudReply[] = "57600\r]";

bool isPrefix(std::uint8_t byte) {
  return byte == 'X' || byte == 'x';
}
bool isOpcode(std::uint8_t byte) {
  return (byte & 0x80) != 0;
}

// Exact comparison of a whole text line with a literal (CR included).
template <std::size_t N>
bool isLine(const std::uint8_t* line, int length, const char (&literal)[N]) {
  return length == static_cast<int>(N - 1) && std::memcmp(line, literal, N - 1) == 0;
}
}  // namespace

CommandAssembler::CommandAssembler(ReplySink& sink, Console& console)
    : console_(console), reply_(sink) {}

void CommandAssembler::feed(int n, const std::uint8_t* bytes) {
  if (n <= 0 || bytes == nullptr) return;
  for (int i = 0; i < n; ++i) {
    // A mode switch inside a delivery hands the rest to the new mode.
    if (mode_ == StationMode::Mixed) {
      feedMixed(n - i, bytes + i);
      return;
    }
    feedP50XOnly(bytes[i]);
  }
}

// ---------------------------------------------------------------- mixed mode

void CommandAssembler::feedMixed(int n, const std::uint8_t* bytes) {
  // A byte with bit 7 set cannot belong to a text line: after an "X"/"x" it is
  // the opcode of a binary command, and whatever text was held before has lost
  // its CR. Looked at before the overflow check, so a nearly full line cannot
  // swallow the command that follows it.
  if (isOpcode(bytes[0]) && inputCount_ >= 2 && !holdsBinary() &&
      isPrefix(input_[inputCount_ - 1])) {
    restartAt(inputCount_ - 1);
  }
  if (n > kMaxHeld - inputCount_) {
    discardOverlong();
    return;
  }
  const int held = inputCount_;
  std::memcpy(input_ + inputCount_, bytes, static_cast<std::size_t>(n));
  inputCount_ += n;
  // With one byte held, the second byte must read as 0 so a lone "X" waits as
  // text rather than as a binary command.
  input_[inputCount_] = 0;

  Family family = classify(n);
  if (family == Family::P50 || family == Family::P50Xa) {
    // The same inside a delivery of several bytes.
    if (const int start = prefixedOpcodeInText(held + 1); start > 0) {
      restartAt(start);
      family = Family::P50Xb;
    }
  }

  switch (family) {
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
      return isOpcode(input_[1]) ? Family::P50Xb : Family::P50Xa;
    default:
      return Family::P50;
  }
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
  } else if (startsWith("xZzA1\r", 6) || startsWith("XZzA1\r", 6)) {
    // xZzA1 CR -> CR "]", and from now on P50X-only mode
    sendPrompt();
    mode_ = StationMode::P50XOnly;
  } else if (input_[0] == 'x' && sendCommonP50XaReply(input_ + 1, inputCount_ - 1)) {
    // answered
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
  dispatchP50Xb(input_ + 1, reply_, targets_, mode_);
  clear();
}

// The P50Xa text commands both modes know, given the line after its "x" and up
// to its CR. Returns false when the line is none of them.
bool CommandAssembler::sendCommonP50XaReply(const std::uint8_t* line, int length) {
  if (length >= 7 && std::memcmp(line, "b57600\r", 7) == 0) {
    // xb57600 CR -> CR "]"
    sendPrompt();
  } else if (length >= 2 && std::memcmp(line, "b\r", 2) == 0) {
    // xb CR -> "57600" CR "]"
    std::memcpy(reply_.area(), kBaudReply, sizeof kBaudReply - 1);
    reply_.send(sizeof kBaudReply - 1);
  } else if (length >= 2 && std::memcmp(line, "se", 2) == 0) {
    // xse ... CR -> "SE <moduleParameter>" CR "]"
    const int parameter = targets_.feedback != nullptr ? targets_.feedback->moduleParameter() : 0;
    char* area = reinterpret_cast<char*>(reply_.area());
    const int written = std::snprintf(area, ReplyChannel::kSize, "SE %d%c%c", parameter, kCr,
                                      static_cast<char>(kPromptEnd));
    if (written > 0) reply_.send(static_cast<std::size_t>(written));
  } else {
    return false;
  }
  return true;
}

// ----------------------------------------------------------- P50X-only mode

void CommandAssembler::feedP50XOnly(std::uint8_t byte) {
  // Checked on arrival, no timer: a client that lost a byte waits for its
  // reply, gives up and sends its next command well after the pause.
  TimePoint now{};
  bool haveNow = false;
  if (inputCount_ > 0 && holdsBinary()) {
    now = clock_();
    haveNow = true;
    if (now - lastBinaryByte_ > kBinaryPause) {
      const int prefix = isPrefix(input_[0]) ? 1 : 0;
      console_.print("Unvollstaendiger P50Xb-Befehl %02x (%d Bytes) verworfen.\n",
                     static_cast<unsigned>(input_[prefix]), inputCount_);
      clear();
    }
  }
  if (inputCount_ > 0 && !holdsBinary() && isOpcode(byte)) {
    // Text is 7-bit: an opcode ends the line, which never got its CR. An
    // "X"/"x" right before the opcode is its prefix and stays with it.
    const int last = inputCount_ - 1;
    if (!isPrefix(input_[last])) {
      restartAt(inputCount_);
    } else if (last > 0) {
      restartAt(last);
    }
  }
  if (inputCount_ >= kMaxHeld) {
    discardOverlong();
    return;
  }
  input_[inputCount_++] = byte;
  input_[inputCount_] = 0;

  if (inputCount_ == 1 && byte == 0x00) {
    // 00 -> 00
    reply_.send({0x00});
    clear();
    return;
  }
  if (holdsBinary()) {
    frameBinary(isPrefix(input_[0]) ? 1 : 0);
  } else {
    handleP50XOnlyText();
  }
  if (mode_ == StationMode::P50XOnly && inputCount_ > 0 && holdsBinary()) {
    lastBinaryByte_ = haveNow ? now : clock_();
  }
}

// opcode [params]  or  X/x opcode [params]. Unknown opcodes and the table rows
// without a handler are answered too; only a handler's own "nothing" (an
// unknown turnout, say) leaves the client without a reply.
void CommandAssembler::frameBinary(int prefixLength) {
  const std::uint8_t opcode = input_[prefixLength];
  const CommandDescriptor* row = findCommand(opcode);
  const bool inTable = row != nullptr;
  if (!inTable) row = findProgrammingTrackCommand(opcode);
  if (row == nullptr) {
    // Its length is unknown, so it is answered at once; its parameter bytes,
    // if any, then arrive as commands of their own.
    console_.print("Unbekannter P50Xb-Befehl %02x\n", static_cast<unsigned>(opcode));
    reply_.send({kNotSupported});
    clear();
    return;
  }
  // Without its prefix a command is one byte shorter than the table's count.
  if (inputCount_ < prefixLength + row->lastIndex) return;
  if (inTable) {
    dispatchP50Xb(input_ + prefixLength, reply_, targets_, mode_);
  } else {
    console_.print("Programmiergleis-Befehl %02x nicht unterstuetzt.\n",
                   static_cast<unsigned>(opcode));
    reply_.send({kNotSupported});
  }
  clear();
}

// P50Xa text commands with the "x"/"X" optional, and the two mode commands.
// The line ends at its first CR, so every comparison is exact.
void CommandAssembler::handleP50XOnlyText() {
  if (!lastIsCr()) return;
  const std::uint8_t* line = input_;
  int length = inputCount_;
  if (isPrefix(line[0])) {
    ++line;
    --length;
  }
  if (isLine(line, length, "ZzA0\r")) {
    // ZzA0 CR -> CR "]", back to mixed mode. Taken with a prefix too, so a
    // client that died in P50X-only mode cannot lock out the next one.
    sendPrompt();
    mode_ = StationMode::Mixed;
  } else if (isLine(line, length, "ZzA1\r") || isLine(line, length, "\r")) {
    // ZzA1 CR, X CR -> CR "]"
    sendPrompt();
  } else if (sendCommonP50XaReply(line, length)) {
    // answered
  } else {
    console_.out("P50a-Befehl\n");
  }
  clear();
}

// ------------------------------------------------------------------- common

bool CommandAssembler::holdsBinary() const {
  if (mode_ == StationMode::P50XOnly && isOpcode(input_[0])) return true;
  return isPrefix(input_[0]) && isOpcode(input_[1]);
}

// Start of the "X"/"x" of a prefixed opcode inside held text, looking at
// opcodes from index `from` on; 0 when there is none. An opcode right after a
// leading "X"/"x" is a binary command already, not text.
int CommandAssembler::prefixedOpcodeInText(int from) const {
  for (int k = std::max(2, from); k < inputCount_; ++k) {
    if (isOpcode(input_[k]) && isPrefix(input_[k - 1])) return k - 1;
  }
  return 0;
}

// Drops the held bytes before `start` with one notice; what follows moves up.
void CommandAssembler::restartAt(int start) {
  console_.print("Unvollstaendiger Textbefehl (%d Bytes) verworfen.\n", start);
  const int kept = inputCount_ - start;
  std::memmove(input_, input_ + start, static_cast<std::size_t>(kept));
  inputCount_ = kept;
  input_[inputCount_] = 0;
}

bool CommandAssembler::lastIsCr() const {
  return input_[inputCount_ - 1] == kCr;
}

bool CommandAssembler::startsWith(const char* prefix, int length) const {
  return inputCount_ >= length &&
         std::memcmp(input_, prefix, static_cast<std::size_t>(length)) == 0;
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
