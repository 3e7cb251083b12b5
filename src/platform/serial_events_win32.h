// The seven events of the serial engine on Windows: the system's own, so the
// worker sleeps in one WaitForMultipleObjects without time-out, which hands
// back the lowest signalled index and resets an automatic-reset event by
// returning it, exactly the order of service the engine needs.
#pragma once

#include <windows.h>

#include <mutex>

#include "platform/serial_device.h"

namespace p50x::platform {

// Threads: signal() and reset() from any thread at any time, also after
// release() (they then do nothing); waitAny() from the worker. mutex_ guards
// the handles against their release while another thread signals; the
// worker's wait reads them unguarded, since the engine releases the events
// only once its worker has ended.
class EventSet {
 public:
  // Unnamed, default security, not signalled. A failed creation leaves a null
  // handle, which usable() reports.
  EventSet();
  ~EventSet() { release(); }
  EventSet(const EventSet&) = delete;
  EventSet& operator=(const EventSet&) = delete;

  bool usable() const;
  void release();
  void signal(int index);
  void reset(int index);
  // The event of one index, for the OVERLAPPED record of a request.
  HANDLE handle(int index) const;
  // WaitForMultipleObjects over all seven, without time-out.
  DWORD waitAny();

 private:
  mutable std::mutex mutex_;
  HANDLE events_[kSerialEventCount] = {};  // guarded by mutex_ (see above)
  bool released_ = false;                  // guarded by mutex_
};

}  // namespace p50x::platform
