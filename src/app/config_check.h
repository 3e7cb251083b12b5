// p50x-bridge --check [CONFIG]: the configuration file and its three lists
// read and checked exactly as start-up reads them, and nothing else: no serial
// port is opened and no connection made, so a service can be checked before
// it is (re)started, also while the real one runs.
#pragma once

#include "diag/console.h"

namespace p50x {

// Writes every problem as start-up would (FILE:LINE: ...), then a summary:
// the settings in effect, what each list loaded, entries that share an
// address or a name with a later line, and the verdict. `configPath` nullptr
// means the default. Returns the exit status: 0 when start-up would get past
// the files, 1 when it would end at them.
int checkConfiguration(const char* configPath, Console& console);

}  // namespace p50x
