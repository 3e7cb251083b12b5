// The name under which Windows opens a serial device.
#pragma once

#include <cstring>
#include <string>

namespace p50x::platform {

// A bare name (COM3, COM12, or CNCA0 of a virtual null-modem pair) opens only
// through the device namespace for some drivers, and for COM10 and above
// always; without the prefix it would be opened as a file in the working
// folder. A name with a "\", "/" or "." is a path the user wrote out (among
// them \\.\COM3 itself) and is taken as it stands.
inline std::string windowsDeviceName(const char* name) {
  if (name == nullptr || name[0] == '\0') return std::string();
  if (std::strpbrk(name, "\\/.") != nullptr) return std::string(name);
  return std::string("\\\\.\\") + name;
}

}  // namespace p50x::platform
