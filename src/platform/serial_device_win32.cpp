// The serial device on Windows: the seven events are the system's own
// (serial_events_win32), the line is set up in serial_line_win32, and the
// read, the write and the modem-event wait are overlapped requests here, one
// OVERLAPPED record each, whose events are the done events 1, 3 and 5.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/serial_device.h"
#include "platform/serial_events_win32.h"
#include "platform/serial_line_win32.h"
#include "platform/system_error_text_win32.h"
#include "platform/windows_device_name.h"

namespace p50x::platform {
namespace {

// A driver that cannot report modem lines (a pseudo-terminal under Wine, some
// USB adapters) says so with one of these. Then there is nothing to watch,
// which is no reason to stop reading.
bool modemWatchUnsupported(DWORD error) {
  return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
}

// The outcome of a completed request, without waiting.
RequestResult completion(HANDLE device, OVERLAPPED& request) {
  DWORD count = 0;
  if (::GetOverlappedResult(device, &request, &count, FALSE)) {
    return RequestResult{true, static_cast<int>(count), 0};
  }
  return RequestResult{false, 0, static_cast<int>(::GetLastError())};
}

// Threads: see SerialDevice. The events guard themselves; the device, the
// requests and the modem-watch state belong to the worker while it runs and
// to the console thread otherwise.
class Win32SerialDevice final : public SerialDevice {
 public:
  ~Win32SerialDevice() override { releaseEvents(); }

  bool eventsUsable() const override { return events_.usable(); }

  // The device goes first: its requests still signal these events while they
  // are being cancelled.
  void releaseEvents() override {
    closeDevice();
    events_.release();
  }

  void signal(int index) override { events_.signal(index); }
  void reset(int index) override { events_.reset(index); }

  int waitForLowestSignalled(int& error) override {
    if (!eventsUsable()) {
      error = ERROR_INVALID_HANDLE;
      return -1;
    }
    for (;;) {
      const DWORD woken = events_.waitAny();
      if (woken >= WAIT_OBJECT_0 + kSerialEventCount) {
        error = static_cast<int>(woken == WAIT_FAILED ? ::GetLastError() : woken);
        return -1;
      }
      const int index = static_cast<int>(woken - WAIT_OBJECT_0);
      if (index != kWaitDoneEvent) return index;
      // A modem-event wait that the driver could not keep ends the watch here,
      // quietly; the engine never sees it, so reading goes on.
      waitResult_ = completion(device_, waitRequest_);
      if (waitResult_.ok || !modemWatchUnsupported(static_cast<DWORD>(waitResult_.error))) {
        return index;
      }
      events_.reset(kWaitDoneEvent);
      modemWatchOff_ = true;
    }
  }

  int openDevice(const char* name) override {
    closeDevice();
    const std::string path = windowsDeviceName(name);
    device_ = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
    if (device_ == INVALID_HANDLE_VALUE) return static_cast<int>(::GetLastError());
    prepareRequests();
    modemWatchOff_ = false;
    return 0;
  }

  bool isOpen() const override { return device_ != INVALID_HANDLE_VALUE; }

  bool setModemEventMask(bool watchRingAndCarrier) override {
    return ::SetCommMask(device_, watchRingAndCarrier ? EV_RING | EV_RLSD : 0) != FALSE;
  }

  bool setZeroTimeouts() override { return platform::setZeroTimeouts(device_); }

  bool setLineSettings(const LineSettings& settings) override {
    return applyLineSettings(device_, settings);
  }

  // Requests still in flight are cancelled and waited for before the handle
  // goes: until then the system may still write into their records and buffers.
  void closeDevice() override {
    if (device_ == INVALID_HANDLE_VALUE) return;
    ::CancelIoEx(device_, nullptr);
    DWORD ignored = 0;
    for (OVERLAPPED* request : {&readRequest_, &writeRequest_, &waitRequest_}) {
      if (request->hEvent != nullptr) ::GetOverlappedResult(device_, request, &ignored, TRUE);
    }
    ::CloseHandle(device_);
    device_ = INVALID_HANDLE_VALUE;
  }

