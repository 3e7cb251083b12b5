#include "diag/traffic_monitor.h"

#include <cerrno>

namespace p50x {

namespace {
constexpr int kReceived = 0;
constexpr int kSent = 1;
constexpr int kNothingYet = -1;

constexpr char kSeparator[] = "\n-------------\n";
constexpr char kHex[] = "0123456789abcdef";
}  // namespace

TrafficMonitor::TrafficMonitor(Console& console, const char* openFailureText)
    : console_(console), openFailureText_(openFailureText) {}

TrafficMonitor::~TrafficMonitor() {
  close();
}

void TrafficMonitor::open(const char* monitorFile) {
  const bool wanted = monitorFile != nullptr && *monitorFile != '\0';
  open(monitorFile, wanted ? openFile(monitorFile) : OpenedFile{});
}

TrafficMonitor::OpenedFile TrafficMonitor::openFile(const char* monitorFile) {
  // Append: every start adds to what earlier starts wrote.
  errno = 0;
  OpenedFile opened{std::fopen(monitorFile, "a+"), 0};
  if (opened.file == nullptr) opened.error = errno != 0 ? errno : ENOENT;
  return opened;
}

void TrafficMonitor::open(const char* monitorFile, OpenedFile opened) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  direction_ = kNothingYet;
  enabled_ = 0;
  if (monitorFile == nullptr || *monitorFile == '\0') {
    if (opened.file != nullptr) std::fclose(opened.file);
    return;
  }

  enabled_ = 1;
  console_.print("MonitorFlag=%d\n", enabled_);
  file_ = opened.file;
  if (file_ == nullptr) {
    console_.perror(openFailureText_, opened.error);
    enabled_ = 0;
    return;
  }
  failing_ = false;
  put(kSeparator, sizeof kSeparator - 1);
  settleWrites();
}

void TrafficMonitor::close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (enabled_ == 1) {
    // What is still buffered goes out now: the last chance to say it did not.
    if (std::fclose(file_) != 0 && !failing_) {
      console_.perror("Fehler beim Schreiben der Monitordatei", errno != 0 ? errno : EIO);
    }
    file_ = nullptr;
    enabled_ = 0;
  }
}

bool TrafficMonitor::enabled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return enabled_ == 1;
}

void TrafficMonitor::logReceived(int count, const std::uint8_t* bytes) {
  log(kReceived, count, bytes);
}

void TrafficMonitor::logSent(int count, const std::uint8_t* bytes) {
  log(kSent, count, bytes);
}

void TrafficMonitor::log(int direction, int count, const std::uint8_t* bytes) {
  // One lock over the direction test, the header and the bytes: a reply and a
  // typed key logged at the same moment never share a line.
  std::lock_guard<std::mutex> lock(mutex_);
  if (enabled_ == 0) return;
  if (direction_ != direction) {
    put(direction == kReceived ? "\nR " : "\nS ", 3);
    direction_ = direction;
  }
  if (bytes == nullptr) {
    settleWrites();
    return;
  }
  // "%02x " per byte, built in chunks rather than one fprintf per byte.
  char chunk[3 * 64];
  int used = 0;
  for (int i = 0; i < count; ++i) {
    chunk[used++] = kHex[bytes[i] >> 4];
    chunk[used++] = kHex[bytes[i] & 0x0F];
    chunk[used++] = ' ';
    if (used == static_cast<int>(sizeof chunk)) {
      put(chunk, sizeof chunk);
      used = 0;
    }
  }
  if (used > 0) put(chunk, static_cast<std::size_t>(used));
  settleWrites();
}

void TrafficMonitor::put(const char* text, std::size_t length) {
  errno = 0;
  if (std::fwrite(text, 1, length, file_) != length && callError_ == 0) {
    callError_ = errno != 0 ? errno : EIO;
  }
}

void TrafficMonitor::settleWrites() {
  // Out at once, so a reader following the file (p50x-trace -f) sees each
  // command and reply as it happens, a crash loses nothing logged, and a full
  // disk shows at the call that met it. Buffered bytes say nothing about the
  // file: only a flush that gets through shows that writing works.
  errno = 0;
  if (std::fflush(file_) != 0 && callError_ == 0) callError_ = errno != 0 ? errno : EIO;
  if (failing_) {
    if (callError_ == 0) {
      failing_ = false;
      console_.out("Monitordatei wird wieder geschrieben.\n");
    }
  } else if (callError_ != 0) {
    failing_ = true;
    console_.perror("Fehler beim Schreiben der Monitordatei", callError_);
  }
  if (callError_ != 0 || failing_) std::clearerr(file_);
  callError_ = 0;
}

}  // namespace p50x
