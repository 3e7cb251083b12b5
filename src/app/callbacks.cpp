#include "app/callbacks.h"

namespace p50x {

void serialCallback(SerialPort& port, int notification, TrafficLog* log,
                    CommandAssembler* assembler) {
  if (notification != kSerialDataReceived) return;
  const int count = port.bytesRead();
  if (count > 0) {
    std::uint8_t* bytes = port.readBuffer();
    bytes[count] = 0;
    if (log != nullptr) log->logReceived(count, bytes);
    if (assembler != nullptr) {
      assembler->feed(count, bytes,
                      port.readWaited() ? CommandAssembler::Arrival::kAfterWait
                                        : CommandAssembler::Arrival::kQueued);
    }
  }
  port.reArmRead();
}

void hostCallback(HostConnection& connection, int notification, HostEventParser* parser) {
  if (notification != kHostDataReceived || parser == nullptr) return;
  int length = connection.receivedLength();
  if (length <= 0) return;
  // The length comes from the receive; it never exceeds the chunk size, but the
  // zero must land inside the buffer whatever it says.
  if (length > HostConnection::kReceiveSize) length = HostConnection::kReceiveSize;
  char* text = connection.receiveBuffer();
  text[length] = '\0';
  parser->dispatch(length, text);
}

}  // namespace p50x
