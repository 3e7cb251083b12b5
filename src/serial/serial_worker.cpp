// The serial worker: one thread that sleeps in a single wait over the seven
// events and serves whichever is signalled, lowest index first. Each served
// event either completes a request (and notifies the callback) or starts one.
#include <algorithm>

#include "platform/serial_device.h"
#include "serial/serial_port.h"

namespace p50x {

using platform::kReadDoneEvent;
using platform::kReadStartEvent;
using platform::kSerialEventCount;
using platform::kStopEvent;
using platform::kWaitDoneEvent;
using platform::kWaitStartEvent;
using platform::kWriteDoneEvent;
using platform::kWriteStartEvent;

void SerialPort::workerLoop() {
  for (;;) {
    const int error = serveDevice();
    running_.store(0);
    device_->closeDevice();
    if (error != 0) {
      // Without this line the bridge would go on deaf with nobody knowing why.
      console_.print("Serielle Verbindung verloren: %s\n", device_->errorText(error).c_str());
    }
    notify(kSerialClosed);
    if (error == 0 || !awaitReopen()) break;
  }
  std::lock_guard<std::mutex> lock(lifeMutex_);
  workerEnded_ = true;
  workerEnd_.notify_all();
}

int SerialPort::serveDevice() {
  running_.store(1);
  readPending_ = false;
  writeInFlight_ = false;
  waitPending_ = false;
  notify(kSerialStarted);

  device_->signal(kReadStartEvent);
  if (modemEvents_) device_->signal(kWaitStartEvent);
  // Writes accepted while no worker ran are still queued.
  if (writes_.busy()) device_->signal(kWriteStartEvent);

  int error = 0;
  for (;;) {
    const int index = device_->waitForLowestSignalled(error);
    if (index == kStopEvent) return 0;
    if (index < 0 || index >= kSerialEventCount) return error;
    error = serve(index);
    if (error != 0) return error;
  }
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
  readWaited_ = result.waited;
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
  // A write may complete with fewer bytes than asked for (other time-outs,
  // other drivers): the rest goes out at once, before any other write, or a
  // reply would lose its tail.
  writeSent_ += std::clamp(result.count, 0, writeLength_ - writeSent_);
  if (writeSent_ < writeLength_) {
    return device_->startWrite(writeBuffer_.data() + writeSent_, writeLength_ - writeSent_);
  }
  writeInFlight_ = false;
  if (writes_.completed()) device_->signal(kWriteStartEvent);
  notify(kSerialWriteDone);
  return 0;
}

int SerialPort::issueWrite() {
  if (writeInFlight_) return 0;
  const int count = writes_.next(writeBuffer_.data(), writeBuffer_.size());
  if (count < 0) return 0;
  writeLength_ = count;
  writeSent_ = 0;
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

}  // namespace p50x
