// Round trip of one XVer command (2 bytes in, 10 bytes out) through a
// pseudo-terminal to the serial port engine and its command assembler, next
// to a bare echo over the same kind of pseudo-terminal, measured in the same
// run in alternating blocks. Also shows the CPU an idle engine uses.
// Prints figures; asserts nothing.
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/callbacks.h"
#include "serial/serial_port.h"
#include "station/command_assembler.h"
#include "station/station_state.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBlocks = 10;
constexpr int kPerBlock = 1000;  // 10,000 round trips each
constexpr int kWarmUp = 500;

struct Pty {
  int master = -1;
  int slave = -1;
  char path[128] = {};  // empty when there is no pseudo-terminal
  Pty() {
    if (::openpty(&master, &slave, path, nullptr, nullptr) != 0) return;
    termios mode{};
    ::tcgetattr(slave, &mode);
    ::cfmakeraw(&mode);
    ::tcsetattr(slave, TCSANOW, &mode);
  }
  ~Pty() {
    if (master >= 0) ::close(master);
    if (slave >= 0) ::close(slave);
  }
};

// One request, then wait for `replyLength` bytes. Returns nanoseconds, or -1
// if the reply did not come within two seconds.
long long roundTrip(int fd, const std::uint8_t* request, std::size_t requestLength,
                    std::size_t replyLength) {
  const auto start = Clock::now();
  if (::write(fd, request, requestLength) != static_cast<ssize_t>(requestLength)) return -1;
  std::uint8_t reply[64];
  std::size_t got = 0;
  while (got < replyLength) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 2000) <= 0) return -1;
    const ssize_t n = ::read(fd, reply + got, replyLength - got);
    if (n <= 0) return -1;
    got += static_cast<std::size_t>(n);
  }
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
}

struct Figures {
  double p50 = 0;
  double p99 = 0;
};

Figures percentiles(std::vector<long long> samples) {
  std::sort(samples.begin(), samples.end());
  return Figures{samples[samples.size() / 2] / 1000.0, samples[samples.size() * 99 / 100] / 1000.0};
}

// CPU time of every thread but the calling (main) one, in nanoseconds, from
// the scheduler's per-thread statistics.
long long otherThreadsCpuNanoseconds() {
  long long total = 0;
  const std::string self = std::to_string(::gettid());
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    if (task.path().filename() == self) continue;
    std::ifstream stat(task.path() / "schedstat");
    long long onCpu = 0;
    if (stat >> onCpu) total += onCpu;
  }
  return total;
}

}  // namespace

int main() {
  using namespace p50x;
  const std::uint8_t xVer[] = {'X', 0xA0};

  // The engine: opens the slave side by path, as it opens a device.
  Pty enginePty;
  NullConsole console;
  SerialPort port(console);
  CommandAssembler assembler(port, console);
  StationState station;
  StationTargets targets;
  targets.station = &station;
  assembler.setTargets(targets);
  port.setCallback([&](SerialPort& p, int code) { serialCallback(p, code, nullptr, &assembler); });
  if (enginePty.path[0] == '\0' || port.open(enginePty.path, 57600, 0, 8, 1) != kOpenOk) {
    std::printf("bench_serial_roundtrip: could not open a pseudo-terminal for the engine\n");
    return 1;
  }

  // The reference: a thread that sends back whatever it reads.
  Pty echoPty;
  std::thread echo([fd = echoPty.slave] {
    std::uint8_t buffer[64];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n <= 0 || ::write(fd, buffer, static_cast<std::size_t>(n)) != n) return;
    }
  });

  for (int i = 0; i < kWarmUp; ++i) {
    if (roundTrip(enginePty.master, xVer, 2, 10) < 0 || roundTrip(echoPty.master, xVer, 2, 2) < 0) {
      std::printf("bench_serial_roundtrip: no reply during warm-up\n");
      return 1;
    }
  }

  std::vector<long long> engineSamples;
  std::vector<long long> echoSamples;
  for (int block = 0; block < kBlocks; ++block) {
    for (int i = 0; i < kPerBlock; ++i)
      echoSamples.push_back(roundTrip(echoPty.master, xVer, 2, 2));
    for (int i = 0; i < kPerBlock; ++i) {
      engineSamples.push_back(roundTrip(enginePty.master, xVer, 2, 10));
    }
  }
  if (std::find(engineSamples.begin(), engineSamples.end(), -1) != engineSamples.end() ||
      std::find(echoSamples.begin(), echoSamples.end(), -1) != echoSamples.end()) {
    std::printf("bench_serial_roundtrip: a round trip got no reply\n");
    return 1;
  }

  // An idle engine sleeps in one wait: the other threads (the worker, the
  // echo) should use no CPU at all while nothing arrives.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let the last replies settle
  const long long cpuBefore = otherThreadsCpuNanoseconds();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const long long idleCpu = otherThreadsCpuNanoseconds() - cpuBefore;

  const Figures engine = percentiles(engineSamples);
  const Figures reference = percentiles(echoSamples);
  std::printf("serial round trip, %zu each (XVer: 2 bytes in, 10 out; echo: 2 in, 2 out)\n",
              engineSamples.size());
  std::printf("  engine  p50 %8.1f us   p99 %8.1f us\n", engine.p50, engine.p99);
  std::printf("  echo    p50 %8.1f us   p99 %8.1f us\n", reference.p50, reference.p99);
  std::printf("  ratio   p50 %8.2f      p99 %8.2f\n", engine.p50 / reference.p50,
              engine.p99 / reference.p99);
  std::printf("  idle CPU of the worker and echo threads over 1 s: %lld ns\n", idleCpu);

  port.stop();
  port.close();
  ::close(echoPty.master);  // ends the echo thread's read
  echoPty.master = -1;
  echo.join();
  return 0;
}
