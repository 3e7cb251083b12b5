// STUB: to be written.
#include "serial/serial_port.h"

namespace p50x {
SerialPort::SerialPort(Console&) {}
SerialPort::~SerialPort() = default;
void SerialPort::setCallback(Callback) {}
void SerialPort::setTrafficLog(TrafficLog*) {}
int SerialPort::open(const char* name, int, int, int, int) { return name ? kOpenDeviceFailed : kOpenNoPortName; }
void SerialPort::setReadSize(int) {}
void SerialPort::write(const std::uint8_t*, int) {}
void SerialPort::reArmRead() {}
std::uint8_t* SerialPort::readBuffer() { return nullptr; }
int SerialPort::bytesRead() const { return 0; }
void SerialPort::stop() {}
void SerialPort::close() {}
void serialCallback(SerialPort&, int, TrafficLog*, CommandAssembler*) {}
}  // namespace p50x
