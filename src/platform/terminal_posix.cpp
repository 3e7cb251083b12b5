#include <unistd.h>

#include "platform/terminal.h"

namespace p50x::platform {

bool prepareRedrawInPlace() {
  return ::isatty(STDOUT_FILENO) == 1;
}

}  // namespace p50x::platform
