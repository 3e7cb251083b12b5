// The serial port engine: one worker thread that keeps one read, one write and
// one modem-event wait in flight and serves them in a fixed order.
#pragma once

#include <cstdint>
#include <functional>

#include "diag/console.h"
#include "diag/traffic_log.h"
#include "station/reply.h"

namespace p50x {

enum SerialNotification : int {
  kSerialStarted = 0,
  kSerialClosed = 1,
  kSerialWriteDone = 2,
  kSerialDataReceived = 3,
  kSerialRing = 4,
  kSerialCarrierOn = 5,
  kSerialCarrierOff = 6,
};

// Result codes of open, exactly one returned.
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
// write is also entered from the worker (replies). See the .cpp for the guards.
class SerialPort final : public ReplySink {
 public:
  using Callback = std::function<void(SerialPort&, int notification)>;

  // The console shows why the line was lost if the worker ends on an I/O error.
  explicit SerialPort(Console& console);
  ~SerialPort() override;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  void setCallback(Callback callback);
  // Where sent bytes are logged; nullptr: not logged. May change while running.
  void setTrafficLog(TrafficLog* log);

  int open(const char* portName, int baudRate, int parity, int byteSize, int modemEvents);
  void setReadSize(int count);
  void write(const std::uint8_t* bytes, int length) override;
  void reArmRead();
  std::uint8_t* readBuffer();
  int bytesRead() const;
  void stop();
  void close();
};

// The serial callback: logs each received delivery, feeds it to the command
// assembler, then re-arms the read. Other notifications are ignored.
class CommandAssembler;
void serialCallback(SerialPort& port, int notification, TrafficLog* log,
                    CommandAssembler* assembler);

}  // namespace p50x
