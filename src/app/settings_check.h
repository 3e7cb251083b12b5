// The settings are checked once, before anything uses them: a value that is
// not what its user needs would otherwise end start-up somewhere later with a
// message that does not name it.
#pragma once

#include <string>

#include "app/configuration.h"
#include "diag/console.h"

namespace p50x {

// Why the value of `key` cannot be used; empty when it can. The value as the
// configuration holds it, for keys 1 to 10.
std::string settingProblem(int key, const char* value);

// Writes one console line for every setting that cannot be used:
//   FILE:LINE: Einstellung KEY (WHAT) "VALUE": REASON.
// True when there was none.
bool checkSettings(const Configuration& config, Console& console);

}  // namespace p50x
