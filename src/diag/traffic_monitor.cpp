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
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  direction_ = kNothingYet;
  enabled_ = 0;
  if (monitorFile == nullptr || *monitorFile == '\0') return;

  enabled_ = 1;
  console_.print("MonitorFlag=%d\n", enabled_);
  // Append: every start adds to what earlier starts wrote.
  file_ = std::fopen(monitorFile, "a+");
  if (file_ == nullptr) {
    const int error = errno;
    console_.perror(openFailureText_, error);
    enabled_ = 0;
    return;
  }
  std::fputs(kSeparator, file_);
  std::fflush(file_);
}

void TrafficMonitor::close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (enabled_ == 1) {
    std::fclose(file_);
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
    std::fputs(direction == kReceived ? "\nR " : "\nS ", file_);
    direction_ = direction;
  }
  if (bytes == nullptr) {
    std::fflush(file_);
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
      std::fwrite(chunk, 1, sizeof chunk, file_);
      used = 0;
    }
  }
  if (used > 0) std::fwrite(chunk, 1, static_cast<std::size_t>(used), file_);
  // Out at once, so a reader following the file (p50x-trace -f) sees each
  // command and reply as it happens, and a crash loses nothing logged.
  std::fflush(file_);
}

}  // namespace p50x
