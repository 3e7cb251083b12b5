// End-to-end latency of the real p50x-bridge binary: round trips of station,
// feedback and locomotive commands through a pseudo-terminal, each next to its
// floor measured in the same run, plus idle CPU, wake-ups and peak memory;
// then commands with the host away, and ten restarts of the host application.
//
//   build/bench/bench_e2e_latency [path/to/p50x-bridge] [round-trips]
//
// Floors: "pty echo" is a thread that reads the command byte by byte from a
// pty and writes a reply of the same size. XLok's reply does not wait for the
// host, so its floor is the same echo; it is measured with a prompt host, one
// that answers 100 ms late and one that never answers, and set against XVer.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host_simulator.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<unsigned char>;

struct Figures {
  double p50 = 0;
  double p99 = 0;
};

Figures percentiles(std::vector<double> us) {
  std::sort(us.begin(), us.end());
  Figures f;
  f.p50 = us[us.size() / 2];
  f.p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
  return f;
}

void makeRaw(int fd) {
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
}

bool readExactly(int fd, unsigned char* out, std::size_t n) {
  std::size_t got = 0;
  while (got < n) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) return false;
    const ssize_t r = read(fd, out + got, n - got);
    if (r <= 0) return false;
    got += static_cast<std::size_t>(r);
  }
  return true;
}

void writeAll(int fd, const unsigned char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t w = write(fd, data, n);
    if (w <= 0) return;
    data += w;
    n -= static_cast<std::size_t>(w);
  }
}

// One timed round trip per command: send, wait for the whole reply.
std::vector<double> measure(int fd, const Bytes& command, std::size_t replySize, int count) {
  std::vector<double> us;
  us.reserve(static_cast<std::size_t>(count));
  unsigned char reply[256];
  for (int i = 0; i < count; ++i) {
    const auto begin = Clock::now();
    writeAll(fd, command.data(), command.size());
    if (!readExactly(fd, reply, replySize)) {
      std::fprintf(stderr, "no reply to a command\n");
      std::exit(1);
    }
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - begin).count());
  }
  return us;
}

// The floor: a pty echo that reads byte by byte like the bridge and answers
// with the same number of bytes.
std::vector<double> measureFloor(std::size_t commandSize, std::size_t replySize, int count) {
  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) std::exit(1);
  makeRaw(master);
  makeRaw(slave);
  std::thread echo([&] {
    unsigned char byte, reply[256] = {};
    for (int i = 0; i < count; ++i) {
      for (std::size_t k = 0; k < commandSize; ++k) readExactly(slave, &byte, 1);
      writeAll(slave, reply, replySize);
    }
  });
  Bytes command(commandSize, 0x58);
  auto us = measure(master, command, replySize, count);
  echo.join();
  close(master);
  close(slave);
  return us;
}

long readStatusKb(pid_t pid, const char* key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
  }
  return -1;
}

long cpuTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string s((std::istreambuf_iterator<char>(in)), {});
  std::istringstream fields(s.substr(s.rfind(')') + 2));
  std::string f;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> f; ++i) {
    if (i == 14) utime = std::atol(f.c_str());
    if (i == 15) stime = std::atol(f.c_str());
  }
  return utime + stime;
}

