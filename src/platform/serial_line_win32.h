// A COM port on Windows: the name it opens by, its line settings, its
// time-outs and its modem lines. Plain functions on a handle the caller owns.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/serial_device.h"

namespace p50x::platform {

// The station's fixed line (see the .cpp); false when the driver refuses it.
bool applyLineSettings(HANDLE device, const LineSettings& settings);

// All five time-outs 0: a read completes only when its full size has
// arrived, a write when every byte has gone.
bool setZeroTimeouts(HANDLE device);

// The ring and carrier-detect lines as kModemLine* bits; false if unknown.
bool readModemLines(HANDLE device, std::uint32_t& lines);

}  // namespace p50x::platform
