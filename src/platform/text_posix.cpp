#include "platform/text.h"

namespace p50x::platform {
// The Linux console speaks UTF-8.
const char* const kMonitorOpenFailureText =
    "Fehler beim \xC3\x96"
    "ffnen der Monitordateidatei.\n";
}  // namespace p50x::platform
