#include "serial/serial_port.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <utility>

#include "platform/serial_device.h"

namespace p50x {

using platform::kReadDoneEvent;
using platform::kReadStartEvent;
using platform::kSerialEventCount;
using platform::kStopEvent;
using platform::kWaitDoneEvent;
using platform::kWaitStartEvent;
using platform::kWriteDoneEvent;
using platform::kWriteStartEvent;

namespace {
// How long stop waits for a worker that may be inside a callback waiting for
// the host; close then waits for the rest.
constexpr std::chrono::milliseconds kStopWait{2000};
}  // namespace

SerialPort::SerialPort(Console& console)
    : SerialPort(console, platform::createSerialDevice(console)) {}

SerialPort::SerialPort(Console& console, std::unique_ptr<platform::SerialDevice> device)
    : console_(console), device_(std::move(device)) {}

SerialPort::~SerialPort() {
  joinWorker();
  device_->closeDevice();
}

void SerialPort::setCallback(Callback callback) {
  auto installed = std::make_shared<const Callback>(std::move(callback));
  std::lock_guard<std::mutex> lock(callbackMutex_);
  callback_ = std::move(installed);
}

void SerialPort::setTrafficLog(TrafficLog* log) {
  std::lock_guard<std::mutex> lock(writeMutex_);
  log_ = log;
}

int SerialPort::open(const char* portName, int baudRate, int parity, int byteSize,
                     int modemEvents) {
  // Two workers must never share one device: a worker left from an earlier
  // open is ended before the device is touched.
  joinWorker();
  device_->closeDevice();

  int result = kOpenOk;
  if (portName == nullptr) {
    result = kOpenNoPortName;
  } else {
    portName_ = portName;
    baudRate_ = baudRate;
    parity_ = parity;
    modemEvents_ = modemEvents != 0;
    if (device_->openDevice(portName_.c_str()) != 0) {
      result = kOpenDeviceFailed;
    } else {
      // All three are applied whatever the others report; the most telling
      // failure is the one returned.
      const bool maskSet = device_->setModemEventMask(modemEvents_);
      const bool timeoutsSet = device_->setZeroTimeouts();
      const bool stateSet =
          device_->setLineSettings(platform::LineSettings{baudRate_, parity_, byteSize & 0xFF});
      if (!stateSet) {
        result = kOpenSetCommStateFailed;
      } else if (!timeoutsSet) {
        result = kOpenSetCommTimeoutsFailed;
      } else if (!maskSet) {
        result = kOpenSetCommMaskFailed;
      }
    }
  }
  if (!device_->eventsUsable()) result = kOpenEventsReleased;
  if (result != kOpenOk) {
    device_->closeDevice();
    return result;
  }

  // A fresh worker starts from quiet events: a stop meant for an earlier
  // worker, or a completion of a request abandoned with the old device, must
  // not reach it.
  for (int index = 0; index < kSerialEventCount; ++index) device_->reset(index);
  {
    std::lock_guard<std::mutex> lock(lifeMutex_);
    workerEnded_ = false;
  }
  try {
    worker_ = std::thread([this] { workerLoop(); });
  } catch (const std::system_error& error) {
    {
      std::lock_guard<std::mutex> lock(lifeMutex_);
      workerEnded_ = true;
    }
    console_.print("Serieller Arbeitsthread nicht gestartet: %s\n", error.what());
    device_->closeDevice();
    return kOpenDeviceFailed;
  }
  return kOpenOk;
}

void SerialPort::setReadSize(int count) {
  readSize_.store(std::clamp(count, 1, kMaxReadSize));
}

void SerialPort::write(const std::uint8_t* bytes, int length) {
  std::lock_guard<std::mutex> lock(writeMutex_);
  // Logged before anything is decided, so dropped bytes show in the monitor
  // too; under the same guard as the queue, so the log's order is the line's.
  if (log_ != nullptr && bytes != nullptr) log_->logSent(length, bytes);
  if (bytes == nullptr || length < 0 || length > kMaxWriteLength) return;
  const auto count = static_cast<std::size_t>(length);
  if (count > queue_.size() - queueCount_) return;
  for (std::size_t i = 0; i < count; ++i) {
    queue_[(queueHead_ + queueCount_ + i) % queue_.size()] = bytes[i];
  }
  queueCount_ += count;
  // While a write is under way the worker starts the next one by itself when
  // it completes; a reply written then is never lost, only queued.
  if (!writeBusy_) {
    writeBusy_ = true;
    device_->signal(kWriteStartEvent);
  }
}

void SerialPort::reArmRead() {
  device_->signal(kReadStartEvent);
}

std::uint8_t* SerialPort::readBuffer() {
  return readBuffer_.data();
}

int SerialPort::bytesRead() const {
  return bytesRead_;
}

void SerialPort::stop() {
  running_.store(0);
  device_->signal(kStopEvent);
  std::unique_lock<std::mutex> lock(lifeMutex_);
  workerEnd_.wait_for(lock, kStopWait, [this] { return workerEnded_; });
}

void SerialPort::close() {
  // Waits for the worker's very end, however long a callback still waits for
  // the host: only then may the events and the device go.
  joinWorker();
  device_->releaseEvents();
  device_->closeDevice();
}

void SerialPort::joinWorker() {
  if (!worker_.joinable()) return;
  device_->signal(kStopEvent);
  worker_.join();
}

void SerialPort::workerLoop() {
  running_.store(1);
  readPending_ = false;
  writeInFlight_ = false;
  waitPending_ = false;
  notify(kSerialStarted);

  device_->signal(kReadStartEvent);
  if (modemEvents_) device_->signal(kWaitStartEvent);
  {
    // Writes accepted while no worker ran are still queued.
    std::lock_guard<std::mutex> lock(writeMutex_);
    if (writeBusy_) device_->signal(kWriteStartEvent);
  }

  int error = 0;
  for (;;) {
    const int index = device_->waitForLowestSignalled(error);
    if (index == kStopEvent) break;
    if (index < 0 || index >= kSerialEventCount) break;
    error = serve(index);
    if (error != 0) break;
  }

  running_.store(0);
  device_->closeDevice();
  if (error != 0) {
    // Without this line the bridge would go on deaf with nobody knowing why.
    console_.print("Serielle Verbindung verloren: %s\n", device_->errorText(error).c_str());
  }
  notify(kSerialClosed);
  std::lock_guard<std::mutex> lock(lifeMutex_);
  workerEnded_ = true;
  workerEnd_.notify_all();
}

int SerialPort::serve(int index) {
  switch (index) {
    case kReadDoneEvent:
      return serveReadDone();
    case kReadStartEvent:
      return issueRead();
    case kWriteDoneEvent:
      return serveWriteDone();
    case kWriteStartEvent:
      return issueWrite();
    case kWaitDoneEvent:
      return serveWaitDone();
    case kWaitStartEvent:
      return issueWait();
    default:
      return 0;
  }
}

int SerialPort::serveReadDone() {
  const platform::RequestResult result = device_->readResult();
  if (!result.ok) return result.error;
  device_->reset(kReadDoneEvent);
  bytesRead_ = result.count;
  readPending_ = false;
  // No next read here: the callback re-arms it once the byte is handled, so
  // the next byte is read only after this one has been fed.
  if (result.count > 0) notify(kSerialDataReceived);
  return 0;
}

int SerialPort::issueRead() {
  if (readPending_) return 0;
  readPending_ = true;
  return device_->startRead(readBuffer_.data(), readSize_.load());
}

int SerialPort::serveWriteDone() {
  const platform::RequestResult result = device_->writeResult();
  if (!result.ok) return result.error;
  device_->reset(kWriteDoneEvent);
  writeInFlight_ = false;
  {
    std::lock_guard<std::mutex> lock(writeMutex_);
    if (queueCount_ > 0) {
      device_->signal(kWriteStartEvent);
    } else {
      writeBusy_ = false;
    }
  }
  notify(kSerialWriteDone);
  return 0;
}

int SerialPort::issueWrite() {
  if (writeInFlight_) return 0;
  {
    std::lock_guard<std::mutex> lock(writeMutex_);
    if (!writeBusy_) return 0;
    const std::size_t count = std::min(queueCount_, writeBuffer_.size());
    for (std::size_t i = 0; i < count; ++i) {
      writeBuffer_[i] = queue_[(queueHead_ + i) % queue_.size()];
    }
    queueHead_ = (queueHead_ + count) % queue_.size();
    queueCount_ -= count;
    writeLength_ = static_cast<int>(count);
  }
  writeInFlight_ = true;
  return device_->startWrite(writeBuffer_.data(), writeLength_);
}

int SerialPort::serveWaitDone() {
  const platform::RequestResult result = device_->modemWaitResult();
  if (!result.ok) return result.error;
  device_->reset(kWaitDoneEvent);
  waitPending_ = false;
  evaluateModemStatus();
  device_->signal(kWaitStartEvent);
  return 0;
}

int SerialPort::issueWait() {
  if (waitPending_ || !modemEvents_) return 0;
  waitPending_ = true;
  return device_->startModemWait(&eventMask_);
}

void SerialPort::evaluateModemStatus() {
  std::uint32_t lines = 0;
  // Lines that cannot be read say nothing: no notification rather than a
  // guessed one.
  if (!device_->modemLines(lines)) return;
  if ((eventMask_ & platform::kModemEventRing) != 0 && (lines & platform::kModemLineRing) != 0) {
    notify(kSerialRing);
  }
  if ((eventMask_ & platform::kModemEventCarrier) != 0) {
    notify((lines & platform::kModemLineCarrier) != 0 ? kSerialCarrierOn : kSerialCarrierOff);
  }
}

void SerialPort::notify(int notification) {
  std::shared_ptr<const Callback> callback;
  {
    std::lock_guard<std::mutex> lock(callbackMutex_);
    callback = callback_;
  }
  if (callback && *callback) (*callback)(*this, notification);
}

}  // namespace p50x
