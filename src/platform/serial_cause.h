// Why a serial port did not open, found out afterwards by looking at the
// device itself: the engine's open reports only which step failed, and a user
// needs to know what to change.
#pragma once

#include <string>

namespace p50x::platform {

// The step of the engine's open that failed.
enum class SerialOpenStep {
  kOpenDevice,    // the device did not open
  kLineSettings,  // it opened, but refused the line settings
  kOther,         // it opened, but refused the modem events or time-outs
};

enum class SerialOpenCause {
  kUnknown,           // detail: the system's words, when it gave any
  kMissing,           // no such device
  kFolderMissing,     // pty:PATH: detail is the folder that is not there
  kPathTaken,         // pty:PATH: detail is PATH, a file that is no link of ours
  kBusy,              // opened by another program
  kPermissionDenied,  // detail: the folder, for pty:PATH; else empty
  kRateNotSupported,  // the device refuses the baud rate
  kNotSerialDevice,   // a file or device that is no serial port
};

struct SerialOpenDiagnosis {
  SerialOpenCause cause = SerialOpenCause::kUnknown;
  std::string detail;
};

// Looks at the device `name` (as the serial port setting gives it) after the
// engine's open failed at `step` with `baudRate`. The device may be opened
// and closed again for that, never kept.
SerialOpenDiagnosis diagnoseSerialOpen(const char* name, int baudRate, SerialOpenStep step);

}  // namespace p50x::platform