// Context switches of every thread: each wake-up of a sleeping thread counts.
long contextSwitches(pid_t pid) {
  long total = 0;
  const std::string dir = "/proc/" + std::to_string(pid) + "/task/";
  FILE* ls = popen(("ls " + dir).c_str(), "r");
  char name[64];
  while (ls && std::fscanf(ls, "%63s", name) == 1) {
    std::ifstream in(dir + name + "/status");
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
          line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
        total += std::atol(line.c_str() + line.find(':') + 1);
      }
    }
  }
  if (ls) pclose(ls);
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string bridgePath = argc > 1 ? argv[1] : "build/p50x-bridge";
  const int count = argc > 2 ? std::atoi(argv[2]) : 5000;
  signal(SIGPIPE, SIG_IGN);

  p50x::hostsim::Options options;
  options.eventPort = 0;
  options.commandPort = 0;
  auto hostOwner = std::make_unique<p50x::hostsim::HostSimulator>(options);
  if (!hostOwner->start()) {
    std::fprintf(stderr, "host simulator: %s\n", hostOwner->error().c_str());
    return 1;
  }
  p50x::hostsim::HostSimulator& host = *hostOwner;

  char dirPattern[] = "/tmp/p50x-bench-XXXXXX";
  const std::string dir = mkdtemp(dirPattern);
  std::ofstream(dir + "/Loks.txt") << "Lok1;3;0;2;28;100;80\n";
  std::ofstream(dir + "/Melder.txt") << "K1;1;1\nK2;2;5\n";
  std::ofstream(dir + "/Weichen.txt") << "W1;5;0;0;0\n";
  std::ofstream(dir + "/Config.txt") << "1;" << dir << "/Loks.txt\n2;" << dir << "/Melder.txt\n3;"
                                     << dir << "/Weichen.txt\n4;pty:" << dir << "/tty\n7;"
                                     << host.eventPort() << "\n8;" << host.commandPort() << "\n";

  int input[2];
  if (pipe(input) != 0) return 1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclose(&actions, input[1]);
  const std::string config = dir + "/Config.txt";
  char* args[] = {const_cast<char*>(bridgePath.c_str()), const_cast<char*>(config.c_str()),
                  nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, bridgePath.c_str(), &actions, nullptr, args, environ) != 0) {
    std::fprintf(stderr, "cannot start %s\n", bridgePath.c_str());
    return 1;
  }
  close(input[0]);
  if (!host.waitForMessages(1, std::chrono::seconds(5))) {
    std::fprintf(stderr, "the bridge did not start\n");
    return 1;
  }
  const int line = open((dir + "/tty").c_str(), O_RDWR | O_NOCTTY);
  if (line < 0) return 1;
  makeRaw(line);

  struct Row {
    const char* name;
    Bytes command;
    std::size_t reply;
    int answerDelayMs;  // -1: the host never answers
  };
  const Bytes xLok = {'X', 0x80, 3, 0, 60, 0x30};
  const std::vector<Row> rows = {
      {"XVer", {'X', 0xA0}, 10, 0},
      {"XStatus", {'X', 0xA2}, 1, 0},
      {"XEvtSen", {'X', 0xCB}, 7, 0},
      {"XLok", xLok, 1, 0},
      {"XLok, host 100 ms late", xLok, 1, 100},
      {"XLok, silent host", xLok, 1, -1},
  };
  std::printf("%d round trips each (microseconds)\n", count);
  std::printf("%-22s %9s %9s %12s %12s %7s %9s\n", "command", "p50", "p99", "floor p50",
              "floor p99", "ratio", "/ XVer");
  double xVerP50 = 0;
  for (const Row& row : rows) {
    host.setNeverAnswer(row.answerDelayMs < 0);
    host.setAnswerDelay(row.answerDelayMs > 0 ? row.answerDelayMs : 0);
    const Figures f = percentiles(measure(line, row.command, row.reply, count));
    const Figures floor = percentiles(measureFloor(row.command.size(), row.reply, count));
    if (xVerP50 == 0) xVerP50 = f.p50;
    std::printf("%-22s %9.1f %9.1f %12.1f %12.1f %7.2f %9.2f\n", row.name, f.p50, f.p99, floor.p50,
                floor.p99, f.p50 / floor.p50, f.p50 / xVerP50);
  }
  // The host sits on its answers while the control software goes on: memory
  // must stay bounded however far the host falls behind.
  measure(line, xLok, 1, 100000);
  std::printf("resident memory after 100000 XLok to a silent host: %.2f MiB\n",
              static_cast<double>(readStatusKb(pid, "VmRSS:")) / 1024.0);
  host.setNeverAnswer(false);
  host.setAnswerDelay(0);
  // What is still waiting (each message's answer bound runs out) drains
  // before the idle figures are taken.
  std::this_thread::sleep_for(std::chrono::seconds(3));

  // Idle: all links up, nothing happening.
  const long ticksBefore = cpuTicks(pid);
  const long switchesBefore = contextSwitches(pid);
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const long switchesAfter3s = contextSwitches(pid);
  std::this_thread::sleep_for(std::chrono::seconds(7));
  const long ticksAfter = cpuTicks(pid);
  std::printf("idle CPU over 10 s: %ld clock ticks (%.2f%%)\n", ticksAfter - ticksBefore,
              100.0 * static_cast<double>(ticksAfter - ticksBefore) /
                  (10.0 * static_cast<double>(sysconf(_SC_CLK_TCK))));
  std::printf("wake-ups over 3 s idle: %ld\n", switchesAfter3s - switchesBefore);
  std::printf("peak resident memory: %.2f MiB (now %.2f MiB)\n",
              static_cast<double>(readStatusKb(pid, "VmHWM:")) / 1024.0,
              static_cast<double>(readStatusKb(pid, "VmRSS:")) / 1024.0);

  // The host application goes away: commands are answered without it.
  const int eventPort = host.eventPort();
  const int commandPort = host.commandPort();
  hostOwner.reset();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const Figures away = percentiles(measure(line, {'X', 0x80, 3, 0, 60, 0x30}, 1, count / 5));
  std::printf("XLok with the host away: p50 %.1f us, p99 %.1f us\n", away.p50, away.p99);

  // Ten restarts of the host application, each waited for until the bridge
  // is back with its start message; then idle again.
  const auto restartsBegin = Clock::now();
  for (int restart = 0; restart < 10; ++restart) {
    p50x::hostsim::Options again;
    again.eventPort = eventPort;
    again.commandPort = commandPort;
    hostOwner = std::make_unique<p50x::hostsim::HostSimulator>(again);
    if (!hostOwner->start() || !hostOwner->waitForMessages(1, std::chrono::seconds(6))) {
      std::fprintf(stderr, "the bridge did not come back after restart %d\n", restart + 1);
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
      std::system(("rm -rf " + dir).c_str());
      return 1;
    }
    if (restart < 9) hostOwner.reset();
  }
  // The last catch-up (start message, Lok1's speed and light) is traffic,
  // not idling: let it finish before the quiet is measured.
  hostOwner->waitForMessages(3, std::chrono::seconds(5));
  std::printf("ten host restarts, each back: %.1f s in all\n",
              std::chrono::duration<double>(Clock::now() - restartsBegin).count());
  const long switchesBeforeAgain = contextSwitches(pid);
  std::this_thread::sleep_for(std::chrono::seconds(3));
  std::printf("wake-ups over 3 s idle after the restarts: %ld\n",
              contextSwitches(pid) - switchesBeforeAgain);
  std::printf("resident memory after ten host restarts: %.2f MiB (peak %.2f MiB)\n",
              static_cast<double>(readStatusKb(pid, "VmRSS:")) / 1024.0,
              static_cast<double>(readStatusKb(pid, "VmHWM:")) / 1024.0);

  const unsigned char esc = 27;
  writeAll(input[1], &esc, 1);
  int status = 0;
  waitpid(pid, &status, 0);
  close(line);
  hostOwner.reset();
  std::system(("rm -rf " + dir).c_str());
  return 0;
}
