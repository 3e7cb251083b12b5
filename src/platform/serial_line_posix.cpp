#include "platform/serial_line_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <iterator>

#include "platform/baud_rates.h"

namespace p50x::platform {
namespace {

// B0 is absent on purpose: it would hang the line up, never a rate to set.
constexpr struct {
  int baudRate;
  speed_t speed;
} kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

// The settings check offers kBaudRates: each must have its speed here.
constexpr bool speedsMatchBaudRates() {
  if (std::size(kSpeeds) != std::size(kBaudRates)) return false;
  for (std::size_t i = 0; i < std::size(kSpeeds); ++i) {
    if (kSpeeds[i].baudRate != kBaudRates[i]) return false;
  }
  return true;
}
static_assert(speedsMatchBaudRates(), "kSpeeds and kBaudRates list different rates");

// B0 when the rate is not one the terminal interface can name.
speed_t speedFor(int baudRate) {
  for (const auto& entry : kSpeeds) {
    if (entry.baudRate == baudRate) return entry.speed;
  }
  return B0;
}

bool characterSize(int byteSize, tcflag_t& flag) {
  switch (byteSize) {
    case 5:
      flag = CS5;
      return true;
    case 6:
      flag = CS6;
      return true;
    case 7:
      flag = CS7;
      return true;
    case 8:
      flag = CS8;
      return true;
    default:
      return false;
  }
}

}  // namespace

int openExclusiveTty(const char* name, int& fd) {
  const int opened = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (opened < 0) return errno;
  // TIOCEXCL keeps other users out (root passes it); the lock also refuses a
  // second bridge, root or not. A file that is no tty fails at the settings.
  ::ioctl(opened, TIOCEXCL);
  if (::flock(opened, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(opened);
    return error;
  }
  fd = opened;
  return 0;
}

bool applyLineSettings(int fd, const LineSettings& settings, bool checkRate,
                       bool& modemLinesPresent) {
  termios mode{};
  if (::tcgetattr(fd, &mode) != 0) return false;
  const speed_t speed = speedFor(settings.baudRate);
  tcflag_t size = 0;
  if (speed == B0 || !characterSize(settings.byteSize, size)) return false;
  ::cfmakeraw(&mode);
  mode.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  mode.c_cflag |= size | CREAD | CLOCAL;
  if (settings.parity == 1) mode.c_cflag |= PARENB | PARODD;
  if (settings.parity == 2) mode.c_cflag |= PARENB;
  mode.c_iflag &= ~(IXON | IXOFF | IXANY);
  // VMIN 1 makes an empty non-blocking read say EAGAIN; 0 would read as
  // end of file, which here means a hang-up.
  mode.c_cc[VMIN] = 1;
  mode.c_cc[VTIME] = 0;
  if (::cfsetispeed(&mode, speed) != 0 || ::cfsetospeed(&mode, speed) != 0) return false;
  if (::tcsetattr(fd, TCSANOW, &mode) != 0) return false;
  // tcsetattr succeeds when any part was taken: check that the driver kept
  // the rate. Character size and parity are not checked: a pseudo-terminal
  // always keeps 8 bits without parity, and has no line that could differ.
  termios applied{};
  if (checkRate && (::tcgetattr(fd, &applied) != 0 || ::cfgetospeed(&applied) != speed)) {
    return false;
  }
  // A pseudo-terminal has no modem lines: then there is nothing to watch,
  // which is no failure.
  int lines = TIOCM_DTR | TIOCM_RTS;
  modemLinesPresent = ::ioctl(fd, TIOCMBIS, &lines) == 0;
  return true;
}

bool readModemLines(int fd, std::uint32_t& lines) {
  int status = 0;
  if (fd < 0 || ::ioctl(fd, TIOCMGET, &status) != 0) return false;
  lines = 0;
  if ((status & TIOCM_RNG) != 0) lines |= kModemLineRing;
  if ((status & TIOCM_CD) != 0) lines |= kModemLineCarrier;
  return true;
}

}  // namespace p50x::platform
