// CommandAssembler::feed with arbitrary deliveries. The first byte picks the
// delivery pattern: even means one byte per delivery as in operation; odd
// means each delivery is preceded by a length byte (1 to 128, so deliveries
// larger than the 79-byte input area occur).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "app/configuration.h"
#include "host/host_sender.h"
#include "layout/feedback_image.h"
#include "layout/loco_table.h"
#include "layout/turnout_table.h"
#include "station/command_assembler.h"
#include "station/station_state.h"

namespace {

using namespace p50x;

class NullConsole final : public Console {
 public:
  void out(std::string_view) override {}
  void err(std::string_view) override {}
};

class CheckingSink final : public ReplySink {
 public:
  void write(const std::uint8_t* bytes, int length) override {
    if (length < 0 || length > static_cast<int>(ReplyChannel::kSize)) __builtin_trap();
    // Touch every byte so the sanitizer sees any read beyond the reply area.
    std::uint8_t sum = 0;
    for (int i = 0; i < length; ++i) sum = static_cast<std::uint8_t>(sum + bytes[i]);
    sink_ = sum;
  }
  volatile std::uint8_t sink_ = 0;
};

class AnsweringHost final : public HostSender {
 public:
  int sendAndAwaitAnswer(const char*) override { return 1; }
};

void checkInvariants(const CommandAssembler& assembler) {
  const int count = assembler.inputCount();
  if (count < 0 || count >= CommandAssembler::kInputSize) __builtin_trap();
  // A held command is always followed by its zero byte.
  if (count > 0 && assembler.input()[count] != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  NullConsole console;
  CheckingSink sink;
  AnsweringHost host;
  Configuration config;
  StationState station;
  FeedbackImage feedback(console);
  LocoTable locos(console, host, config);
  TurnoutTable turnouts(console, host);
  CommandAssembler assembler(sink, console);
  assembler.setTargets({&station, &locos, &turnouts, &feedback});

  const bool lengthPrefixed = (data[0] & 1) != 0;
  std::size_t pos = 1;
  while (pos < size) {
    std::size_t n = 1;
    if (lengthPrefixed) {
      n = 1 + data[pos++] % 128;
      if (pos >= size) break;
      if (n > size - pos) n = size - pos;
    }
    assembler.feed(static_cast<int>(n), data + pos);
    pos += n;
    checkInvariants(assembler);
  }
  return 0;
}
