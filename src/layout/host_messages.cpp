#include "layout/host_messages.h"

#include <cstdarg>
#include <cstdio>

#include "common/printf_format.h"

namespace p50x {

namespace {
// Names are at most 127 characters and the numbers at most a few dozen, so
// every message fits the buffer; a failed or cut format leaves an empty message
// rather than a truncated one that the host would misread.
HostMessage format(const char* fmt, ...) P50X_PRINTF_FORMAT(1, 2);
HostMessage format(const char* fmt, ...) {
  HostMessage m;
  va_list args;
  va_start(args, fmt);
  const int n = std::vsnprintf(m.text, sizeof m.text, fmt, args);
  va_end(args);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof m.text) {
    m.text[0] = '\0';
    return m;
  }
  m.length = static_cast<std::size_t>(n);
  return m;
}
}  // namespace

HostMessage startMessage() {
  return format("41;0\n");
}

// One digit after the point and at least three characters: host applications
// split the field at the point, so "5.1" and "-0.0" keep that form.
HostMessage speedMessage(const char* name, int tag, float speedValue) {
  return format("371;%s;%d;%3.1f\n", name, tag, static_cast<double>(speedValue));
}

HostMessage lightMessage(const char* name, int light) {
  return format("381;%s;%d\n", name, light);
}

// The separator before the line end is part of the message: host applications
// read the state as a field that a ";" closes.
HostMessage turnoutMessage(const char* name, int state) {
  return format("305;%s;%d;\n", name, state);
}

}  // namespace p50x
