// The serial device on Linux. The seven events are bits in one word; the
// worker sleeps in one poll() over an eventfd (software signals) and the tty
// (the read or write still in flight), with no time-out. I/O is non-blocking:
// a request is tried at once when it starts and finished by the worker when
// poll() says the tty is ready, so it may "complete at once" like overlapped
// I/O. Modem-line changes come from a small watcher thread blocked in
// TIOCMIWAIT, which is the only way the kernel reports them without polling.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string>
#include <string_view>

#include "diag/console.h"
#include "platform/baud_rates.h"
#include "platform/serial_device.h"

namespace p50x::platform {
namespace {

constexpr std::uint32_t bit(int index) {
  return std::uint32_t{1} << index;
}

constexpr std::uint32_t kAutoResetEvents =
    bit(kStopEvent) | bit(kReadStartEvent) | bit(kWriteStartEvent) | bit(kWaitStartEvent);

constexpr std::string_view kPtyPrefix = "pty:";

// Interrupts the watcher's TIOCMIWAIT at shutdown. The handler does nothing:
// its only purpose is that the blocked ioctl returns with EINTR.
int watcherWakeSignal() {
  return SIGRTMIN + 1;
}

extern "C" void onWatcherWake(int) {}

void installWatcherWakeHandler() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    struct sigaction action {};
    action.sa_handler = onWatcherWake;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the ioctl must return
    ::sigaction(watcherWakeSignal(), &action, nullptr);
  });
}

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

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// One read or write in flight. Worker only.
struct Transfer {
  std::uint8_t* in = nullptr;         // read target
  const std::uint8_t* out = nullptr;  // write source
  int wanted = 0;
  int done = 0;
  bool inFlight = false;  // started and not yet complete
  RequestResult result;
};

// Threads: see SerialDevice. The event word and the sleeping mark are atomics
// (signal() comes from any thread); the transfers and file descriptors belong
// to the worker while it runs and to the console thread otherwise; watchMutex_
// guards what the modem watcher shares with the worker.
class PosixSerialDevice final : public SerialDevice {
 public:
  explicit PosixSerialDevice(Console& console) : console_(console) {
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  }

  ~PosixSerialDevice() override {
    closeDevice();
    closeFd(wakeFd_);
  }

  bool eventsUsable() const override { return wakeFd_ >= 0 && !released_.load(); }

  // The eventfd itself stays open until destruction, so a late signal() from
  // another thread never writes into a descriptor number reused elsewhere.
  void releaseEvents() override { released_.store(true); }

  void signal(int index) override {
    if (released_.load()) return;
    signalled_.fetch_or(bit(index));
    // Only a sleeping worker needs the system call; the worker re-checks the
    // word after announcing its sleep, so no signal is missed in between.
    if (sleeping_.load()) wake();
  }

  void reset(int index) override { signalled_.fetch_and(~bit(index)); }

