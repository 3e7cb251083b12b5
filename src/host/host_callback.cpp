#include "host/host_callback.h"

namespace p50x {

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
