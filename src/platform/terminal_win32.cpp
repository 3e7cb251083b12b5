#include <windows.h>

#include "platform/terminal.h"

namespace p50x::platform {

// Consoles before Windows 10 do not know the sequences and refuse the mode.
bool prepareRedrawInPlace() {
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (out == INVALID_HANDLE_VALUE || out == nullptr || ::GetConsoleMode(out, &mode) == FALSE) {
    return false;
  }
  constexpr DWORD kVirtualTerminal = 0x0004;  // ENABLE_VIRTUAL_TERMINAL_PROCESSING
  return (mode & kVirtualTerminal) != 0 || ::SetConsoleMode(out, mode | kVirtualTerminal) != FALSE;
}

}  // namespace p50x::platform
