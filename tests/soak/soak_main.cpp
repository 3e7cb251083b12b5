// p50x-soak: a layout evening in a few minutes. The real bridge on a
// pseudo-terminal with the host simulator, while a control program polls and
// commands, the host floods contact events and fails now and then, the
// adapter is replugged and the monitor disk fills up. At the end: every reply
// right and in time, every host event seen, the host's view equal to the
// station's state, resources flat, and the bridge ending in order on ESC.
// Prints one figures line; exits 1 with the first failures spelled out.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <shared_mutex>
#include <string>
#include <thread>

#include "contact_ledger.h"
#include "control_program.h"
#include "e2e/bridge_process.h"
#include "findings.h"
#include "host_player.h"
#include "monitor_disk.h"
#include "process_sample.h"
#include "station_model.h"
#include "stop_signal.h"

namespace {

using namespace std::chrono_literals;
using namespace p50x::soak;
using Clock = std::chrono::steady_clock;

const char* const kUsage =
    "Usage: p50x-soak --bridge PATH [--seconds N] [--seed N] [older bridge options]\n"
    "\n"
    "Runs the bridge at PATH for N seconds (default 600) under everything at once:\n"
    "polls and random commands in both modes, a host flooding contact events and\n"
    "answering late, host restarts, freezes and closed connections, adapter\n"
    "replugs and a full monitor disk (needs root for its tmpfs). Exit status 0 when\n"
    "all went right, 1 with the first failures listed, 2 for bad options.\n"
    "--seed N replays a run's random choices (the run prints its seed).\n"
    "\n"
    "For a bridge from before one of the changes the checks rely on:\n"
    "  --replies-wait-for-host   a prompt host and no freezes\n"
    "  --unknown-turnouts-silent no commands for turnouts in no list entry\n"
    "  --loco-events-every-poll  XEvtLok reports every locomotive in mixed mode;\n"
    "                            no XHALT text, no XClkSet, XSoSet, XEvtBiDi\n";

struct Settings {
  std::string bridge;
  long seconds = 600;
  std::uint32_t seed = static_cast<std::uint32_t>(std::time(nullptr));
  Dialect dialect;
};

bool parse(int argc, char** argv, Settings& s) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool value = i + 1 < argc;
    if (arg == "--bridge" && value) {
      s.bridge = std::filesystem::absolute(argv[++i]).string();  // it starts in its own folder
    } else if (arg == "--seconds" && value) {
      s.seconds = std::atol(argv[++i]);
    } else if (arg == "--seed" && value) {
      s.seed = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--replies-wait-for-host") {
      s.dialect.repliesNeverWaitForHost = false;
    } else if (arg == "--unknown-turnouts-silent") {
      s.dialect.unknownTurnoutsAnswered = false;
    } else if (arg == "--loco-events-every-poll") {
      s.dialect.locoEventsOnlyAfterHalt = false;
      s.dialect.textHaltAndWiderOpcodes = false;
    } else {
      return false;
    }
  }
  return !s.bridge.empty() && s.seconds >= 10;
}

std::string grouped(long n) {
  std::string digits = std::to_string(n);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(at, ",");
  return digits;
}

double mib(long kib) {
  return static_cast<double>(kib) / 1024.0;
}

// Between faults, after the bridge has had a moment to finish what the last
// one started.
ProcessSample quietSample(int pid, std::shared_mutex& quiet) {
  std::unique_lock<std::shared_mutex> alone(quiet);
  std::this_thread::sleep_for(1s);
  return sampleProcess(pid);
}

// Resources may wobble by a descriptor or a thread while a link is made
// again, and memory by what the allocator keeps; a leak over minutes grows
// beyond both.
bool grew(const ProcessSample& first, const ProcessSample& last) {
  const long memoryMargin = std::max(256L, first.residentKiB / 10);
  return last.descriptors > first.descriptors + 1 || last.threads > first.threads + 1 ||
         last.residentKiB > first.residentKiB + memoryMargin;
}

