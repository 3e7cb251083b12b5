// Seam through which host events reach the layout model.
#pragma once

namespace p50x {

// Entered from both host receiver threads, possibly at once; implementations
// guard the tables they touch.
class LayoutEvents {
 public:
  virtual ~LayoutEvents() = default;
  // Host event 100: a turnout name and a number (which changes nothing).
  virtual void turnoutReported(const char* name, int number) = 0;
  // Host event 150: the named contact is occupied.
  virtual void contactSet(const char* name) = 0;
  // Host event 151: the named contact is free.
  virtual void contactCleared(const char* name) = 0;
};

}  // namespace p50x
