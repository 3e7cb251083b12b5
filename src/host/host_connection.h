// One link to the host application: a read connection served by a receiver
// thread, and a write connection for request and answer.
#pragma once

#include <functional>

#include "diag/console.h"
#include "host/host_sender.h"

namespace p50x {

// Notification codes passed to the callback.
enum HostNotification : int { kHostStarted = 0, kHostClosed = 1, kHostDataReceived = 2 };

// Threads: connect and the destructor on the console thread; the receiver
// thread runs the callback; sendAndAwaitAnswer on one caller thread at a time;
// close from the console thread and the receiver. (Guard details: see .cpp.)
class HostConnection final : public HostSender {
 public:
  static constexpr int kReceiveSize = 256;      // one chunk, plus room for a zero
  static constexpr int kAnswerSize = 128;       // one answer read and discarded
  static constexpr int kAnswerTimeoutMs = 2000;

  using Callback = std::function<void(HostConnection&, int notification)>;

  explicit HostConnection(Console& console);
  ~HostConnection() override;  // closes and waits for the receiver thread
  HostConnection(const HostConnection&) = delete;
  HostConnection& operator=(const HostConnection&) = delete;

  void setCallback(Callback callback);

  // 0 when both connections are made and the receiver runs; otherwise the
  // failure's code after its console text.
  int connect(const char* address, int port);

  // Idempotent; safe from two threads; wakes a receive blocked on the read
  // connection and any wait for an answer. Returns 0.
  int close();

  // Valid inside the callback for kHostDataReceived: kReceiveSize + 1 bytes.
  char* receiveBuffer();
  int receivedLength() const;

  int sendAndAwaitAnswer(const char* text) override;
};

}  // namespace p50x