std::chrono::seconds capped(long seconds, long cap) {
  return std::chrono::seconds(std::max(1L, std::min(seconds, cap)));
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!parse(argc, argv, settings)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  // A bridge that has ended must show as a failure, not end the soak with
  // the signal of a write to its input.
  std::signal(SIGPIPE, SIG_IGN);
  const long seconds = settings.seconds;
  char pattern[] = "/tmp/p50x-soak-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    std::perror("p50x-soak: temporary folder");
    return 1;
  }
  const std::string dir = pattern;
  const Layout layout = Layout::standard();
  p50x::test::writeFile(dir + "/Loks.txt", layout.locoList());
  p50x::test::writeFile(dir + "/Weichen.txt", layout.turnoutList());
  p50x::test::writeFile(dir + "/Melder.txt", Layout::contactList());

  const auto start = Clock::now();
  Findings findings(start);
  ContactLedger ledger;
  StationModel model(layout, settings.dialect);
  MonitorDisk disk;
  const bool diskMounted = disk.mount(dir + "/disk");
  const std::string monitor = diskMounted ? disk.monitorFile() : dir + "/monitor.txt";
  if (!diskMounted) std::printf("%s\n", disk.note().c_str());

  HostPlayer host(ledger, findings, settings.dialect.repliesNeverWaitForHost, settings.seed,
                  dir + "/host-messages.txt");
  if (!host.start()) {
    std::fprintf(stderr, "p50x-soak: the host simulator cannot listen\n");
    return 1;
  }
  p50x::test::BridgeProcess bridge;
  const std::string port = dir + "/ttyUSB0";
  ControlProgram control(layout, model, ledger, findings, bridge, port, settings.seed + 1);
  if (!control.plugIn()) {
    std::fprintf(stderr, "p50x-soak: no pseudo-terminal for the serial line\n");
    return 1;
  }
  p50x::test::writeFile(dir + "/Config.txt",
                        "1;Loks.txt\n2;Melder.txt\n3;Weichen.txt\n4;" + port + "\n5;127.0.0.1\n6;" +
                            monitor + "\n7;" + std::to_string(host.eventPort()) + "\n8;" +
                            std::to_string(host.commandPort()) + "\n9;57600\n10;1\n");
  std::printf("soak of %s for %ld s, seed %u, in %s\n", settings.bridge.c_str(), seconds,
              settings.seed, dir.c_str());
  if (!bridge.start(settings.bridge, {"Config.txt"}, dir) || !bridge.waitForOutput("ESC=BREAK")) {
    std::fprintf(stderr, "p50x-soak: the bridge did not start:\n%s%s", bridge.output().c_str(),
                 bridge.errors().c_str());
    return 1;
  }

  // A short soak still sees every kind of fault and replug.
  StopSignal stop;
  std::shared_mutex quiet;
  std::thread controlThread(
      [&] { control.run(stop, quiet, capped(40, seconds / 6), capped(80, seconds / 3)); });
  std::atomic<bool> hostDone{false};
  std::thread hostThread([&] {
    host.run(stop, quiet, capped(30, seconds / 8), capped(60, seconds / 4));
    hostDone = true;
  });
  std::thread diskThread(
      [&] { disk.run(stop, bridge, findings, start + std::chrono::seconds(seconds / 2)); });

  const auto baselineAt = start + capped(60, seconds / 3);
  ProcessSample first;
  if (stop.pauseUntil(baselineAt)) first = quietSample(bridge.pid(), quiet);
  // A bridge that has died would only make every later reply "missing".
  const auto end = start + std::chrono::seconds(seconds);
  while (Clock::now() < end && sampleProcess(bridge.pid()).running) {
    stop.pauseUntil(std::min(end, Clock::now() + 1s));
  }
  stop.stop();
  controlThread.join();
  control.finish(hostDone);
  hostThread.join();
  diskThread.join();
  host.settle(model.hostView());
  ProcessSample last = quietSample(bridge.pid(), quiet);
  for (int retry = 0; retry < 5 && grew(first, last); ++retry)
    last = quietSample(bridge.pid(), quiet);
  if (!last.running) findings.add(Findings::kBridge, "the bridge ended before ESC");
  if (grew(first, last)) {
    findings.add(Findings::kBridge, "resources grew",
                 std::to_string(first.descriptors) + " fds, " + std::to_string(first.threads) +
                     " threads, " + std::to_string(first.residentKiB) + " KiB",
                 std::to_string(last.descriptors) + " fds, " + std::to_string(last.threads) +
                     " threads, " + std::to_string(last.residentKiB) + " KiB");
  }
  bridge.type("\x1b");
  const int status = bridge.waitForExit(10s);
  if (status != 1) {
    findings.add(Findings::kBridge, "ESC", "the bridge ending with status 1 within 10 s",
                 status < 0 ? std::string("no end") : "status " + std::to_string(status));
  }
  const std::string errors = bridge.errors();
  const int said = countOf(errors, "Fehler beim Schreiben der Monitordatei");
  // A driver polling what the station does not know must not fill the console.
  if (settings.dialect.textHaltAndWiderOpcodes) {
    const std::string out = bridge.output();
    for (const char* notice :
         {"Unbekannter P50Xb-Befehl ff\n", "P50Xb-Befehl XLokCfgSet nicht unterstuetzt.\n"}) {
      // Once per run: a reopened line goes on with the notices given.
      const int times = countOf(out, notice);
      if (times > 1) {
        const std::string line(notice, std::strlen(notice) - 1);
        findings.add(Findings::kBridge, "console notice \"" + line + "\"", "once per run",
                     std::to_string(times) + " times");
      }
    }
  }
  if (diskMounted && said != 1) {
    findings.add(Findings::kBridge, "monitor write errors on the error output", "1",
                 std::to_string(said));
  }
  if (findings.total() > 0 && diskMounted) {
    std::error_code ignored;
    std::filesystem::copy_file(monitor, dir + "/monitor.txt", ignored);
  }
  disk.unmount();

  const ControlFigures& c = control.figures();
  std::printf(
      "soak %ld s: %s commands, %ld wrong, %ld missing, %ld late, max reply %.1f ms; %s host "
      "events, %ld lost; %d host faults, %d replugs survived; RSS %.1f → %.1f MiB, fds %d → %d, "
      "threads %d → %d\n",
      seconds, grouped(c.commands).c_str(), findings.count(Findings::kWrong),
      findings.count(Findings::kMissing), findings.count(Findings::kLate), c.maxReplyMs,
      grouped(ledger.eventsSent()).c_str(), findings.count(Findings::kLost), host.faults(),
      c.replugs, mib(first.residentKiB), mib(last.residentKiB), first.descriptors, last.descriptors,
      first.threads, last.threads);
  std::printf("  %d mode switches; monitor disk %s\n", c.modeSwitches,
              !diskMounted            ? "skipped"
              : disk.filledAndFreed() ? "filled and freed"
                                      : "NOT freed");
  if (findings.total() == 0) {
    std::filesystem::remove_all(dir);
    return 0;
  }
  std::printf("FAILED: %ld failures; the first ones:\n%s", findings.total(),
              findings.report().c_str());
  std::printf("the bridge's console, the monitor file and the host's messages stay in %s\n",
              dir.c_str());
  p50x::test::writeFile(dir + "/console.txt", bridge.output() + "\n--- errors ---\n" + errors);
  return 1;
}
