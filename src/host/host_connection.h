// One link to the host application: a read connection served by a receiver
// thread, and a write connection for request and answer.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "diag/console.h"
#include "host/line_framer.h"
#include "platform/socket.h"

namespace p50x {

// Notification codes passed to the callback.
enum HostNotification : int { kHostStarted = 0, kHostClosed = 1, kHostDataReceived = 2 };

// Threads: setCallback, setEndHandler, connect and the destructor on one owner
// thread (the setters before connect); the receiver thread alone receives on
// the read connection, frames what arrives and runs the callback; the answer
// reader alone receives on the write connection, so an end of that connection
// is seen at once, also while nothing is being sent; sendAndAwaitAnswer on one
// caller thread at a time; close from any thread (the owner at shutdown, the
// receiver at the end of its connection, or another thread while connect is
// still under way, which then fails at once).
// Guards: the socket handles are atomics written by connect and never changed
// again until the destructor, which releases them only after joining both
// threads, so no thread can ever meet a closed or reused descriptor; close
// only shuts the sockets down, once, by an atomic flag. answerMutex_ guards the
// answers received and the end of the write connection; the caller waiting
// for an answer sleeps on answered_ without holding it.
class HostConnection final {
 public:
  static constexpr int kReceiveSize = 256;  // one chunk, plus room for a zero
  static constexpr int kAnswerSize = 128;   // one answer read and discarded
  static constexpr int kAnswerTimeoutMs = 2000;

  using Callback = std::function<void(HostConnection&, int notification)>;
  enum class Side { kRead, kWrite };
  // Told once per connection, on the thread that receives on it, when it has
  // ended: error 0 when the host closed it (or it was closed here), else the
  // receive's error number. An end of the write connection leaves the read
  // connection open: whether it ends the link is the owner's call. With a
  // handler installed the connection writes no "recv failed" line itself: the
  // owner reports the end.
  using EndHandler = std::function<void(HostConnection&, Side side, int error)>;

  explicit HostConnection(Console& console);
  ~HostConnection();  // closes and waits for the receiver thread
  HostConnection(const HostConnection&) = delete;
  HostConnection& operator=(const HostConnection&) = delete;

  void setCallback(Callback callback);
  void setEndHandler(EndHandler handler);

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
  // True once close has run (from either side).
  bool isClosed() const { return closed_.load(); }

  // Valid inside the callback for kHostDataReceived: one message of what the
  // read connection delivered (LineFramer), in kReceiveSize + 1 bytes.
  char* receiveBuffer();
  int receivedLength() const;

  // Sends the text on the write connection and waits for one answer (at most
  // the answer time-out): 1 when sent, 0 when the send failed or the link is
  // closed. Each receive on the write connection (at most kAnswerSize bytes)
  // answers one message, so a long answer, or one that came after its
  // message's wait ran out, answers the next message at once.
  int sendAndAwaitAnswer(const char* text);

  // How long sendAndAwaitAnswer waits for the answer (default
  // kAnswerTimeoutMs); a negative value waits without limit.
  void setAnswerTimeout(int milliseconds);
  // Bytes of the answer that answered the caller's last sendAndAwaitAnswer; 0
  // when none came (timeout, connection ended, send failed).
  int lastAnswerLength() const;
  // True once the write connection has ended (or the link was closed).
  bool writeEnded() const;
  // The platform error of the caller's last failed send; 0 when it did not
  // fail on the socket (sent, nothing to send, or the link already closed).
  int lastSendError() const;

 private:
  void receive();
  void readAnswers();
  void notify(int notification);

  Console& console_;
  Callback callback_;
  EndHandler endHandler_;
  std::atomic<platform::SocketHandle> readSocket_{platform::kInvalidSocket};
  std::atomic<platform::SocketHandle> writeSocket_{platform::kInvalidSocket};
  bool libraryStarted_ = false;
  bool connectTried_ = false;
  ConnectFailure failure_;  // console thread only
  std::atomic<bool> closed_{false};
  std::thread receiver_;
  std::thread answerReader_;
  // Receiver thread only (and its callback).
  LineFramer framer_;
  char chunk_[kReceiveSize] = {};
  char receiveBuffer_[kReceiveSize + 1] = {};
  int receivedLength_ = 0;
  // Answers received and not yet given to a message. A host that floods the
  // write connection only adds to the count; the lengths, kept for the first
  // kLengthsKept of them, are there to be looked at, not relied on.
  static constexpr std::size_t kLengthsKept = 64;
  mutable std::mutex answerMutex_;
  std::condition_variable answered_;
  long answersWaiting_ = 0;        // guarded by answerMutex_
  std::deque<int> answerLengths_;  // guarded by answerMutex_
  bool writeEnded_ = false;        // guarded by answerMutex_
  // The sending thread only.
  std::atomic<int> answerTimeoutMs_{kAnswerTimeoutMs};
  int lastAnswerLength_ = 0;
  int lastSendError_ = 0;
};

}  // namespace p50x
