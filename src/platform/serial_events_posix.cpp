#include "platform/serial_events_posix.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

#include "platform/serial_device.h"

namespace p50x::platform {
namespace {

constexpr std::uint32_t bit(int index) {
  return std::uint32_t{1} << index;
}

constexpr std::uint32_t kAutoResetEvents =
    bit(kStopEvent) | bit(kReadStartEvent) | bit(kWriteStartEvent) | bit(kWaitStartEvent);

}  // namespace

EmulatedEvents::EmulatedEvents() : wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

EmulatedEvents::~EmulatedEvents() {
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void EmulatedEvents::signal(int index) {
  if (released_.load()) return;
  signalled_.fetch_or(bit(index));
  // Only a sleeping worker needs the system call; the worker re-checks the
  // word after announcing its sleep, so no signal is missed in between.
  if (sleeping_.load()) wake();
}

void EmulatedEvents::reset(int index) {
  signalled_.fetch_and(~bit(index));
}

int EmulatedEvents::takeLowest() {
  const std::uint32_t word = signalled_.load();
  if (word == 0) return -1;
  const int index = __builtin_ctz(word);
  if ((bit(index) & kAutoResetEvents) != 0) signalled_.fetch_and(~bit(index));
  return index;
}

int EmulatedEvents::sleep(pollfd& tty) {
  tty.revents = 0;
  sleeping_.store(true);
  if (signalled_.load() != 0) {
    sleeping_.store(false);
    return 0;
  }
  pollfd fds[2] = {{wakeFd_, POLLIN, 0}, tty};
  const int ready = ::poll(fds, 2, -1);
  sleeping_.store(false);
  if (ready < 0) return errno == EINTR ? 0 : errno;
  if ((fds[0].revents & POLLIN) != 0) {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t drained = ::read(wakeFd_, &count, sizeof count);
  }
  tty.revents = fds[1].revents;
  return 0;
}

void EmulatedEvents::wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

}  // namespace p50x::platform
