#include "host/host_connection.h"

#include <chrono>
#include <cstring>
#include <system_error>

namespace p50x {

namespace sock = platform;

HostConnection::HostConnection(Console& console) : console_(console) {}

HostConnection::~HostConnection() {
  close();
  // Whatever the flag says, the receiver must wake before it is joined.
  sock::shutdownSocket(readSocket_);
  sock::shutdownSocket(writeSocket_);
  // The receiver still runs the callback after its receive has returned; the
  // sockets and this object must outlive it and the answer reader.
  if (receiver_.joinable()) receiver_.join();
  if (answerReader_.joinable()) answerReader_.join();
  sock::closeSocket(readSocket_);
  sock::closeSocket(writeSocket_);
  if (libraryStarted_) sock::releaseSocketLibrary();
}

void HostConnection::setCallback(Callback callback) {
  callback_ = std::move(callback);
}

void HostConnection::setEndHandler(EndHandler handler) {
  endHandler_ = std::move(handler);
}

int HostConnection::connect(const char* address, int port) {
  // A second connect would replace handles that the receiver may still use,
  // and a closed link stays closed.
  if (connectTried_ || closed_.load()) return -1;
  connectTried_ = true;

  const int started = sock::startSocketLibrary();
  if (started != 0) {
    failure_.error = started;
    console_.print("Failed. Error Code : %d\n", started);
    return started;
  }
  libraryStarted_ = true;

  readSocket_ = sock::createStreamSocket();
  if (readSocket_ == sock::kInvalidSocket) {
    const int error = sock::lastSocketError();
    failure_.error = error;
    console_.print("Could not create read-socket : %d\n", error);
    return error;
  }
  // A close from another thread sees the socket from here on and ends its
  // connect at once; one that came before is seen here.
  if (closed_.load()) return -1;
  // Text that is not a dotted IPv4 address is refused here, never looked up.
  if (sock::connectIpv4(readSocket_, address, port) < 0) {
    failure_.error = sock::lastSocketError();  // before the console can change it
    console_.out("Read Connect error\n");
    return -1;
  }

  writeSocket_ = sock::createStreamSocket();
  if (writeSocket_ == sock::kInvalidSocket) {
    const int error = sock::lastSocketError();
    failure_.error = error;
    failure_.lineEnded = false;
    console_.print("Could not create write-socket : %d", error);
    return error;
  }
  if (closed_.load()) return -1;
  if (sock::connectIpv4(writeSocket_, address, port) < 0) {
    failure_.error = sock::lastSocketError();
    console_.out("Write Connect error\n");
    return -1;
  }

  // A connect ended by a close from another thread may still report success:
  // a closed link stays closed.
  if (closed_.load()) return -1;

  // A link without its receiver would be deaf to every host event, so a thread
  // that cannot start fails the connect instead of going unnoticed.
  try {
    receiver_ = std::thread([this] { receive(); });
    answerReader_ = std::thread([this] { readAnswers(); });
  } catch (const std::system_error& e) {
    failure_.error = e.code().value();
    failure_.threadError = true;
    console_.print("Could not start the receiver thread : %d\n", e.code().value());
    return e.code().value() != 0 ? e.code().value() : -1;
  }
  return 0;
}

int HostConnection::close() {
  if (closed_.exchange(true)) return 0;
  // Shut down, not closed: a receiver blocked on the read socket and a caller
  // waiting for an answer wake at once, while the handles stay valid (and so
  // are never reused under them) until the destructor.
  sock::shutdownSocket(readSocket_);
  sock::shutdownSocket(writeSocket_);
  {
    // Taken so that a caller between its check and its sleep cannot miss this.
    std::lock_guard<std::mutex> lock(answerMutex_);
  }
  answered_.notify_all();
  return 0;
}

char* HostConnection::receiveBuffer() {
  return receiveBuffer_;
}

int HostConnection::receivedLength() const {
  return receivedLength_;
}

void HostConnection::notify(int notification) {
  if (callback_) callback_(*this, notification);
}

void HostConnection::receive() {
  notify(kHostStarted);
  const LineFramer::Deliver deliver = [this](char* text, int length) {
    std::memcpy(receiveBuffer_, text, static_cast<std::size_t>(length));
    receiveBuffer_[length] = '\0';
    receivedLength_ = length;
    notify(kHostDataReceived);
  };
  long n = 0;
  for (;;) {
    n = sock::receive(readSocket_, chunk_, kReceiveSize);
    if (n <= 0) break;
    const int overlong = framer_.feed(chunk_, static_cast<std::size_t>(n), deliver);
    for (int i = 0; i < overlong; ++i) {
      console_.out(
          "Host message longer than 256 bytes without a line end: passed on as it stands, "
          "the rest of its line dropped\n");
    }
  }
  receivedLength_ = static_cast<int>(n);
  // A local close reads as an orderly end (the shutdown makes the receive
  // return 0), so shutdown shows no error.
  int error = 0;
  if (n == 0) {
    notify(kHostClosed);
  } else {
    error = sock::lastSocketError();
    if (!endHandler_) console_.print("recv failed with error: %d\n", error);
  }
  close();
  if (endHandler_) endHandler_(*this, Side::kRead, error);
  notify(kHostClosed);
}

// The answer reader. It receives as the wait for an answer once did, one
// receive of at most kAnswerSize bytes per answer, but all the time, so a
// host that closes or resets only this connection is noticed at once.
void HostConnection::readAnswers() {
  char answer[kAnswerSize];
  long n = 0;
  for (;;) {
    n = sock::receive(writeSocket_, answer, sizeof answer);
    if (n <= 0) break;
    {
      std::lock_guard<std::mutex> lock(answerMutex_);
      ++answersWaiting_;
      if (answerLengths_.size() < kLengthsKept) answerLengths_.push_back(static_cast<int>(n));
    }
    answered_.notify_all();
  }
  const int error = n == 0 ? 0 : sock::lastSocketError();
  {
    std::lock_guard<std::mutex> lock(answerMutex_);
    writeEnded_ = true;
  }
  answered_.notify_all();
  // A close here shuts the write socket down, which ends the receive as the
  // host's close does: only an end that came from the host is told.
  if (!closed_.load() && endHandler_) endHandler_(*this, Side::kWrite, error);
}

int HostConnection::sendAndAwaitAnswer(const char* text) {
  lastAnswerLength_ = 0;
  lastSendError_ = 0;
  const sock::SocketHandle writeSocket = writeSocket_.load();
  if (text == nullptr || writeSocket == sock::kInvalidSocket || closed_.load()) return 0;
  const std::size_t length = std::strlen(text);
  // Nothing to send means no answer will come: do not wait for one.
  if (length == 0) return 0;
  if (sock::sendAll(writeSocket, text, length) < 0) {
    lastSendError_ = sock::lastSocketError();
    return 0;
  }

  // The wait is bounded so that a silent host cannot hold the sender for good.
  // If the answer comes late, the next request takes it as its own answer and
  // its own answer is taken by the one after: the answers carry nothing the
  // bridge uses, so the shift is harmless.
  std::unique_lock<std::mutex> lock(answerMutex_);
  const auto answeredOrEnded = [this] {
    return answersWaiting_ > 0 || writeEnded_ || closed_.load();
  };
  const int timeoutMs = answerTimeoutMs_.load(std::memory_order_relaxed);
  if (timeoutMs < 0) {
    answered_.wait(lock, answeredOrEnded);
  } else {
    answered_.wait_for(lock, std::chrono::milliseconds(timeoutMs), answeredOrEnded);
  }
  if (answersWaiting_ > 0) {
    --answersWaiting_;
    if (!answerLengths_.empty()) {
      lastAnswerLength_ = answerLengths_.front();
      answerLengths_.pop_front();
    } else {
      lastAnswerLength_ = kAnswerSize;
    }
  }
  return 1;
}

void HostConnection::setAnswerTimeout(int milliseconds) {
  answerTimeoutMs_.store(milliseconds, std::memory_order_relaxed);
}

int HostConnection::lastAnswerLength() const {
  return lastAnswerLength_;
}

bool HostConnection::writeEnded() const {
  std::lock_guard<std::mutex> lock(answerMutex_);
  return writeEnded_ || closed_.load();
}

int HostConnection::lastSendError() const {
  return lastSendError_;
}

}  // namespace p50x
