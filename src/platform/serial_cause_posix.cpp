// On Linux the reasons are in errno of a second open, in the file's type and
// in the lock a running program holds; for pty:PATH in the folder of PATH.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/serial_cause.h"
#include "platform/serial_pty_posix.h"
#include "platform/system_error_text_posix.h"

namespace p50x::platform {
namespace {

SerialOpenDiagnosis fromOpenError(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:  // a device node without its hardware
    case ENODEV:
      return {SerialOpenCause::kMissing, {}};
    case EACCES:
    case EPERM:
    case EROFS:
      return {SerialOpenCause::kPermissionDenied, {}};
    case EBUSY:  // another program has taken the port for itself (TIOCEXCL)
      return {SerialOpenCause::kBusy, {}};
    case EISDIR:
      return {SerialOpenCause::kNotSerialDevice, {}};
    default:
      return {SerialOpenCause::kUnknown, systemErrorText(error)};
  }
}

// The bridge makes the pseudo-terminal itself; only the place of its link can
// be wrong.
SerialOpenDiagnosis diagnoseLinkPlace(const std::string& path) {
  if (path.empty()) return {SerialOpenCause::kMissing, {}};
  const std::size_t slash = path.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  if (folder.empty()) folder = "/";
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    return {SerialOpenCause::kFolderMissing, folder};
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    return {SerialOpenCause::kPermissionDenied, folder};
  }
  if (::lstat(path.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
    return {SerialOpenCause::kPathTaken, path};
  }
  return {};
}

}  // namespace

SerialOpenDiagnosis diagnoseSerialOpen(const char* name, int /*baudRate*/, SerialOpenStep step) {
  if (name == nullptr) return {SerialOpenCause::kMissing, {}};
  const std::string_view view(name);
  if (view.substr(0, kPtyPrefix.size()) == kPtyPrefix) {
    return diagnoseLinkPlace(std::string(view.substr(kPtyPrefix.size())));
  }
  const int fd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fromOpenError(errno);
  SerialOpenDiagnosis found;
  if (::isatty(fd) == 0) {
    found.cause = SerialOpenCause::kNotSerialDevice;
  } else if (step == SerialOpenStep::kOpenDevice && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    // The engine locks the port it opens: another bridge holds this one.
    found.cause = SerialOpenCause::kBusy;
  } else if (step == SerialOpenStep::kLineSettings) {
    // A serial port that opens and takes no settings: the driver did not keep
    // the rate (the engine checks that it did).
    found.cause = SerialOpenCause::kRateNotSupported;
  }
  ::close(fd);
  return found;
}

}  // namespace p50x::platform
