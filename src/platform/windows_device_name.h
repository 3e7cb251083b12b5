// The name under which Windows opens a serial device.
#pragma once

#include <cstring>
#include <string>

namespace p50x::platform {

// COM1 to COM9 open by their bare names, COM10 and above only through the
// device namespace; with the prefix every port opens the same way.
inline std::string windowsDeviceName(const char* name) {
  const std::size_t length = std::strlen(name);
  bool bareComPort = length > 3 && (name[0] == 'C' || name[0] == 'c') &&
                     (name[1] == 'O' || name[1] == 'o') && (name[2] == 'M' || name[2] == 'm');
  for (std::size_t i = 3; bareComPort && i < length; ++i) {
    bareComPort = name[i] >= '0' && name[i] <= '9';
  }
  return bareComPort ? std::string("\\\\.\\") + name : std::string(name);
}

}  // namespace p50x::platform
