#include "platform/serial_modem_watcher_posix.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/serial_events_posix.h"

namespace p50x::platform {
namespace {

// Interrupts the watcher's TIOCMIWAIT at shutdown. The handler does nothing:
// its only purpose is that the blocked ioctl returns with EINTR.
int wakeSignal() {
  return SIGRTMIN + 1;
}

extern "C" void onWakeSignal(int) {}

void installWakeHandler() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    struct sigaction action {};
    action.sa_handler = onWakeSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the ioctl must return
    ::sigaction(wakeSignal(), &action, nullptr);
  });
}

}  // namespace

ModemWatcher::Start ModemWatcher::start(int fd) {
  if (running_) return Start::kRunning;
  serial_icounter_struct counts{};
  if (::ioctl(fd, TIOCGICOUNT, &counts) != 0) return Start::kNoCounters;
  fd_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (fd_ < 0) return Start::kFailed;
  installWakeHandler();
  stop_.store(false);
  startCounts_ = counts;
  if (::pthread_create(&thread_, nullptr, &ModemWatcher::entry, this) != 0) {
    ::close(fd_);
    fd_ = -1;
    return Start::kFailed;
  }
  running_ = true;
  return Start::kRunning;
}

// The watcher may sit in TIOCMIWAIT or be just about to enter it. Putting
// /dev/null under its descriptor first makes a call not yet made fail at
// once; the signal then interrupts a call already waiting. Either way it
// sees the stop mark and ends, with no race left open.
void ModemWatcher::stop() {
  if (!running_) return;
  stop_.store(true);
  const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null >= 0) {
    ::dup2(null, fd_);
    ::close(null);
  }
  ::pthread_kill(thread_, wakeSignal());
  ::pthread_join(thread_, nullptr);
  ::close(fd_);
  fd_ = -1;
  running_ = false;
}

void ModemWatcher::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  target_ = nullptr;
  pending_ = 0;
  error_ = 0;
}

void ModemWatcher::startWait(std::uint32_t* eventMask) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (error_ != 0) {
    result_ = RequestResult{false, 0, error_};
    events_.signal(kWaitDoneEvent);
  } else if (pending_ != 0) {
    *eventMask = pending_;
    pending_ = 0;
    result_ = RequestResult{true, 0, 0};
    events_.signal(kWaitDoneEvent);
  } else {
    target_ = eventMask;
  }
}

RequestResult ModemWatcher::result() {
  std::lock_guard<std::mutex> lock(mutex_);
  return result_;
}

void* ModemWatcher::entry(void* self) {
  static_cast<ModemWatcher*>(self)->watch();
  return nullptr;
}

// Watcher thread: the counters tell which line changed, also when several
// changes came between two wake-ups.
void ModemWatcher::watch() {
  sigset_t wakeOnly;
  sigemptyset(&wakeOnly);
  sigaddset(&wakeOnly, wakeSignal());
  ::pthread_sigmask(SIG_UNBLOCK, &wakeOnly, nullptr);
  serial_icounter_struct last = startCounts_;
  while (!stop_.load()) {
    if (::ioctl(fd_, TIOCMIWAIT, TIOCM_RNG | TIOCM_CD) != 0) {
      if (stop_.load()) break;
      if (errno == EINTR) continue;
      fail(errno);
      break;
    }
    serial_icounter_struct now{};
    if (::ioctl(fd_, TIOCGICOUNT, &now) != 0) {
      if (!stop_.load()) fail(errno);
      break;
    }
    std::uint32_t changed = 0;
    if (now.rng != last.rng) changed |= kModemEventRing;
    if (now.dcd != last.dcd) changed |= kModemEventCarrier;
    last = now;
    if (changed != 0) deliver(changed);
  }
}

void ModemWatcher::deliver(std::uint32_t changed) {
  std::lock_guard<std::mutex> lock(mutex_);
  pending_ |= changed;
  if (target_ == nullptr) return;
  *target_ = pending_;
  pending_ = 0;
  target_ = nullptr;
  result_ = RequestResult{true, 0, 0};
  events_.signal(kWaitDoneEvent);
}

void ModemWatcher::fail(int error) {
  std::lock_guard<std::mutex> lock(mutex_);
  error_ = error;
  if (target_ == nullptr) return;
  target_ = nullptr;
  result_ = RequestResult{false, 0, error};
  events_.signal(kWaitDoneEvent);
}

}  // namespace p50x::platform
