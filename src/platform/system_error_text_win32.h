// The system's own message for a Windows error number, in its language.
#pragma once

#include <windows.h>

#include <string>

namespace p50x::platform {

// Without the line end and the full stop FormatMessage puts at its end, so the
// text can stand inside a console line; the bare number when the system has no
// message for it.
inline std::string systemErrorText(DWORD error) {
  char buffer[256] = {};
  const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, length);
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  if (text.empty()) text = "Fehler " + std::to_string(error);
  return text;
}

}  // namespace p50x::platform
