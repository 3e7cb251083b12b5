// CommandAssembler::feed with arbitrary deliveries. The first byte picks the
// set-up. Bit 0, the delivery pattern: clear means one byte per delivery as in
// operation; set means each delivery is preceded by a length byte (1 to 128, so
// deliveries larger than the 79-byte input area occur). Bit 1 set starts in
// P50X-only mode. Bits 2 to 7 are how far the clock moves per delivery, in
// steps of 8 ms, so the 200 ms pause rule is reached as well.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "layout/feedback_image.h"
#include "layout/list_file.h"
#include "layout/loco_table.h"
#include "layout/turnout_table.h"
#include "seams/host_sender.h"
#include "station/command_assembler.h"
#include "station/station_state.h"

namespace {

using namespace p50x;

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
  void post(const char*) override {}
};

template <typename Table>
void loadList(Table& table, const char* list) {
  MemoryListSource source(reinterpret_cast<const std::uint8_t*>(list), std::strlen(list));
  table.loadEntries(source);
}

void checkInvariants(const CommandAssembler& assembler) {
  const int count = assembler.inputCount();
  if (count < 0 || count >= CommandAssembler::kInputSize) __builtin_trap();
  // A held command is always followed by its zero byte.
  if (count > 0 && assembler.input()[count] != 0) __builtin_trap();
  const StationMode mode = assembler.mode();
  if (mode != StationMode::Mixed && mode != StationMode::P50XOnly) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  NullConsole console;
  CheckingSink sink;
  AnsweringHost host;
  StationState station;
  FeedbackImage feedback(console);
  LocoTable locos(console, host);
  TurnoutTable turnouts(console, host);
  CommandAssembler assembler(sink, console);
  // Small lists, so the layout commands find their entries too.
  loadList(locos, "Lok1;3;0;0;0;100;80\nLok2;4;0;3;0;100;80\n");
  loadList(turnouts, "W1;5;0;1;6\nW2;6;0;0;0\n");
  loadList(feedback, "K1;1;1\nK3;3;9\n");
  feedback.setContact("K1");
  assembler.setTargets({&station, &locos, &turnouts, &feedback});
  CommandAssembler::TimePoint now{};
  assembler.setClock([&now] { return now; });
  const auto tick = std::chrono::milliseconds(8 * (data[0] >> 2));
  if ((data[0] & 2) != 0) {
    static const std::uint8_t kSwitch[] = {'x', 'Z', 'z', 'A', '1', '\r'};
    for (std::uint8_t byte : kSwitch) assembler.feed(1, &byte);
  }

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
    now += tick;
    checkInvariants(assembler);
  }
  return 0;
}
