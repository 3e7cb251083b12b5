// The four messages the bridge sends to the host application, in one place.
// Each ends in a line feed; the terminating zero is never sent.
#pragma once

#include <cstddef>

namespace p50x {

// A message text in a buffer that always fits: names are at most 127
// characters, so nothing is ever cut.
struct HostMessage {
  static constexpr std::size_t kCapacity = 256;
  char text[kCapacity] = {};
  std::size_t length = 0;
};

HostMessage startMessage();                                             // "41;0\n"
HostMessage speedMessage(const char* name, int tag, float speedValue);  // "371;name;tag;%3.1f\n"
HostMessage lightMessage(const char* name, int light);                  // "381;name;light\n"
HostMessage turnoutMessage(const char* name, int state);                // "305;name;state;\n"

}  // namespace p50x
