// On Windows the reasons are in the error of a second CreateFileA and in
// whether the device takes a comm state at all.
#include <windows.h>

#include <string>

#include "platform/serial_cause.h"
#include "platform/system_error_text_win32.h"
#include "platform/windows_device_name.h"

namespace p50x::platform {
namespace {

std::string errorText(DWORD error) {
  return systemErrorText(error);
}

SerialOpenDiagnosis fromOpenError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return {SerialOpenCause::kMissing, {}};
    // A COM port that another program holds answers "access denied".
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return {SerialOpenCause::kBusy, {}};
    default:
      return {SerialOpenCause::kUnknown, errorText(error)};
  }
}

}  // namespace

SerialOpenDiagnosis diagnoseSerialOpen(const char* name, int baudRate, SerialOpenStep step) {
  if (name == nullptr) return {SerialOpenCause::kMissing, {}};
  const std::string path = windowsDeviceName(name);
  HANDLE device = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) return fromOpenError(::GetLastError());
  SerialOpenDiagnosis found;
  DCB state{};
  state.DCBlength = sizeof state;
  if (!::GetCommState(device, &state)) {
    found.cause = SerialOpenCause::kNotSerialDevice;
  } else if (step == SerialOpenStep::kLineSettings) {
    state.BaudRate = static_cast<DWORD>(baudRate);
    if (!::SetCommState(device, &state)) found.cause = SerialOpenCause::kRateNotSupported;
  }
  ::CloseHandle(device);
  return found;
}

}  // namespace p50x::platform
