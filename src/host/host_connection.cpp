// STUB: to be written.
#include "host/host_connection.h"

namespace p50x {
HostConnection::HostConnection(Console&) {}
HostConnection::~HostConnection() = default;
void HostConnection::setCallback(Callback) {}
int HostConnection::connect(const char*, int) { return -1; }
int HostConnection::close() { return 0; }
char* HostConnection::receiveBuffer() { return nullptr; }
int HostConnection::receivedLength() const { return 0; }
int HostConnection::sendAndAwaitAnswer(const char*) { return 0; }
}  // namespace p50x
