// Locomotive names for the state view, from the bridge's locomotive list.
#pragma once

#include <map>
#include <string>

#include "diag/console.h"

namespace p50x::trace {

// Name by address (low byte + 256 * high byte), read with the bridge's own
// list reader, so a line it skips is named the same way on `console` and a
// later line of the same address wins, as in the station. Returns 0, or the
// error number of a file that cannot be read.
int readLocoNames(const char* path, Console& console, std::map<int, std::string>& names);

}  // namespace p50x::trace