  int startRead(std::uint8_t* buffer, int size) override {
    readWaited_ = true;
    if (!::ReadFile(device_, buffer, static_cast<DWORD>(size), nullptr, &readRequest_)) {
      return pendingOrError();
    }
    readWaited_ = false;
    return completedAtOnce(kReadDoneEvent);
  }

  int startWrite(const std::uint8_t* bytes, int length) override {
    if (!::WriteFile(device_, bytes, static_cast<DWORD>(length), nullptr, &writeRequest_)) {
      return pendingOrError();
    }
    return completedAtOnce(kWriteDoneEvent);
  }

  int startModemWait(std::uint32_t* eventMask) override {
    // With the watch off the wait simply never completes.
    if (modemWatchOff_) return 0;
    DWORD* mask = &maskWord_;
    target_ = eventMask;
    if (!::WaitCommEvent(device_, mask, &waitRequest_)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_IO_PENDING) return 0;
      if (modemWatchUnsupported(error)) {
        modemWatchOff_ = true;
        return 0;
      }
      return static_cast<int>(error);
    }
    return completedAtOnce(kWaitDoneEvent);
  }

  RequestResult readResult() override {
    RequestResult result = completion(device_, readRequest_);
    result.waited = readWaited_;
    return result;
  }
  RequestResult writeResult() override { return completion(device_, writeRequest_); }

  // Taken when the wait-done event was served (see waitForLowestSignalled).
  RequestResult modemWaitResult() override {
    if (waitResult_.ok && target_ != nullptr) *target_ = static_cast<std::uint32_t>(maskWord_);
    return waitResult_;
  }

  bool modemLines(std::uint32_t& lines) override { return readModemLines(device_, lines); }

  std::string errorText(int error) const override {
    return systemErrorText(static_cast<DWORD>(error));
  }

 private:
  // ReadFile, WriteFile and WaitCommEvent report a request that is under way as
  // a failure with ERROR_IO_PENDING; its event follows on completion.
  static int pendingOrError() {
    const DWORD error = ::GetLastError();
    return error == ERROR_IO_PENDING ? 0 : static_cast<int>(error);
  }

  // The system signals the event of a request that completed at once too;
  // signalling it again costs nothing and does not rest on that.
  int completedAtOnce(int doneEvent) {
    signal(doneEvent);
    return 0;
  }

  // Every member 0, then each record bound to its done event.
  void prepareRequests() {
    std::memset(&readRequest_, 0, sizeof readRequest_);
    std::memset(&writeRequest_, 0, sizeof writeRequest_);
    std::memset(&waitRequest_, 0, sizeof waitRequest_);
    readRequest_.hEvent = events_.handle(kReadDoneEvent);
    writeRequest_.hEvent = events_.handle(kWriteDoneEvent);
    waitRequest_.hEvent = events_.handle(kWaitDoneEvent);
  }

  EventSet events_;

  HANDLE device_ = INVALID_HANDLE_VALUE;
  OVERLAPPED readRequest_{};
  OVERLAPPED writeRequest_{};
  OVERLAPPED waitRequest_{};
  // WaitCommEvent writes its mask when the request completes, which may be
  // after the engine asked; the word lives here, with the request record.
  DWORD maskWord_ = 0;
  std::uint32_t* target_ = nullptr;
  RequestResult waitResult_;
  bool modemWatchOff_ = false;
  bool readWaited_ = true;  // the read in flight did not complete in ReadFile
};

}  // namespace

// Nothing here needs the console: a Windows port name is never a link of ours.
std::unique_ptr<SerialDevice> createSerialDevice(Console&) {
  return std::make_unique<Win32SerialDevice>();
}

}  // namespace p50x::platform
