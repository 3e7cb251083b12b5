// The serial port's life: open and configure the device, start and end the
// worker, and the operations other threads call.
#include "serial/serial_port.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <utility>

#include "platform/serial_device.h"

namespace p50x {

using platform::kReadStartEvent;
using platform::kSerialEventCount;
using platform::kStopEvent;
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
  writes_.setTrafficLog(log);
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
    byteSize_ = byteSize & 0xFF;
    modemEvents_ = modemEvents != 0;
    result = openDevice();
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
    stopAsked_ = false;
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

int SerialPort::openDevice() {
  if (device_->openDevice(portName_.c_str()) != 0) return kOpenDeviceFailed;
  // All three are applied whatever the others report; the most telling
  // failure is the one returned.
  const bool maskSet = device_->setModemEventMask(modemEvents_);
  const bool timeoutsSet = device_->setZeroTimeouts();
  const bool stateSet =
      device_->setLineSettings(platform::LineSettings{baudRate_, parity_, byteSize_});
  if (!stateSet) return kOpenSetCommStateFailed;
  if (!timeoutsSet) return kOpenSetCommTimeoutsFailed;
  if (!maskSet) return kOpenSetCommMaskFailed;
  return kOpenOk;
}

void SerialPort::setReopenInterval(std::chrono::milliseconds interval) {
  reopenInterval_ = interval;
}

// On the worker, after the lost device has been closed. The wait is a timed
// sleep that stop ends at once: no busy loop, and ESC or a stop signal is
// never held up by a missing adapter.
bool SerialPort::awaitReopen() {
  if (reopenInterval_.count() <= 0) return false;
  std::unique_lock<std::mutex> lock(lifeMutex_);
  for (;;) {
    if (stopWake_.wait_for(lock, reopenInterval_, [this] { return stopAsked_; })) return false;
    lock.unlock();
    const int result = openDevice();
    lock.lock();
    if (result == kOpenOk) break;
    device_->closeDevice();
  }
  // Completions of requests abandoned with the old device must not reach the
  // new one. Under lifeMutex_, so a stop asked for before this reset is seen
  // below and one asked for after it finds its stop event kept.
  for (int index = 0; index < kSerialEventCount; ++index) device_->reset(index);
  if (stopAsked_) {
    device_->closeDevice();
    return false;
  }
  lock.unlock();
  // Bytes queued for the lost line belong to the control software's earlier
  // session.
  writes_.discard();
  console_.print("Serielle Verbindung wieder offen: %s\n", portName_.c_str());
  return true;
}

void SerialPort::setReadSize(int count) {
  readSize_.store(std::clamp(count, 1, kMaxReadSize));
}

void SerialPort::write(const std::uint8_t* bytes, int length) {
  if (writes_.accept(bytes, length)) device_->signal(kWriteStartEvent);
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

bool SerialPort::readWaited() const {
  return readWaited_;
}

void SerialPort::stop() {
  running_.store(0);
  {
    std::lock_guard<std::mutex> lock(lifeMutex_);
    stopAsked_ = true;
  }
  stopWake_.notify_all();
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
  {
    std::lock_guard<std::mutex> lock(lifeMutex_);
    stopAsked_ = true;
  }
  stopWake_.notify_all();
  device_->signal(kStopEvent);
  worker_.join();
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
