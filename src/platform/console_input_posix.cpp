#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
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
  bool restore = false;
  bool endOfInput = false;
  termios saved{};
  unsigned char buffer[64] = {};
  int count = 0;
  int position = 0;
  bool sequence = false;  // the rest of the buffer belongs to one key's codes
};

KeyInput::KeyInput() : state_(std::make_unique<State>()) {
  installStopHandlers();
  State& s = *state_;
  s.terminal = ::isatty(STDIN_FILENO) == 1;
  if (s.terminal && ::tcgetattr(STDIN_FILENO, &s.saved) == 0) {
    termios raw = s.saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    s.restore = ::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
  }
}

KeyInput::~KeyInput() {
  if (state_->restore) ::tcsetattr(STDIN_FILENO, TCSANOW, &state_->saved);
}

int KeyInput::readKey(bool& partOfSequence) {
  State& s = *state_;
  partOfSequence = false;
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
