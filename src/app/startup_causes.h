// The lines that follow a start-up failure's own console text and name its
// cause: what failed, with the setting to change and the system's reason.
#pragma once

#include <string>

#include "diag/console.h"
#include "host/host_connection.h"
#include "platform/serial_cause.h"

namespace p50x {

// After "Read Connect error" and the like: the link, the address and port with
// their setting keys, and the system's reason. `linkName` is "Ereignis-
// Verbindung" or "Befehls-Verbindung", `portKey` the key of its port.
void reportLinkFailure(Console& console, const HostConnection::ConnectFailure& failure,
                       const char* linkName,
                       int portKey, const char* address, int port);

// After "ERROR : com->connect N": what N means for this port.
void reportSerialFailure(Console& console, const char* portName, int baudRate, int result);

// The text of that line for a diagnosis, without the line end.
std::string serialFailureText(const platform::SerialOpenDiagnosis& diagnosis, const char* portName,
                              int baudRate);

}  // namespace p50x
