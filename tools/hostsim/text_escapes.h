// Bytes as the simulator's input lines write them and as its output shows
// them: \n \r \t \0 \\ and \xHH.
#pragma once

#include <string>
#include <string_view>

namespace p50x::hostsim {

// Replaces the escapes above; false (with out untouched) on a bad escape.
bool decodeEscapes(std::string_view text, std::string& out);

// Makes a received message readable on one line: \n, \r, \t, \\ and \xHH.
std::string printable(std::string_view text);

}  // namespace p50x::hostsim
