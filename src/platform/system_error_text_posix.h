// The system's own message for an errno value, in its language.
#pragma once

#include <string.h>

#include <string>

namespace p50x::platform {

// strerror_r in its GNU form, which may return a text of its own rather than
// fill the buffer; safe on every thread, unlike strerror.
inline std::string systemErrorText(int error) {
  char buffer[256] = {};
  return std::string(::strerror_r(error, buffer, sizeof buffer));
}

}  // namespace p50x::platform
