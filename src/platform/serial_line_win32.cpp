#include "platform/serial_line_win32.h"

#include <cstring>

namespace p50x::platform {

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
