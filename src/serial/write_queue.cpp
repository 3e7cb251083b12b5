#include "serial/write_queue.h"

#include <algorithm>

namespace p50x {

void WriteQueue::setTrafficLog(TrafficLog* log) {
  std::lock_guard<std::mutex> lock(mutex_);
  log_ = log;
}

bool WriteQueue::accept(const std::uint8_t* bytes, int length) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Logged before anything is decided, so dropped bytes show in the monitor
  // too; under the same guard as the ring, so the log's order is the line's.
  if (log_ != nullptr && bytes != nullptr) log_->logSent(length, bytes);
  if (bytes == nullptr || length < 0 || length > kMaxWriteLength) return false;
  const auto n = static_cast<std::size_t>(length);
  if (n > ring_.size() - count_) return false;
  for (std::size_t i = 0; i < n; ++i) ring_[(head_ + count_ + i) % ring_.size()] = bytes[i];
  count_ += n;
  // While a write is under way the worker starts the next one by itself when
  // it completes; a reply written then is never lost, only queued.
  if (busy_) return false;
  busy_ = true;
  return true;
}

int WriteQueue::next(std::uint8_t* out, std::size_t capacity) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!busy_) return -1;
  const std::size_t n = std::min(count_, capacity);
  for (std::size_t i = 0; i < n; ++i) out[i] = ring_[(head_ + i) % ring_.size()];
  head_ = (head_ + n) % ring_.size();
  count_ -= n;
  return static_cast<int>(n);
}

bool WriteQueue::completed() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (count_ > 0) return true;
  busy_ = false;
  return false;
}

bool WriteQueue::busy() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return busy_;
}

void WriteQueue::discard() {
  std::lock_guard<std::mutex> lock(mutex_);
  head_ = 0;
  count_ = 0;
  busy_ = false;
}

}  // namespace p50x
