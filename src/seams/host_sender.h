// Seam through which the layout tables report to the host application.
#pragma once

namespace p50x {

// Hands one message (a zero-terminated text ending in a line feed) over for
// delivery and returns at once: the host's answer is awaited by whoever
// delivers it, never by the caller, so a slow or silent host cannot hold up
// the serial side. Messages are delivered in the order they were posted.
// Callers: the console thread during start-up, then the serial worker.
class HostSender {
 public:
  virtual ~HostSender() = default;
  virtual void post(const char* text) = 0;
};

}  // namespace p50x
