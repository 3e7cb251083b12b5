#include "host/host_outbox.h"

#include <functional>

namespace p50x {

namespace {
// What a message is about: its code and first field ("371;Lok1", "305;W3"),
// or the whole message without its line end when it has no second field
// ("41;0"). Two messages with the same subject describe the same thing, and
// the later one replaces the earlier one completely.
std::size_t subjectLength(std::string_view text) {
  const std::size_t first = text.find(';');
  if (first != std::string_view::npos) {
    const std::size_t second = text.find(';', first + 1);
    if (second != std::string_view::npos) return second;
  }
  std::size_t end = text.size();
  while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r')) --end;
  return end;
}
}  // namespace

HostOutbox::HostOutbox(std::size_t capacity) : capacity_(capacity > 0 ? capacity : 1) {}

bool HostOutbox::post(std::string_view text) {
  const std::size_t length = subjectLength(text);
  const std::string_view subject = text.substr(0, length);
  const std::size_t hash = std::hash<std::string_view>{}(subject);
  bool startedGivingWay = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return false;
    if (items_.size() < capacity_) {
      items_.push_back({std::string(text), length, hash});
    } else {
      startedGivingWay = !behind_;
      behind_ = true;
      ++givenWay_;
      // The latest waiting one: an earlier one of the same subject replaced
      // instead would still be followed by the later, now stale one.
      Item* same = nullptr;
      for (auto item = items_.rbegin(); item != items_.rend(); ++item) {
        if (item->subjectHash == hash &&
            std::string_view(item->text).substr(0, item->subjectLength) == subject) {
          same = &*item;
          break;
        }
      }
      if (same != nullptr) {
        same->text.assign(text);
      } else {
        givenWay_ += items_.size();
        items_.clear();
        fellBehind_ = true;
      }
    }
  }
  changed_.notify_one();
  return startedGivingWay;
}

HostOutbox::Work HostOutbox::next(std::string& text) {
  std::unique_lock<std::mutex> lock(mutex_);
  // The sender asking for more with nothing left means the host has caught up.
  if (items_.empty() && !fellBehind_) behind_ = false;
  changed_.wait(lock, [this] { return woken_ || fellBehind_ || finished_ || !items_.empty(); });
  if (woken_) {
    woken_ = false;
    return Work::kWoken;
  }
  if (fellBehind_) {
    fellBehind_ = false;
    items_.clear();
    return Work::kFellBehind;
  }
  if (items_.empty()) return Work::kFinished;
  text = std::move(items_.front().text);
  items_.pop_front();
  return Work::kMessage;
}

void HostOutbox::wake() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    woken_ = true;
  }
  changed_.notify_one();
}

void HostOutbox::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  items_.clear();
  fellBehind_ = false;
  behind_ = false;
}

void HostOutbox::finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
  }
  changed_.notify_one();
}

std::size_t HostOutbox::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return items_.size();
}

std::uint64_t HostOutbox::givenWay() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return givenWay_;
}

bool HostOutbox::behind() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return behind_;
}

}  // namespace p50x
