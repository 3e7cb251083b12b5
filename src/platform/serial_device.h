// The serial device as the serial port engine sees it: seven events, a device
// with line settings, and three requests (read, write, modem-event wait) that
// are started, complete by signalling their done event, and are then asked for
// their result. The shape is that of overlapped I/O, so every platform serves
// the same engine: on Windows the events and requests are the system's own; on
// POSIX the device emulates them over non-blocking I/O and one poll.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace p50x {
class Console;
}

namespace p50x::platform {

// Event indexes. When several events are signalled the worker serves the
// lowest index first, so the order here is the order of service.
enum SerialEventIndex : int {
  kStopEvent = 0,        // automatic reset
  kReadDoneEvent = 1,    // manual reset, signalled by the read's completion
  kReadStartEvent = 2,   // automatic reset
  kWriteDoneEvent = 3,   // manual reset, signalled by the write's completion
  kWriteStartEvent = 4,  // automatic reset
  kWaitDoneEvent = 5,    // manual reset, signalled by the modem wait's completion
  kWaitStartEvent = 6,   // automatic reset
  kSerialEventCount = 7,
};

// Bits of a completed modem-event wait and of the modem lines. They are the
// Windows values (EV_RING, EV_RLSD, MS_RING_ON, MS_RLSD_ON), so the engine
// reads one set of bits on every platform.
inline constexpr std::uint32_t kModemEventRing = 0x100;
inline constexpr std::uint32_t kModemEventCarrier = 0x20;
inline constexpr std::uint32_t kModemLineRing = 0x40;
inline constexpr std::uint32_t kModemLineCarrier = 0x80;

struct LineSettings {
  int baudRate = 0;
  int parity = 0;    // 1 odd, 2 even, anything else none
  int byteSize = 8;  // data bits
};

// The outcome of a completed request. `error` is a platform error number,
// meaningful only when `ok` is false.
struct RequestResult {
  bool ok = false;
  int count = 0;
  int error = 0;
  // False when the request completed as it was started (a read whose bytes
  // were already there); true when it had to wait for the device.
  bool waited = true;
};

// Threads: the engine's worker waits, starts requests and takes their results,
// and may close a failed device and open it again; the console thread opens,
// configures and closes the device only while no worker runs. signal() may be called from any
// thread at any time, also after releaseEvents() (it then does nothing). Each realisation guards
// itself.
class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  // Events. False once the events are released (or could not be created).
  virtual bool eventsUsable() const = 0;
  virtual void releaseEvents() = 0;
  virtual void signal(int index) = 0;
  virtual void reset(int index) = 0;
  // Sleeps, without time-out, until an event is signalled; returns the lowest
  // signalled index and resets it if it is an automatic-reset event. Returns
  // -1 with `error` set when the wait itself fails.
  virtual int waitForLowestSignalled(int& error) = 0;

  // The device. openDevice returns 0 or the platform error number; any
  // request in flight is abandoned by closeDevice.
  virtual int openDevice(const char* name) = 0;
  virtual bool isOpen() const = 0;
  virtual bool setModemEventMask(bool watchRingAndCarrier) = 0;
  virtual bool setZeroTimeouts() = 0;
  virtual bool setLineSettings(const LineSettings& settings) = 0;
  virtual void closeDevice() = 0;

  // Requests. start* returns 0 when the request is under way: its done event
  // is signalled on completion, also when it completed at once. Any other
  // value is the platform error number of a request that failed to start.
  // A read completes only when `size` bytes have arrived; a write only when
  // every byte has gone out. Buffers stay owned by the caller and must live
  // until the completion has been served or the device is closed.
  virtual int startRead(std::uint8_t* buffer, int size) = 0;
  virtual int startWrite(const std::uint8_t* bytes, int length) = 0;
  virtual int startModemWait(std::uint32_t* eventMask) = 0;
  virtual RequestResult readResult() = 0;
  virtual RequestResult writeResult() = 0;
  virtual RequestResult modemWaitResult() = 0;
  // The ring and carrier-detect lines as kModemLine* bits; false if unknown.
  virtual bool modemLines(std::uint32_t& lines) = 0;

  // Human-readable text of a platform error number.
  virtual std::string errorText(int error) const = 0;
};

// The device of this platform. The console receives the device's own notices
// (for example why a link path was left alone).
std::unique_ptr<SerialDevice> createSerialDevice(Console& console);

}  // namespace p50x::platform
