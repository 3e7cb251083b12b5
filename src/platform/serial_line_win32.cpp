#include "platform/serial_line_win32.h"

#include <cctype>
#include <cstring>

namespace p50x::platform {

// COM1 to COM9 open by their bare names, COM10 and above only through the
// device namespace; with the prefix every port opens the same way.
std::string deviceName(const char* name) {
  const std::size_t length = std::strlen(name);
  bool bareComPort = length > 3 && (name[0] == 'C' || name[0] == 'c') &&
                     (name[1] == 'O' || name[1] == 'o') && (name[2] == 'M' || name[2] == 'm');
  for (std::size_t i = 3; bareComPort && i < length; ++i) {
    bareComPort = std::isdigit(static_cast<unsigned char>(name[i])) != 0;
  }
  return bareComPort ? std::string("\\\\.\\") + name : std::string(name);
}

// No hardware and no software flow control, DTR and RTS raised while open,
// one stop bit. XonLim/XoffLim 2/4 and XonChar/XoffChar 0x13/0x19 (not the
// customary 0x11/0x13) are the values the station always set. With XON/XOFF
// off they never act on the line; they stay so that the port's settings, as
// a port monitor shows them, match the station's.
bool applyLineSettings(HANDLE device, const LineSettings& settings) {
  DCB dcb;
  std::memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = static_cast<DWORD>(settings.baudRate);
  dcb.fBinary = 1;
  dcb.fParity = (settings.parity == 1 || settings.parity == 2) ? 1 : 0;
  dcb.fOutxCtsFlow = 0;
  dcb.fOutxDsrFlow = 0;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = 0;
  dcb.fTXContinueOnXoff = 0;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fErrorChar = 0;
  dcb.fNull = 0;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fAbortOnError = 0;
  dcb.XonLim = 2;
  dcb.XoffLim = 4;
  dcb.ByteSize = static_cast<BYTE>(settings.byteSize & 0xFF);
  dcb.Parity = settings.parity == 1 ? ODDPARITY : settings.parity == 2 ? EVENPARITY : NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.XonChar = 0x13;
  dcb.XoffChar = 0x19;
  dcb.ErrorChar = 0;
  dcb.EofChar = 0;
  dcb.EvtChar = 0;
  return ::SetCommState(device, &dcb) != FALSE;
}

bool setZeroTimeouts(HANDLE device) {
  COMMTIMEOUTS timeouts{};
  return ::SetCommTimeouts(device, &timeouts) != FALSE;
}

bool readModemLines(HANDLE device, std::uint32_t& lines) {
  DWORD status = 0;
  if (!::GetCommModemStatus(device, &status)) return false;
  lines = 0;
  if ((status & MS_RING_ON) != 0) lines |= kModemLineRing;
  if ((status & MS_RLSD_ON) != 0) lines |= kModemLineCarrier;
  return true;
}

}  // namespace p50x::platform
