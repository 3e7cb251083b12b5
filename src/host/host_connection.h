// One link to the host application: a read connection served by a receiver
// thread, and a write connection for request and answer.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "diag/console.h"
#include "platform/socket.h"
#include "seams/host_sender.h"

namespace p50x {

// Notification codes passed to the callback.
enum HostNotification : int { kHostStarted = 0, kHostClosed = 1, kHostDataReceived = 2 };

// Threads: setCallback, connect and the destructor on the console thread
// (setCallback before connect); the receiver thread alone receives on the read
// connection and runs the callback; sendAndAwaitAnswer on one caller thread at
// a time; close from any thread (console at shutdown, receiver at the end of
// its connection). Guards: the socket handles are written by connect before
// the receiver starts and never change until the destructor, which releases
// them only after joining the receiver, so no thread can ever meet a closed or
// reused descriptor; close only shuts the sockets down, once, by an atomic
// flag. No lock is taken and none is held across a wait for the host.
class HostConnection final : public HostSender {
 public:
  static constexpr int kReceiveSize = 256;  // one chunk, plus room for a zero
  static constexpr int kAnswerSize = 128;   // one answer read and discarded
  static constexpr int kAnswerTimeoutMs = 2000;

  using Callback = std::function<void(HostConnection&, int notification)>;

  explicit HostConnection(Console& console);
  ~HostConnection() override;  // closes and waits for the receiver thread
  HostConnection(const HostConnection&) = delete;
  HostConnection& operator=(const HostConnection&) = delete;

  void setCallback(Callback callback);

  // 0 when both connections are made and the receiver runs; otherwise the
  // failure's code after its console text. One connect per object.
  int connect(const char* address, int port);

  // Why the last connect failed, for the line that names the cause.
  struct ConnectFailure {
    int error = 0;             // the platform's error number; 0: none known
    bool lineEnded = true;     // false: the console text left its line open
    bool threadError = false;  // the receiver thread: error is a C++ error code
  };
  const ConnectFailure& connectFailure() const { return failure_; }

  // Idempotent; safe from two threads; wakes a receive blocked on the read
  // connection and any wait for an answer. Returns 0.
  int close();

  // Valid inside the callback for kHostDataReceived: kReceiveSize + 1 bytes.
  char* receiveBuffer();
  int receivedLength() const;

  int sendAndAwaitAnswer(const char* text) override;

  // How long sendAndAwaitAnswer waits for the answer (default
  // kAnswerTimeoutMs); a negative value waits without limit.
  void setAnswerTimeout(int milliseconds);
  // Bytes of the answer read by the caller's last sendAndAwaitAnswer; 0 when
  // none came (timeout, connection ended, send failed).
  int lastAnswerLength() const;

 private:
  void receive();
  void notify(int notification);

  Console& console_;
  Callback callback_;
  platform::SocketHandle readSocket_ = platform::kInvalidSocket;
  platform::SocketHandle writeSocket_ = platform::kInvalidSocket;
  bool libraryStarted_ = false;
  bool connectTried_ = false;
  ConnectFailure failure_;  // console thread only
  std::atomic<bool> closed_{false};
  std::thread receiver_;
  // Receiver thread only (and its callback).
  char receiveBuffer_[kReceiveSize + 1] = {};
  int receivedLength_ = 0;
  // The sending thread only.
  std::atomic<int> answerTimeoutMs_{kAnswerTimeoutMs};
  int lastAnswerLength_ = 0;
};

}  // namespace p50x
