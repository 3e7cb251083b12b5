#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>

#include "platform/console_input.h"

namespace p50x::platform {

namespace {
// A signal handler takes no context, so the one channel from the handler to
// the console loop is process-wide by nature: a self-pipe whose write end the
// handler may touch (write is async-signal-safe).
int gStopPipe[2] = {-1, -1};
std::atomic<bool> gDeferStop{false};

void onStopSignal(int) {
  if (!gDeferStop.load()) _exit(1);
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(gStopPipe[1], &byte, 1);
  errno = saved;
}

void installStopHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  if (::pipe(gStopPipe) == 0) {
    for (int fd : gStopPipe) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(gStopPipe[1], F_SETFL, O_NONBLOCK);
  }
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &action, nullptr);
}

// How long the rest of an escape sequence may lag behind its ESC (a terminal
// sends it in one write; remote links may split it).
constexpr int kSequenceGapMs = 30;

// Ctrl-C on a terminal in raw mode: a key code, read as a stop request.
constexpr unsigned char kCtrlC = 3;

// The terminal's settings as they were before raw mode, for every way out: a
// fatal signal's handler may use them (tcsetattr is async-signal-safe), so
// they live here, set before raw mode is entered.
termios gSavedTerminal{};
std::atomic<bool> gTerminalRaw{false};
constexpr int kFatalSignals[] = {SIGQUIT, SIGILL, SIGABRT, SIGFPE, SIGBUS, SIGSEGV};
struct sigaction gEarlierAction[NSIG] = {};

void restoreTerminal() {
  if (gTerminalRaw.exchange(false)) ::tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
}

// The terminal first, then what the signal did before: its earlier handler
// (a sanitizer's report, say) or its default action, delivered once this
// handler returns.
void onFatalSignal(int sig) {
  const int saved = errno;
  restoreTerminal();
  ::sigaction(sig, &gEarlierAction[sig], nullptr);
  ::raise(sig);
  errno = saved;
}

void installRestoreHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  std::atexit(restoreTerminal);
  struct sigaction action {};
  action.sa_handler = onFatalSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  for (int sig : kFatalSignals) ::sigaction(sig, &action, &gEarlierAction[sig]);
}

// Raw mode: no signals from keys, no flow control, no CR/LF translation, no
// echo, each byte as it comes. Output keeps its translation, so the console's
// lines still start at the left.
termios rawFrom(const termios& saved) {
  termios raw = saved;
  raw.c_iflag &= static_cast<tcflag_t>(
      ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY));
  raw.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHONL | ICANON | ISIG | IEXTEN));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  return raw;
}
}  // namespace

void ignoreBrokenPipe() {
  ::signal(SIGPIPE, SIG_IGN);
}

void endOnStopRequests() {
  installStopHandlers();
}

void deferStopRequests() {
  installStopHandlers();
  gDeferStop.store(true);
}

struct KeyInput::State {
  bool terminal = false;
  bool endOfInput = false;
  bool interrupted = false;  // Ctrl-C was typed on the terminal
  unsigned char buffer[256] = {};
  int count = 0;
  int position = 0;
  bool sequence = false;  // the rest of the buffer belongs to one key's codes
};

KeyInput::KeyInput() : state_(std::make_unique<State>()) {
  installStopHandlers();
  State& s = *state_;
  s.terminal = ::isatty(STDIN_FILENO) == 1;
  termios saved{};
  if (s.terminal && ::tcgetattr(STDIN_FILENO, &saved) == 0) {
    gSavedTerminal = saved;
    installRestoreHandlers();
    const termios raw = rawFrom(saved);
    gTerminalRaw.store(true);
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) gTerminalRaw.store(false);
  }
}

KeyInput::~KeyInput() {
  restoreTerminal();
}

bool KeyInput::stopRequested() {
  State& s = *state_;
  if (s.interrupted) return true;
  pollfd fds[2] = {{gStopPipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
  // On a terminal Ctrl-C is a key: what has been typed is taken into the
  // buffer (where readKey finds it later) and looked through.
  const bool lookAtKeys = s.terminal && !s.endOfInput;
  if (::poll(fds, lookAtKeys ? 2 : 1, 0) <= 0) return false;
  if (fds[0].revents != 0) return true;
  if (!lookAtKeys || fds[1].revents == 0) return false;
  if (s.position >= s.count) s.position = s.count = 0;
  const auto room = sizeof s.buffer - static_cast<std::size_t>(s.count);
  if (room == 0) return false;
  const ssize_t got = ::read(STDIN_FILENO, s.buffer + s.count, room);
  if (got <= 0) {
    if (got == 0) s.endOfInput = true;
    return false;
  }
  for (ssize_t i = 0; i < got; ++i) {
    if (s.buffer[s.count + i] == kCtrlC) s.interrupted = true;
  }
  s.count += static_cast<int>(got);
  return s.interrupted;
}

int KeyInput::readKey(bool& partOfSequence) {
  State& s = *state_;
  partOfSequence = false;
  if (s.interrupted) return kStopRequested;
  while (s.position >= s.count) {
    s.sequence = false;
    pollfd fds[2] = {{gStopPipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    const nfds_t n = s.endOfInput ? 1 : 2;
    if (::poll(fds, n, -1) < 0) {
      if (errno == EINTR) continue;
      return kStopRequested;
    }
    if (fds[0].revents != 0) return kStopRequested;
    if (n < 2 || fds[1].revents == 0) continue;
    const ssize_t got = ::read(STDIN_FILENO, s.buffer, sizeof s.buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) {
      s.endOfInput = true;  // keep running until a stop request
      continue;
    }
    s.count = static_cast<int>(got);
    s.position = 0;
  }
  const unsigned char code = s.buffer[s.position++];
  if (s.terminal && code == kCtrlC) {
    s.interrupted = true;
    return kStopRequested;
  }
  if (s.terminal && code == 27 && !s.sequence) {
    if (s.position == s.count) {
      // A lone ESC unless the rest of a sequence follows right behind it.
      pollfd more{STDIN_FILENO, POLLIN, 0};
      if (::poll(&more, 1, kSequenceGapMs) > 0) {
        const ssize_t got = ::read(STDIN_FILENO, s.buffer, sizeof s.buffer);
        if (got > 0) {
          s.count = static_cast<int>(got);
          s.position = 0;
          s.sequence = true;
        }
      }
    } else {
      s.sequence = true;
    }
    partOfSequence = s.sequence;
    return code;
  }
  partOfSequence = s.sequence;
  return code;
}

}  // namespace p50x::platform
