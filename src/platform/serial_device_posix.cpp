// The serial device on Linux, put together from its pieces: the emulated
// events (serial_events_posix), non-blocking transfers finished by the worker
// when poll() says the tty is ready, so a request may "complete at once" like
// overlapped I/O (serial_transfer_posix), the tty and its settings
// (serial_line_posix), pty:PATH (serial_pty_posix) and the modem-line watcher
// thread (serial_modem_watcher_posix).
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/serial_device.h"
#include "platform/serial_events_posix.h"
#include "platform/serial_line_posix.h"
#include "platform/serial_modem_watcher_posix.h"
#include "platform/serial_pty_posix.h"
#include "platform/serial_transfer_posix.h"
#include "platform/system_error_text_posix.h"

namespace p50x::platform {
namespace {

// Threads: see SerialDevice. The events guard themselves; the transfers,
// descriptors and flags belong to the worker while it runs and to the console
// thread otherwise; the watcher guards what it shares with its own thread.
class PosixSerialDevice final : public SerialDevice {
 public:
  explicit PosixSerialDevice(Console& console) : console_(console) {}
  ~PosixSerialDevice() override { closeDevice(); }

  bool eventsUsable() const override { return events_.usable(); }
  // The eventfd itself stays open until destruction (see EmulatedEvents).
  void releaseEvents() override { events_.release(); }
  void signal(int index) override { events_.signal(index); }
  void reset(int index) override { events_.reset(index); }

  int waitForLowestSignalled(int& error) override {
    for (;;) {
      if (!events_.usable()) {
        error = EBADF;
        return -1;
      }
      if (const int index = events_.takeLowest(); index >= 0) return index;
      pollfd tty{-1, 0, 0};
      // The tty is watched only while a transfer waits on it: a hung-up tty
      // reports POLLHUP for ever and must not keep an idle worker awake.
      if (read_.inFlight()) tty.events |= POLLIN;
      if (write_.inFlight()) tty.events |= POLLOUT;
      if (tty.events != 0) tty.fd = ioFd_;
      if (const int failed = events_.sleep(tty); failed != 0) {
        error = failed;
        return -1;
      }
      const bool hungUp = (tty.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
      if (read_.inFlight() && (hungUp || (tty.revents & POLLIN) != 0)) advance(read_, hungUp);
      if (write_.inFlight() && (hungUp || (tty.revents & POLLOUT) != 0)) advance(write_, hungUp);
    }
  }

  int openDevice(const char* name) override {
    closeDevice();
    const std::string_view view(name);
    if (view.substr(0, kPtyPrefix.size()) == kPtyPrefix) {
      const int error = pty_.open(std::string(view.substr(kPtyPrefix.size())), console_);
      if (error != 0) return error;
      ioFd_ = pty_.master();
      // Terminal settings of a pseudo-terminal live on its slave side.
      settingsFd_ = pty_.slave();
      return 0;
    }
    if (const int error = openExclusiveTty(name, ttyFd_); error != 0) return error;
    ioFd_ = ttyFd_;
    settingsFd_ = ttyFd_;
    return 0;
  }

  bool isOpen() const override { return ioFd_ >= 0; }

  bool setModemEventMask(bool watchRingAndCarrier) override {
    watchWanted_ = watchRingAndCarrier;
    if (!watchWanted_) watcher_.stop();
    return isOpen();
  }

  // Non-blocking I/O that completes a read only at its full size is what zero
  // time-outs mean; there is nothing further to set.
  bool setZeroTimeouts() override { return isOpen(); }

  // The rate of our own pseudo-terminal is not read back: its settings are
  // shared with the control software, which may set its own rate at any
  // moment (even between our set and our check) without changing a byte on
  // our side, and must not make the bridge fail to open.
  bool setLineSettings(const LineSettings& settings) override {
    if (settingsFd_ < 0) return false;
    return applyLineSettings(settingsFd_, settings, !pty_.isOpen(), modemLinesPresent_);
  }

  void closeDevice() override {
    watcher_.stop();
    pty_.close();
    if (ttyFd_ >= 0) ::close(ttyFd_);
    ttyFd_ = -1;
    ioFd_ = -1;
    settingsFd_ = -1;
    read_.clear();
    write_.clear();
    modemLinesPresent_ = false;
    watcher_.clear();
  }

  int startRead(std::uint8_t* buffer, int size) override {
    if (ioFd_ < 0) return EBADF;
    read_.startRead(buffer, size);
    advance(read_, false);
    return 0;
  }

  int startWrite(const std::uint8_t* bytes, int length) override {
    if (ioFd_ < 0) return EBADF;
    write_.startWrite(bytes, length);
    advance(write_, false);
    return 0;
  }

  int startModemWait(std::uint32_t* eventMask) override {
    if (ioFd_ < 0) return EBADF;
    // Without lines to watch the wait simply never completes.
    if (!watchWanted_ || !modemLinesPresent_) return 0;
    switch (watcher_.start(ioFd_)) {
      case ModemWatcher::Start::kRunning:
        watcher_.startWait(eventMask);
        return 0;
      case ModemWatcher::Start::kNoCounters:
        modemLinesPresent_ = false;  // a driver without counters: no watch
        return 0;
      case ModemWatcher::Start::kFailed:
        return 0;
    }
    return 0;
  }

  RequestResult readResult() override { return read_.result(); }
  RequestResult writeResult() override { return write_.result(); }
  RequestResult modemWaitResult() override { return watcher_.result(); }

  bool modemLines(std::uint32_t& lines) override { return readModemLines(ioFd_, lines); }

  std::string errorText(int error) const override { return systemErrorText(error); }

 private:
  void advance(Transfer& transfer, bool hungUp) {
    if (transfer.advance(ioFd_, hungUp)) {
      events_.signal(&transfer == &read_ ? kReadDoneEvent : kWriteDoneEvent);
    }
  }

  Console& console_;
  EmulatedEvents events_;

  int ioFd_ = -1;        // where bytes go: the tty, or our pty's master
  int settingsFd_ = -1;  // where the line settings live
  int ttyFd_ = -1;       // owned here in tty mode; pty_ owns its own
  PseudoTerminal pty_;
  bool modemLinesPresent_ = false;
  bool watchWanted_ = false;
  Transfer read_;
  Transfer write_;
  // Declared last, so it is stopped before anything it signals goes.
  ModemWatcher watcher_{events_};
};

}  // namespace

std::unique_ptr<SerialDevice> createSerialDevice(Console& console) {
  return std::make_unique<PosixSerialDevice>(console);
}

}  // namespace p50x::platform
