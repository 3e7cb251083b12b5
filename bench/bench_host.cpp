// The host side's two costs: messages per second through the parser's split
// and dispatch, and the round trip of one request and its answer on loopback,
// once through HostConnection::sendAndAwaitAnswer and once as a bare socket
// send and receive against the same simulator. The summary at the end prints
// the p50 of both round trips and their ratio.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "host/host_connection.h"
#include "host/host_event_parser.h"
#include "host_simulator.h"
#include "platform/socket.h"

namespace {

using namespace p50x;
using Clock = std::chrono::steady_clock;

class NullLayout final : public LayoutEvents {
 public:
  void turnoutReported(const char* name, int number) override {
    benchmark::DoNotOptimize(name);
    benchmark::DoNotOptimize(number);
  }
  void contactSet(const char* name) override { benchmark::DoNotOptimize(name); }
  void contactCleared(const char* name) override { benchmark::DoNotOptimize(name); }
};

constexpr const char* kRequest = "371;Lok1;1;12.5\n";

// Per-iteration latencies of the last run of each round-trip benchmark.
struct Samples {
  std::vector<double> connection;
  std::vector<double> bare;
};

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

void splitAndDispatch(benchmark::State& state, const char* message) {
  NullConsole console;
  NullLayout layout;
  HostEventParser parser(console, &layout);
  const std::size_t length = std::strlen(message);
  char chunk[HostConnection::kReceiveSize + 1];
  for (auto _ : state) {
    std::memcpy(chunk, message, length + 1);  // the split writes into the chunk
    parser.dispatch(static_cast<int>(length), chunk);
  }
  state.SetItemsProcessed(state.iterations());
}

bool startHost(hostsim::HostSimulator& host, benchmark::State& state) {
  if (host.start()) return true;
  state.SkipWithError(host.error().c_str());
  return false;
}

hostsim::Options freePorts() {
  hostsim::Options options;
  options.eventPort = 0;
  options.commandPort = 0;
  return options;
}

void sendAndAwait(benchmark::State& state, Samples& samples) {
  hostsim::HostSimulator host(freePorts());
  if (!startHost(host, state)) return;
  NullConsole console;
  HostConnection link(console);
  if (link.connect("127.0.0.1", host.commandPort()) != 0) {
    state.SkipWithError("connect failed");
    return;
  }
  samples.connection.clear();
  for (auto _ : state) {
    const auto start = Clock::now();
    link.sendAndAwaitAnswer(kRequest);
    samples.connection.push_back(
        std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  link.close();
  host.clearMessages();
}

void bareRequest(benchmark::State& state, Samples& samples) {
  hostsim::HostSimulator host(freePorts());
  if (!startHost(host, state)) return;
  // The same pair of connections as a link: the first is the read connection.
  const auto read = platform::createStreamSocket();
  const auto write = platform::createStreamSocket();
  if (platform::connectIpv4(read, "127.0.0.1", host.commandPort()) != 0 ||
      !host.waitForConnections(1, std::chrono::seconds(5)) ||
      platform::connectIpv4(write, "127.0.0.1", host.commandPort()) != 0) {
    state.SkipWithError("connect failed");
  } else {
    samples.bare.clear();
    const std::size_t length = std::strlen(kRequest);
    char answer[HostConnection::kAnswerSize];
    for (auto _ : state) {
      const auto start = Clock::now();
      platform::sendAll(write, kRequest, length);
      platform::receive(write, answer, sizeof answer);
      samples.bare.push_back(
          std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
  }
  platform::shutdownSocket(read);
  platform::shutdownSocket(write);
  host.stop();
  platform::closeSocket(read);
  platform::closeSocket(write);
}

}  // namespace

int main(int argc, char** argv) {
  Samples samples;
  benchmark::RegisterBenchmark("split_and_dispatch/contact", splitAndDispatch, "150;1;K1;");
  benchmark::RegisterBenchmark("split_and_dispatch/unknown", splitAndDispatch, "999;x;y;z");
  benchmark::RegisterBenchmark(
      "split_and_dispatch/full_chunk", splitAndDispatch,
      "150;1;K1;xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
      "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
      "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
      ";a;b;c;d;e;f;g;h;i;j;k;l;m;n;o;p");
  benchmark::RegisterBenchmark("round_trip/send_and_await_answer",
                               [&](benchmark::State& s) { sendAndAwait(s, samples); })
      ->UseRealTime()
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("round_trip/bare_socket",
                               [&](benchmark::State& s) { bareRequest(s, samples); })
      ->UseRealTime()
      ->Unit(benchmark::kMicrosecond);

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  if (!samples.connection.empty() && !samples.bare.empty()) {
    const double link50 = percentile(samples.connection, 0.5);
    const double bare50 = percentile(samples.bare, 0.5);
    std::printf(
        "\nround trip p50: send-and-await %.1f us, bare socket %.1f us, ratio %.2f "
        "(p99 %.1f us vs %.1f us; %zu and %zu samples)\n",
        link50, bare50, bare50 > 0 ? link50 / bare50 : 0.0, percentile(samples.connection, 0.99),
        percentile(samples.bare, 0.99), samples.connection.size(), samples.bare.size());
  }
  return 0;
}
