// STUB: to be written.
#include "host/host_messages.h"

namespace p50x {
HostMessage startMessage() { return {}; }
HostMessage speedMessage(const char*, int, float) { return {}; }
HostMessage lightMessage(const char*, int) { return {}; }
HostMessage turnoutMessage(const char*, int) { return {}; }
}  // namespace p50x
