#include "station/command_assembler.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "layout/feedback_image.h"
#include "seams/reply_status.h"

namespace p50x {

namespace {
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kPromptEnd = 0x5D;  // "]"
constexpr int kMaxHeld = CommandAssembler::kInputSize - 1;

// The answer to the grave-accent "xv" query: the station's identification,
// 35 bytes ending in the prompt. Control software identifies the station by
// this text and decides from it which commands it may send, so it stays byte
// for byte, revision and serial number included.
constexpr char kIdentification[] = "MC Revision 1.4.6\rSerNr.      578\r]";
static_assert(sizeof kIdentification - 1 == 35);

// The baud query is answered with this fixed text whatever the line runs at:
// control software checks it before it goes on, and the bridge's own line speed
// comes from its settings, never from the serial side.
constexpr char kBaudReply[] = "57600\r]";

bool isPrefix(std::uint8_t byte) {
  return byte == 'X' || byte == 'x';
}
bool isOpcode(std::uint8_t byte) {
  return (byte & 0x80) != 0;
}

}  // namespace

CommandAssembler::CommandAssembler(ReplySink& sink, Console& console)
    : console_(console), reply_(sink) {}

void CommandAssembler::continueFrom(const CommandAssembler& earlier) {
  mode_ = earlier.mode_;
  notices_.takeOver(earlier.notices_);
}

void CommandAssembler::feed(int n, const std::uint8_t* bytes, Arrival arrival) {
  if (n <= 0 || bytes == nullptr) return;
  for (int i = 0; i < n; ++i) {
    // The bytes after the first of a delivery came with it.
    const Arrival own = i == 0 ? arrival : Arrival::kQueued;
    // A mode switch inside a delivery hands the rest to the new mode.
    if (mode_ == StationMode::Mixed) {
      feedMixed(n - i, bytes + i, own);
      return;
    }
    feedP50XOnly(bytes[i], own);
  }
}

// ---------------------------------------------------------------- mixed mode

void CommandAssembler::feedMixed(int n, const std::uint8_t* bytes, Arrival arrival) {
  const bool binaryHeld = holdsBinary();
  const bool timed = binaryHeld && arrival == Arrival::kAfterWait;
  const TimePoint time = timed ? dropIfStalled() : TimePoint{};
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
    case Family::P50Xa:
      handleTextLine();
      break;
    case Family::P50Xb:
      frameBinary(1);
      break;
  }
  stampBinary(binaryHeld, timed, time);
}

CommandAssembler::Family CommandAssembler::classify(int deliverySize) const {
  // The one-byte commands are told apart by the size of the delivery, not by
  // what is held: a 00 or C4 arriving with other bytes starts a text command.
  // Control software sends them alone to probe the station (a lone C4 gets the
  // two-byte prompt in mixed mode, one byte in P50X-only mode), and the answer
  // tells it which mode the station is in.
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

// ----------------------------------------------------------- P50X-only mode

void CommandAssembler::feedP50XOnly(std::uint8_t byte, Arrival arrival) {
  const bool held = holdsBinary();
  const bool timed = held && arrival == Arrival::kAfterWait;
  const TimePoint time = timed ? dropIfStalled() : TimePoint{};
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
    handleTextLine();
  }
  stampBinary(held, timed, time);
}

// ------------------------------------------------------------- both modes

// One text line up to its CR; the table says which lines are commands in
// which mode. A command that switches the mode answers in the old one.
void CommandAssembler::handleTextLine() {
  if (!lastIsCr()) return;
  const TextCommand* command = findTextCommand(input_, inputCount_, mode_);
  if (command == nullptr) {
    console_.out(unknownTextNotice(input_, mode_));
  } else {
    sendTextReply(command->reply);
    if (command->then == ModeSwitch::ToMixed) mode_ = StationMode::Mixed;
    if (command->then == ModeSwitch::ToP50XOnly) mode_ = StationMode::P50XOnly;
  }
  clear();
}

void CommandAssembler::sendTextReply(TextReply reply) {
  switch (reply) {
    case TextReply::Prompt:
      sendPrompt();
      break;
    case TextReply::Identification:
      std::memcpy(reply_.area(), kIdentification, sizeof kIdentification - 1);
      reply_.send(sizeof kIdentification - 1);
      break;
    case TextReply::Baud:
      std::memcpy(reply_.area(), kBaudReply, sizeof kBaudReply - 1);
      reply_.send(sizeof kBaudReply - 1);
      break;
    case TextReply::Halt:
      haltLayout(targets_, reply_, {'O', 'k', kCr});
      break;
    case TextReply::ModuleParameter: {
      const int parameter = targets_.feedback != nullptr ? targets_.feedback->moduleParameter() : 0;
      char* area = reinterpret_cast<char*>(reply_.area());
      const int written = std::snprintf(area, ReplyChannel::kSize, "SE %d%c%c", parameter, kCr,
                                        static_cast<char>(kPromptEnd));
      if (written > 0) reply_.send(static_cast<std::size_t>(written));
      break;
    }
  }
}

// A binary command, its opcode at `opcodeAt`. Complete once the row's
// lastIndex bytes from the opcode on are held; bytes beyond that (only a
// mixed-mode delivery of several bytes brings them) go with it.
void CommandAssembler::frameBinary(int opcodeAt) {
  const CommandDescriptor* row = findRow(input_[opcodeAt]);
  if (row == nullptr) {
    unknownOpcode(opcodeAt);
    return;
  }
  if (inputCount_ - opcodeAt < row->lastIndex) return;
  dispatchP50Xb(*row, input_ + opcodeAt, reply_, notices_, targets_, mode_);
  clear();
}

// Programming-track commands are no table rows, but clients send them: they
// are consumed at their length so their parameters cannot pose as commands.
const CommandDescriptor* CommandAssembler::findRow(std::uint8_t opcode) const {
  const CommandDescriptor* row = findCommand(opcode);
  return row != nullptr ? row : findProgrammingTrackCommand(opcode);
}

// Its length is unknown, so it ends at once with the opcode; parameter bytes,
// if any, then arrive as commands of their own. Answered all the same: the
// client waits for an answer to every command.
void CommandAssembler::unknownOpcode(int opcodeAt) {
  const std::uint8_t opcode = input_[opcodeAt];
  notices_.print(opcode, "Unbekannter P50Xb-Befehl %02x\n", static_cast<unsigned>(opcode));
  reply_.send({ReplyStatus::kNotSupported});
  clear();
}

// A binary command whose bytes stop for longer than kBinaryPause has lost a
// byte, or its sender died mid-command: what is held goes, so the next
// program's first command is not taken as the missing parameters. Checked on
// arrival, no timer: the clock is read only while a binary command is held,
// and only for bytes that the read waited for.
// Called while binary input is held; returns the arrival time it read.
CommandAssembler::TimePoint CommandAssembler::dropIfStalled() {
  const TimePoint arrival = now();
  if (arrival - lastBinaryByte_ > kBinaryPause) {
    const int prefix = isPrefix(input_[0]) ? 1 : 0;
    console_.print("Unvollstaendiger P50Xb-Befehl %02x (%d Bytes) verworfen.\n",
                   static_cast<unsigned>(input_[prefix]), inputCount_);
    clear();
  }
  return arrival;
}

CommandAssembler::TimePoint CommandAssembler::now() const {
  return clock_ ? clock_() : std::chrono::steady_clock::now();
}

// ------------------------------------------------------------------- common

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
