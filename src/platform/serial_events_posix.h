// The seven events of the serial engine, emulated on Linux: bits in one word
// that any thread may set, and one eventfd that wakes the worker from its
// poll() when it sleeps. The worker's poll() also watches the tty while a
// read or write waits on it, so one sleep serves both, with no time-out.
#pragma once

#include <poll.h>

#include <atomic>
#include <cstdint>

namespace p50x::platform {

// Threads: signal() and reset() from any thread at any time, also after
// release() (signal then does nothing); takeLowest() and sleep() from the
// worker only. The word and the sleeping mark are atomics; the eventfd lives
// until destruction, so a late signal never writes into a descriptor number
// reused elsewhere.
class EmulatedEvents {
 public:
  EmulatedEvents();
  ~EmulatedEvents();
  EmulatedEvents(const EmulatedEvents&) = delete;
  EmulatedEvents& operator=(const EmulatedEvents&) = delete;

  // False once released, or when the eventfd could not be made.
  bool usable() const { return wakeFd_ >= 0 && !released_.load(); }
  void release() { released_.store(true); }

  void signal(int index);
  void reset(int index);

  // The lowest signalled index, reset if it is an automatic-reset event; -1
  // when none is signalled.
  int takeLowest();

  // Sleeps until an event is signalled or `tty` (when its fd is not -1) is
  // ready; its revents then tell what the tty had. Returns 0, or the errno of
  // a failed poll(). An interrupted poll() counts as woken.
  int sleep(pollfd& tty);

 private:
  void wake();

  int wakeFd_ = -1;
  std::atomic<bool> released_{false};
  std::atomic<std::uint32_t> signalled_{0};
  std::atomic<bool> sleeping_{false};
};

}  // namespace p50x::platform
