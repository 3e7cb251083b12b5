// Seam through which the layout tables report to the host application.
#pragma once

namespace p50x {

// The command link's write connection: send one message and wait (bounded) for
// the host's answer, which is read and discarded. Returns 1 when the text was
// sent, 0 when the send failed. Called on one thread at a time (console thread
// during start-up, then the serial worker).
class HostSender {
 public:
  virtual ~HostSender() = default;
  virtual int sendAndAwaitAnswer(const char* text) = 0;
};

}  // namespace p50x
