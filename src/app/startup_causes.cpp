#include "app/startup_causes.h"

#include <system_error>

#include "app/setting_names.h"
#include "platform/socket.h"
#include "serial/serial_port.h"

namespace p50x {

using platform::SerialOpenCause;

void reportLinkFailure(Console& console, const HostConnection::ConnectFailure& failure,
                       const char* linkName, int portKey, const char* address, int port) {
  std::string reason;
  if (failure.threadError) {
    reason = "Empfangsthread nicht gestartet: " +
             std::error_code(failure.error, std::generic_category()).message();
  } else if (failure.error != 0) {
    reason = platform::socketErrorText(failure.error);
  } else {
    reason = "Ursache unbekannt";
  }
  std::string line = failure.lineEnded ? "" : "\n";
  line += std::string(linkName) + " zu " + address + ":" + std::to_string(port) +
          " (Einstellungen " + std::to_string(kHostAddressKey) + " und " + std::to_string(portKey) +
          "): " + reason + ".\n";
  console.out(line);
}

std::string serialFailureText(const platform::SerialOpenDiagnosis& diagnosis, const char* portName,
                              int baudRate) {
  std::string reason;
  switch (diagnosis.cause) {
    case SerialOpenCause::kMissing:
      reason = "Geraet nicht vorhanden";
      break;
    case SerialOpenCause::kFolderMissing:
      reason = "Ordner \"" + diagnosis.detail + "\" nicht vorhanden";
      break;
    case SerialOpenCause::kPathTaken:
      reason = "\"" + diagnosis.detail + "\" ist schon vorhanden und kein symbolischer Link";
      break;
    case SerialOpenCause::kBusy:
      reason = "belegt: von einem anderen Programm geoeffnet";
      break;
    case SerialOpenCause::kPermissionDenied:
      reason = diagnosis.detail.empty()
                   ? "keine Berechtigung zum Lesen und Schreiben"
                   : "keine Berechtigung zum Anlegen im Ordner \"" + diagnosis.detail + "\"";
      break;
    case SerialOpenCause::kRateNotSupported:
      reason = "Baudrate " + std::to_string(baudRate) + " (Einstellung " +
               std::to_string(kSerialBaudKey) + ") vom Geraet nicht unterstuetzt";
      break;
    case SerialOpenCause::kNotSerialDevice:
      reason = "kein serielles Geraet";
      break;
    case SerialOpenCause::kUnknown:
      reason = diagnosis.detail.empty() ? "Ursache unbekannt" : diagnosis.detail;
      break;
  }
  return std::string("Serieller Anschluss \"") + portName + "\" (Einstellung " +
         std::to_string(kSerialPortKey) + "): " + reason + ".";
}

void reportSerialFailure(Console& console, const char* portName, int baudRate, int result) {
  platform::SerialOpenStep step = platform::SerialOpenStep::kOther;
  switch (result) {
    case kOpenDeviceFailed:
      step = platform::SerialOpenStep::kOpenDevice;
      break;
    case kOpenSetCommStateFailed:
      step = platform::SerialOpenStep::kLineSettings;
      break;
    case kOpenSetCommMaskFailed:
    case kOpenSetCommTimeoutsFailed:
      break;
    default:
      // 16 and 32 come from the program, not from the device.
      console.out("Serieller Anschluss: interner Fehler " + std::to_string(result) + ".\n");
      return;
  }
  const auto diagnosis = platform::diagnoseSerialOpen(portName, baudRate, step);
  console.out(serialFailureText(diagnosis, portName, baudRate) + "\n");
}

}  // namespace p50x
