#include "platform/text.h"

namespace p50x::platform {
// The Windows console shows the classic code page: the "Ö" is the Latin-1
// byte 0xD6. (The literal is split so that the escape does not swallow "ff".)
const char* const kMonitorOpenFailureText =
    "Fehler beim \xD6"
    "ffnen der Monitordateidatei.\n";
}  // namespace p50x::platform
