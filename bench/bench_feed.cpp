// Cost of CommandAssembler::feed per received byte over a mix shaped like a
// control program's traffic: mostly locomotive, function and turnout commands
// and event polls, some station queries and a few text commands. The layout
// opcodes are framed and dispatched with no table behind them, so the figure
// is the framing's own cost. Reports ns per byte. The P50X-only mix is the same
// traffic without prefixes, as a client in that mode sends it. Fed one byte at
// a time, each command comes as control software sends it, in one write: the
// read waits for its first byte and finds the others queued behind it, so the
// steady clock (the 200 ms pause rule) is read once for each binary command of
// more than one byte, with the real clock.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "layout/feedback_image.h"
#include "station/command_assembler.h"
#include "station/station_state.h"

namespace {

using namespace p50x;

class NullSink final : public ReplySink {
 public:
  void write(const std::uint8_t* bytes, int length) override {
    benchmark::DoNotOptimize(bytes);
    benchmark::DoNotOptimize(length);
  }
};

using Command = std::vector<std::uint8_t>;

Command text(std::string_view s) {
  return Command(s.begin(), s.end());
}

std::vector<Command> trafficMix() {
  std::vector<Command> mix;
  auto add = [&mix](int times, const Command& c) {
    for (int i = 0; i < times; ++i) mix.push_back(c);
  };
  add(8, {'X', 0x80, 0x03, 0x00, 0x1E, 0x20});  // XLok
  add(4, {'X', 0x88, 0x03, 0x00, 0x01});        // XFunc
  add(4, {'X', 0x90, 0x05, 0x80});              // XTrnt
  add(8, {'X', 0xC8});                          // XEvent
  add(4, {'X', 0xA2});                          // XStatus
  add(2, {'X', 0xCB});                          // XEvtSen
  add(1, {'X', 0xA0});                          // XVer
  add(2, text("ZzA0\r"));
  add(2, text("xse\r"));
  add(1, text("xb\r"));
  add(1, text("X\r"));
  return mix;
}

std::vector<Command> p50xOnlyMix() {
  std::vector<Command> mix;
  auto add = [&mix](int times, const Command& c) {
    for (int i = 0; i < times; ++i) mix.push_back(c);
  };
  add(8, {0x80, 0x03, 0x00, 0x1E, 0xE0});  // XLok
  add(4, {0x88, 0x03, 0x00, 0x01});        // XFunc
  add(2, {0x90, 0x05, 0xC0});              // XTrnt, coil on
  add(2, {0x90, 0x05, 0x80});              // XTrnt, coil off
  add(8, {0xC8});                          // XEvent
  add(4, {0xA2});                          // XStatus
  add(2, {0xCB});                          // XEvtSen
  add(1, {0xA0});                          // XVer
  add(2, text("xse\r"));
  return mix;
}

struct Bench {
  NullConsole console;
  NullSink sink;
  StationState station;
  FeedbackImage feedback{console};
  CommandAssembler assembler{sink, console};
  std::vector<Command> mix;
  std::size_t bytesPerRound = 0;
  explicit Bench(std::vector<Command> traffic) : mix(std::move(traffic)) {
    assembler.setTargets({&station, nullptr, nullptr, &feedback});
    for (const Command& c : mix) bytesPerRound += c.size();
  }
};

void report(benchmark::State& state, std::size_t bytesPerRound) {
  const double bytes = static_cast<double>(bytesPerRound) * static_cast<double>(state.iterations());
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  // Time per byte, shown with its unit, e.g. "time_per_byte=8.8ns".
  state.counters["time_per_byte"] =
      benchmark::Counter(bytes, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// One command as the serial port delivers it in operation: a byte at a time,
// the first after the read waited, the rest queued behind it.
void feedCommand(CommandAssembler& assembler, const Command& c) {
  auto arrival = CommandAssembler::Arrival::kAfterWait;
  for (std::uint8_t byte : c) {
    assembler.feed(1, &byte, arrival);
    arrival = CommandAssembler::Arrival::kQueued;
  }
}

// As in operation: the serial port reads one byte at a time.
void BM_FeedOneBytePerDelivery(benchmark::State& state) {
  Bench b(trafficMix());
  for (auto _ : state) {
    for (const Command& c : b.mix) feedCommand(b.assembler, c);
  }
  report(state, b.bytesPerRound);
}
BENCHMARK(BM_FeedOneBytePerDelivery);

// Each command in one delivery (a larger read size).
void BM_FeedWholeCommands(benchmark::State& state) {
  Bench b(trafficMix());
  for (auto _ : state) {
    for (const Command& c : b.mix) b.assembler.feed(static_cast<int>(c.size()), c.data());
  }
  report(state, b.bytesPerRound);
}
BENCHMARK(BM_FeedWholeCommands);

// P50X-only mode, one byte per delivery, with the real steady clock.
void BM_FeedP50XOnlyOneBytePerDelivery(benchmark::State& state) {
  Bench b(p50xOnlyMix());
  const Command enter = text("xZzA1\r");
  for (std::uint8_t byte : enter) b.assembler.feed(1, &byte);
  for (auto _ : state) {
    for (const Command& c : b.mix) feedCommand(b.assembler, c);
  }
  report(state, b.bytesPerRound);
}
BENCHMARK(BM_FeedP50XOnlyOneBytePerDelivery);

}  // namespace

BENCHMARK_MAIN();