  int waitForLowestSignalled(int& error) override {
    for (;;) {
      if (!eventsUsable()) {
        error = EBADF;
        return -1;
      }
      if (const int index = takeLowest(); index >= 0) return index;
      sleeping_.store(true);
      if (signalled_.load() != 0) {
        sleeping_.store(false);
        continue;
      }
      pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {-1, 0, 0}};
      // The tty is watched only while a transfer waits on it: a hung-up tty
      // reports POLLHUP for ever and must not keep an idle worker awake.
      if (read_.inFlight) fds[1].events |= POLLIN;
      if (write_.inFlight) fds[1].events |= POLLOUT;
      if (fds[1].events != 0) fds[1].fd = ioFd_;
      const int ready = ::poll(fds, 2, -1);
      sleeping_.store(false);
      if (ready < 0) {
        if (errno == EINTR) continue;
        error = errno;
        return -1;
      }
      if ((fds[0].revents & POLLIN) != 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t drained = ::read(wakeFd_, &count, sizeof count);
      }
      const short tty = fds[1].revents;
      const bool hungUp = (tty & (POLLHUP | POLLERR | POLLNVAL)) != 0;
      if (read_.inFlight && (hungUp || (tty & POLLIN) != 0)) continueRead(hungUp);
      if (write_.inFlight && (hungUp || (tty & POLLOUT) != 0)) continueWrite(hungUp);
    }
  }

  int openDevice(const char* name) override {
    closeDevice();
    const std::string_view view(name);
    if (view.substr(0, kPtyPrefix.size()) == kPtyPrefix) {
      return openPseudoTerminal(std::string(view.substr(kPtyPrefix.size())));
    }
    const int fd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    // TIOCEXCL keeps other users out (root passes it); the lock also refuses a
    // second bridge, root or not. A file that is no tty fails at the settings.
    ::ioctl(fd, TIOCEXCL);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd);
      return error;
    }
    ioFd_ = fd;
    settingsFd_ = fd;
    return 0;
  }

  bool isOpen() const override { return ioFd_ >= 0; }

  bool setModemEventMask(bool watchRingAndCarrier) override {
    watchWanted_ = watchRingAndCarrier;
    if (!watchWanted_) stopWatcher();
    return isOpen();
  }

  // Non-blocking I/O that completes a read only at its full size is what zero
  // time-outs mean; there is nothing further to set.
  bool setZeroTimeouts() override { return isOpen(); }

  bool setLineSettings(const LineSettings& settings) override {
    if (settingsFd_ < 0) return false;
    termios mode{};
    if (::tcgetattr(settingsFd_, &mode) != 0) return false;
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
    if (::tcsetattr(settingsFd_, TCSANOW, &mode) != 0) return false;
    // tcsetattr succeeds when any part was taken: check that the driver kept
    // the rate. Character size and parity are not checked: a pseudo-terminal
    // always keeps 8 bits without parity, and has no line that could differ.
    // Nor is the rate of our own pseudo-terminal: its settings are shared with
    // the control software, which may set its own rate at any moment (even
    // between our set and our check) without changing a byte on our side.
    const bool ownPseudoTerminal = keptSlaveFd_ >= 0;
    termios applied{};
    if (!ownPseudoTerminal &&
        (::tcgetattr(settingsFd_, &applied) != 0 || ::cfgetospeed(&applied) != speed)) {
      return false;
    }
    // A pseudo-terminal has no modem lines: then there is nothing to watch,
    // which is no failure.
    int lines = TIOCM_DTR | TIOCM_RTS;
    modemLinesPresent_ = ::ioctl(settingsFd_, TIOCMBIS, &lines) == 0;
    return true;
  }

  void closeDevice() override {
    stopWatcher();
    if (!linkPath_.empty()) {
      removeOwnLink();
      linkPath_.clear();
    }
    closeFd(keptSlaveFd_);
    closeFd(ioFd_);
    settingsFd_ = -1;
    read_ = Transfer{};
    write_ = Transfer{};
    modemLinesPresent_ = false;
    std::lock_guard<std::mutex> lock(watchMutex_);
    watchTarget_ = nullptr;
    watchEvents_ = 0;
    watchError_ = 0;
  }

  int startRead(std::uint8_t* buffer, int size) override {
    if (ioFd_ < 0) return EBADF;
    read_ = Transfer{};
    read_.in = buffer;
    read_.wanted = size;
    read_.inFlight = true;
    continueRead(false);
    return 0;
  }

  int startWrite(const std::uint8_t* bytes, int length) override {
    if (ioFd_ < 0) return EBADF;
    write_ = Transfer{};
    write_.out = bytes;
    write_.wanted = length;
    write_.inFlight = true;
    continueWrite(false);
    return 0;
  }

  int startModemWait(std::uint32_t* eventMask) override {
    if (ioFd_ < 0) return EBADF;
    // Without lines to watch the wait simply never completes.
    if (!watchWanted_ || !modemLinesPresent_ || !startWatcher()) return 0;
    std::lock_guard<std::mutex> lock(watchMutex_);
    if (watchError_ != 0) {
      watchResult_ = RequestResult{false, 0, watchError_};
      signal(kWaitDoneEvent);
    } else if (watchEvents_ != 0) {
      *eventMask = watchEvents_;
      watchEvents_ = 0;
      watchResult_ = RequestResult{true, 0, 0};
      signal(kWaitDoneEvent);
    } else {
      watchTarget_ = eventMask;
    }
    return 0;
  }

  RequestResult readResult() override { return read_.result; }
  RequestResult writeResult() override { return write_.result; }
  RequestResult modemWaitResult() override {
    std::lock_guard<std::mutex> lock(watchMutex_);
    return watchResult_;
  }

  bool modemLines(std::uint32_t& lines) override {
    int status = 0;
    if (ioFd_ < 0 || ::ioctl(ioFd_, TIOCMGET, &status) != 0) return false;
    lines = 0;
    if ((status & TIOCM_RNG) != 0) lines |= kModemLineRing;
    if ((status & TIOCM_CD) != 0) lines |= kModemLineCarrier;
    return true;
  }

  std::string errorText(int error) const override {
    char buffer[256];
    return std::string(::strerror_r(error, buffer, sizeof buffer));
  }

 private:
  int takeLowest() {
    const std::uint32_t word = signalled_.load();
    if (word == 0) return -1;
    const int index = __builtin_ctz(word);
    if ((bit(index) & kAutoResetEvents) != 0) signalled_.fetch_and(~bit(index));
    return index;
  }

  void wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
  }

  void complete(Transfer& transfer, int doneEvent, bool ok, int error) {
    transfer.inFlight = false;
    transfer.result = RequestResult{ok, transfer.done, ok ? 0 : error};
    signal(doneEvent);
  }

  // Reads on until the wanted count has arrived. A read of 0 bytes, or
  // nothing to read although poll() reported a hang-up, means the far end is
  // gone.
  void continueRead(bool hungUp) {
    while (read_.done < read_.wanted) {
      const ssize_t n =
          ::read(ioFd_, read_.in + read_.done, static_cast<std::size_t>(read_.wanted - read_.done));
      if (n > 0) {
        read_.done += static_cast<int>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (hungUp) complete(read_, kReadDoneEvent, false, EIO);
        return;
      }
      complete(read_, kReadDoneEvent, false, n == 0 ? EIO : errno);
      return;
    }
    complete(read_, kReadDoneEvent, true, 0);
  }

  void continueWrite(bool hungUp) {
    while (write_.done < write_.wanted) {
      const ssize_t n = ::write(ioFd_, write_.out + write_.done,
                                static_cast<std::size_t>(write_.wanted - write_.done));
      if (n > 0) {
        write_.done += static_cast<int>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (hungUp) complete(write_, kWriteDoneEvent, false, EIO);
        return;
      }
      complete(write_, kWriteDoneEvent, false, n == 0 ? EIO : errno);
      return;
    }
    complete(write_, kWriteDoneEvent, true, 0);
  }

  // pty:PATH — the bridge is the far end of a pseudo-terminal whose slave the
  // control software opens through a link at PATH. Holding the slave open
  // ourselves means the control software may close and reopen PATH without
  // the master ever seeing a hang-up.
  int openPseudoTerminal(const std::string& path) {
    if (path.empty()) return EINVAL;
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0) return errno;
    char slaveName[128] = {};
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, slaveName, sizeof slaveName) != 0) {
      const int error = errno;
      ::close(master);
      return error;
    }
    int slave = ::open(slaveName, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
      const int error = errno;
      ::close(master);
      return error;
    }
    if (const int error = placeLink(slaveName, path); error != 0) {
      ::close(slave);
      ::close(master);
      return error;
    }
    ioFd_ = master;
    keptSlaveFd_ = slave;
    // Terminal settings of a pseudo-terminal live on its slave side.
    settingsFd_ = slave;
    linkPath_ = path;
    slaveName_ = slaveName;
    return 0;
  }

  // A link left by an earlier run is replaced; anything else at PATH belongs
  // to somebody else and is never touched.
  int placeLink(const char* target, const std::string& path) {
    if (::symlink(target, path.c_str()) == 0) return 0;
    if (errno != EEXIST) return errno;
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
      std::string line = "pty: ";
      line += path;
      line += " ist schon vorhanden und kein symbolischer Link; die Datei bleibt unverändert.\n";
      console_.out(line);
      return EEXIST;
    }
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return errno;
    if (::symlink(target, path.c_str()) != 0) return errno;
    return 0;
  }

  void removeOwnLink() {
    char target[128] = {};
    const ssize_t length = ::readlink(linkPath_.c_str(), target, sizeof target - 1);
    if (length < 0) return;
    // Somebody may have put their own link there meanwhile: leave that one.
    if (std::string_view(target, static_cast<std::size_t>(length)) == slaveName_) {
      ::unlink(linkPath_.c_str());
    }
  }

  bool startWatcher() {
    if (watcherRunning_) return true;
    serial_icounter_struct counts{};
    if (::ioctl(ioFd_, TIOCGICOUNT, &counts) != 0) {
      modemLinesPresent_ = false;  // a driver without counters: no watch
      return false;
    }
    watchFd_ = ::fcntl(ioFd_, F_DUPFD_CLOEXEC, 0);
    if (watchFd_ < 0) return false;
    installWatcherWakeHandler();
    watchStop_.store(false);
    watchCounts_ = counts;
    if (::pthread_create(&watcher_, nullptr, &PosixSerialDevice::watcherEntry, this) != 0) {
      closeFd(watchFd_);
      return false;
    }
    watcherRunning_ = true;
    return true;
  }

  // The watcher may sit in TIOCMIWAIT or be just about to enter it. Putting
  // /dev/null under its descriptor first makes a call not yet made fail at
  // once; the signal then interrupts a call already waiting. Either way it
  // sees the stop mark and ends, with no race left open.
  void stopWatcher() {
    if (!watcherRunning_) return;
    watchStop_.store(true);
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
      ::dup2(null, watchFd_);
      ::close(null);
    }
    ::pthread_kill(watcher_, watcherWakeSignal());
    ::pthread_join(watcher_, nullptr);
    closeFd(watchFd_);
    watcherRunning_ = false;
  }

  static void* watcherEntry(void* self) {
    static_cast<PosixSerialDevice*>(self)->watchModemLines();
    return nullptr;
  }

  // Watcher thread: the counters tell which line changed, also when several
  // changes came between two wake-ups.
  void watchModemLines() {
    sigset_t wakeOnly;
    sigemptyset(&wakeOnly);
    sigaddset(&wakeOnly, watcherWakeSignal());
    ::pthread_sigmask(SIG_UNBLOCK, &wakeOnly, nullptr);
    serial_icounter_struct last = watchCounts_;
    while (!watchStop_.load()) {
      if (::ioctl(watchFd_, TIOCMIWAIT, TIOCM_RNG | TIOCM_CD) != 0) {
        if (watchStop_.load()) break;
        if (errno == EINTR) continue;
        failWatch(errno);
        break;
      }
      serial_icounter_struct now{};
      if (::ioctl(watchFd_, TIOCGICOUNT, &now) != 0) {
        if (!watchStop_.load()) failWatch(errno);
        break;
      }
      std::uint32_t events = 0;
      if (now.rng != last.rng) events |= kModemEventRing;
      if (now.dcd != last.dcd) events |= kModemEventCarrier;
      last = now;
      if (events != 0) deliverWatch(events);
    }
  }

  void deliverWatch(std::uint32_t events) {
    std::lock_guard<std::mutex> lock(watchMutex_);
    watchEvents_ |= events;
    if (watchTarget_ == nullptr) return;
    *watchTarget_ = watchEvents_;
    watchEvents_ = 0;
    watchTarget_ = nullptr;
    watchResult_ = RequestResult{true, 0, 0};
    signal(kWaitDoneEvent);
  }

  void failWatch(int error) {
    std::lock_guard<std::mutex> lock(watchMutex_);
    watchError_ = error;
    if (watchTarget_ == nullptr) return;
    watchTarget_ = nullptr;
    watchResult_ = RequestResult{false, 0, error};
    signal(kWaitDoneEvent);
  }

  Console& console_;

  int wakeFd_ = -1;
  std::atomic<bool> released_{false};
  std::atomic<std::uint32_t> signalled_{0};
  std::atomic<bool> sleeping_{false};

  int ioFd_ = -1;
  int settingsFd_ = -1;
  int keptSlaveFd_ = -1;
  std::string linkPath_;
  std::string slaveName_;
  bool modemLinesPresent_ = false;
  bool watchWanted_ = false;
  Transfer read_;
  Transfer write_;

  pthread_t watcher_{};
  bool watcherRunning_ = false;
  int watchFd_ = -1;
  std::atomic<bool> watchStop_{false};
  serial_icounter_struct watchCounts_{};
  std::mutex watchMutex_;
  std::uint32_t* watchTarget_ = nullptr;  // guarded by watchMutex_
  std::uint32_t watchEvents_ = 0;         // guarded by watchMutex_
  int watchError_ = 0;                    // guarded by watchMutex_
  RequestResult watchResult_;             // guarded by watchMutex_
};

}  // namespace

std::unique_ptr<SerialDevice> createSerialDevice(Console& console) {
  return std::make_unique<PosixSerialDevice>(console);
}

}  // namespace p50x::platform
