// Texts whose encoding differs by platform console.
#pragma once

namespace p50x::platform {
// perror text when the monitor file will not open ("Ö": UTF-8 on Linux,
// Latin-1 on Windows).
extern const char* const kMonitorOpenFailureText;
}  // namespace p50x::platform
