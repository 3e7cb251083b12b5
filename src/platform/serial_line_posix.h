// A serial tty on Linux: opening it for the bridge alone, its line settings
// and its modem lines. Plain functions on a descriptor the caller owns.
#pragma once

#include <cstdint>

#include "platform/serial_device.h"

namespace p50x::platform {

// Opens the tty non-blocking and for this process alone. Returns 0 with fd
// set, or the errno.
int openExclusiveTty(const char* name, int& fd);

// Raw 8-bit line at the given rate, parity and character size, no flow
// control, DTR and RTS raised. False when the rate or size cannot be named or
// the driver refuses them. `checkRate` reads the rate back. On success
// `modemLinesPresent` tells whether the descriptor has modem lines at all.
bool applyLineSettings(int fd, const LineSettings& settings, bool checkRate,
                       bool& modemLinesPresent);

// The ring and carrier-detect lines as kModemLine* bits; false if unknown.
bool readModemLines(int fd, std::uint32_t& lines);

}  // namespace p50x::platform
