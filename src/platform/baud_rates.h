// The line speeds a serial port can be set to, the same list on every
// platform: the rates the POSIX terminal interface can name (B0 is none: it
// hangs the line up). The settings check offers exactly these, so a rate
// refused at start-up is refused on Linux and Windows alike.
#pragma once

namespace p50x::platform {

inline constexpr int kBaudRates[] = {
    50,     75,     110,     134,     150,     200,     300,     600,     1200,    1800,
    2400,   4800,   9600,    19200,   38400,   57600,   115200,  230400,  460800,  500000,
    576000, 921600, 1000000, 1152000, 1500000, 2000000, 2500000, 3000000, 3500000, 4000000,
};

constexpr bool isSupportedBaudRate(long long rate) {
  for (const int supported : kBaudRates) {
    if (supported == rate) return true;
  }
  return false;
}

}  // namespace p50x::platform
