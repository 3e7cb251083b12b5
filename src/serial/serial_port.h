// The serial port engine: one worker thread that keeps one read, one write and
// one modem-event wait in flight and serves them in a fixed order.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "diag/console.h"
#include "seams/reply.h"
#include "seams/traffic_log.h"
#include "serial/write_queue.h"

namespace p50x {

namespace platform {
class SerialDevice;
}

enum SerialNotification : int {
  kSerialStarted = 0,
  kSerialClosed = 1,
  kSerialWriteDone = 2,
  kSerialDataReceived = 3,
  kSerialRing = 4,
  kSerialCarrierOn = 5,
  kSerialCarrierOff = 6,
};

// Result codes of open, exactly one returned. They are powers of two but never
// combined: the number after "ERROR : com->connect" is what users quote when
// they ask for help, so each keeps the value it has always had.
enum SerialOpenResult : int {
  kOpenOk = 0,
  kOpenSetCommMaskFailed = 1,
  kOpenSetCommTimeoutsFailed = 2,
  kOpenSetCommStateFailed = 4,
  kOpenDeviceFailed = 8,
  kOpenNoPortName = 16,
  kOpenEventsReleased = 32,
};

// Threads: the console thread creates, opens, sets the read size, writes typed
// keys, stops and closes; the worker serves the device and runs the callback;
// write is also entered from the worker (replies).
// Guards: the WriteQueue guards itself (writes from both threads are queued
// whole and in order); callbackMutex_ covers the installed callback;
// lifeMutex_ the worker's end and the stop request. Everything named "worker
// only" below, and the device itself, is touched by the worker alone while it
// runs (also when it opens a lost device again), and by the console thread
// only while no worker exists. The worker's own code (loop and request
// service) lives in serial_worker.cpp.
class SerialPort final : public ReplySink {
 public:
  using Callback = std::function<void(SerialPort&, int notification)>;

  static constexpr int kMaxReadSize = 256;
  static constexpr int kMaxWriteLength = WriteQueue::kMaxWriteLength;
  static constexpr std::size_t kWriteQueueSize = WriteQueue::kSize;

  // The console shows why the line was lost if the worker ends on an I/O error.
  explicit SerialPort(Console& console);
  // With a device of the caller's choosing (tests, other platforms).
  SerialPort(Console& console, std::unique_ptr<platform::SerialDevice> device);
  ~SerialPort() override;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  void setCallback(Callback callback);
  // After the device fails (an I/O error, a hang-up, the device gone) the
  // worker tries the same port name again every `interval`, with the same
  // settings, and serves it again once it opens: the callback is told
  // kSerialClosed at the loss and kSerialStarted when the line is back. Zero
  // (the default) ends the worker at the loss, as the classic station did.
  // Before open.
  void setReopenInterval(std::chrono::milliseconds interval);
  // Where sent bytes are logged; nullptr: not logged. May change while running;
  // once it returns, no write uses the earlier log any more.
  void setTrafficLog(TrafficLog* log);

  int open(const char* portName, int baudRate, int parity, int byteSize, int modemEvents);
  void setReadSize(int count);
  void write(const std::uint8_t* bytes, int length) override;
  void reArmRead();
  std::uint8_t* readBuffer();
  int bytesRead() const;
  // Of the delivery being notified: false when its bytes were already there
  // as the read began (they came right behind the ones before).
  bool readWaited() const;
  void stop();
  void close();

  // True while the worker serves an open device (from the start of the
  // worker loop until it ends, or until the device is lost).
  bool running() const { return running_.load(); }
  int readSize() const { return readSize_.load(); }

 private:
  // Opens portName_ and applies the settings: one of the open result codes.
  int openDevice();
  void workerLoop();
  // Serves the open device until stop (0) or a failure (its platform error).
  int serveDevice();
  // After a loss: waits and tries again until the device is back (true) or
  // stop is asked for (false).
  bool awaitReopen();
  // Each returns 0, or the platform error that ends the worker loop.
  int serve(int index);
  int serveReadDone();
  int issueRead();
  int serveWriteDone();
  int issueWrite();
  int serveWaitDone();
  int issueWait();
  void evaluateModemStatus();
  void notify(int notification);
  void joinWorker();

  Console& console_;
  std::unique_ptr<platform::SerialDevice> device_;

  std::atomic<int> running_{0};
  std::atomic<int> readSize_{1};
  // Set by open before the worker starts; read by the worker.
  bool modemEvents_ = false;
  std::string portName_;  // the whole name: device paths are long
  int baudRate_ = 0;
  int parity_ = 0;
  int byteSize_ = 8;
  std::chrono::milliseconds reopenInterval_{0};

  std::thread worker_;  // console thread only
  std::mutex lifeMutex_;
  std::condition_variable workerEnd_;
  bool workerEnded_ = true;  // guarded by lifeMutex_
  // Set by stop (and close) before the stop event, cleared by open: what a
  // worker waiting to reopen a lost device wakes for.
  bool stopAsked_ = false;  // guarded by lifeMutex_
  std::condition_variable stopWake_;

  std::mutex callbackMutex_;
  std::shared_ptr<const Callback> callback_;  // guarded by callbackMutex_

  WriteQueue writes_;

  // Worker only.
  bool readPending_ = false;
  bool writeInFlight_ = false;
  bool waitPending_ = false;
  int bytesRead_ = 0;
  bool readWaited_ = true;
  int writeLength_ = 0;
  int writeSent_ = 0;  // of writeLength_, by the completions so far
  std::uint32_t eventMask_ = 0;
  std::array<std::uint8_t, kMaxReadSize + 1> readBuffer_{};
  std::array<std::uint8_t, kMaxWriteLength + 1> writeBuffer_{};
};

}  // namespace p50x
