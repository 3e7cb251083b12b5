// The serial device on Windows: the seven events are the system's own, and
// the read, the write and the modem-event wait are overlapped requests, one
// OVERLAPPED record each, whose events are the done events 1, 3 and 5. The
// worker sleeps in one WaitForMultipleObjects without time-out, which hands
// back the lowest signalled index and resets an automatic-reset event by
// returning it, exactly the order of service the engine needs.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>

#include "diag/console.h"
#include "platform/serial_device.h"
#include "platform/windows_device_name.h"

namespace p50x::platform {
namespace {

bool manualReset(int index) {
  return index == kReadDoneEvent || index == kWriteDoneEvent || index == kWaitDoneEvent;
}

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

// Threads: see SerialDevice. eventMutex_ guards the event handles against
// their release while another thread signals; the device, the requests and the
// modem-watch state belong to the worker while it runs and to the console
// thread otherwise.
class Win32SerialDevice final : public SerialDevice {
 public:
  Win32SerialDevice() {
    for (int index = 0; index < kSerialEventCount; ++index) {
      // Unnamed, default security, not signalled. A failed creation leaves a
      // null handle, which eventsUsable() reports.
      events_[index] = ::CreateEventA(nullptr, manualReset(index) ? TRUE : FALSE, FALSE, nullptr);
    }
  }

  ~Win32SerialDevice() override { releaseEvents(); }

  bool eventsUsable() const override {
    std::lock_guard<std::mutex> lock(eventMutex_);
    if (released_) return false;
    for (HANDLE event : events_) {
      if (event == nullptr) return false;
    }
    return true;
  }

  // The device goes first: its requests still signal these events while they
  // are being cancelled.
  void releaseEvents() override {
    closeDevice();
    std::lock_guard<std::mutex> lock(eventMutex_);
    released_ = true;
    for (HANDLE& event : events_) {
      if (event != nullptr) ::CloseHandle(event);
      event = nullptr;
    }
  }

  void signal(int index) override {
    std::lock_guard<std::mutex> lock(eventMutex_);
    if (events_[index] != nullptr) ::SetEvent(events_[index]);
  }

  void reset(int index) override {
    std::lock_guard<std::mutex> lock(eventMutex_);
    if (events_[index] != nullptr) ::ResetEvent(events_[index]);
  }

  int waitForLowestSignalled(int& error) override {
    if (!eventsUsable()) {
      error = ERROR_INVALID_HANDLE;
      return -1;
    }
    for (;;) {
      const DWORD woken = ::WaitForMultipleObjects(kSerialEventCount, events_, FALSE, INFINITE);
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
      ::ResetEvent(events_[kWaitDoneEvent]);
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

  // All five members 0: a read completes only when its full size has arrived,
  // a write when every byte has gone.
  bool setZeroTimeouts() override {
    COMMTIMEOUTS timeouts{};
    return ::SetCommTimeouts(device_, &timeouts) != FALSE;
  }

  // No hardware and no software flow control, DTR and RTS raised while open,
  // one stop bit. XonChar/XoffChar are 0x13/0x19 as the station always had
  // them; with XON/XOFF off they never act on the line.
  bool setLineSettings(const LineSettings& settings) override {
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = static_cast<DWORD>(settings.baudRate);
    dcb.fBinary = 1;
    dcb.fParity = (settings.parity == 1 || settings.parity == 2) ? 1 : 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = 0;
    dcb.XonLim = 2;
    dcb.XoffLim = 4;
    dcb.ByteSize = static_cast<BYTE>(settings.byteSize & 0xFF);
    dcb.Parity = settings.parity == 1 ? ODDPARITY : settings.parity == 2 ? EVENPARITY : NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0x13;
    dcb.XoffChar = 0x19;
    dcb.ErrorChar = 0;
    dcb.EofChar = 0;
    dcb.EvtChar = 0;
    return ::SetCommState(device_, &dcb) != FALSE;
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
    if (!::ReadFile(device_, buffer, static_cast<DWORD>(size), nullptr, &readRequest_)) {
      return pendingOrError();
    }
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

  RequestResult readResult() override { return completion(device_, readRequest_); }
  RequestResult writeResult() override { return completion(device_, writeRequest_); }

  // Taken when the wait-done event was served (see waitForLowestSignalled).
  RequestResult modemWaitResult() override {
    if (waitResult_.ok && target_ != nullptr) *target_ = static_cast<std::uint32_t>(maskWord_);
    return waitResult_;
  }

  bool modemLines(std::uint32_t& lines) override {
    DWORD status = 0;
    if (!::GetCommModemStatus(device_, &status)) return false;
    lines = 0;
    if ((status & MS_RING_ON) != 0) lines |= kModemLineRing;
    if ((status & MS_RLSD_ON) != 0) lines |= kModemLineCarrier;
    return true;
  }

  std::string errorText(int error) const override {
    char buffer[256] = {};
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                         static_cast<DWORD>(error), 0, buffer, sizeof buffer, nullptr);
    std::string text(buffer, length);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
      text.pop_back();
    }
    if (text.empty()) text = "Fehler " + std::to_string(error);
    return text;
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
    std::lock_guard<std::mutex> lock(eventMutex_);
    readRequest_.hEvent = events_[kReadDoneEvent];
    writeRequest_.hEvent = events_[kWriteDoneEvent];
    waitRequest_.hEvent = events_[kWaitDoneEvent];
  }

  mutable std::mutex eventMutex_;
  HANDLE events_[kSerialEventCount] = {};  // guarded by eventMutex_ (the worker waits on them)
  bool released_ = false;                  // guarded by eventMutex_

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
};

}  // namespace

// Nothing here needs the console: a Windows port name is never a link of ours.
std::unique_ptr<SerialDevice> createSerialDevice(Console&) {
  return std::make_unique<Win32SerialDevice>();
}

}  // namespace p50x::platform
