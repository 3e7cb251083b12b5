// Commands and bytes in words, as the trace prints them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "trace_framer.h"

namespace p50x::trace {

std::string commandWords(const Framed& command);

// "58 80 03": two lower-case hex digits per byte, as in the monitor file.
std::string hexBytes(const std::uint8_t* bytes, std::size_t count);

// Text between double quotes: CR as \r, LF as \n, other bytes outside
// printable ASCII as \xHH.
std::string quotedText(const std::uint8_t* bytes, std::size_t count);

// Functions named by the bits of a byte, bit 0 first: "F1 F3", or "F1-F8 off".
std::string functionList(std::uint8_t bits, int first, int count);

// Locomotive direction, light and (when `withFunctions`) F1-F4 of a flag byte.
std::string locoFlags(std::uint8_t flags, bool withFunctions);

}  // namespace p50x::trace
