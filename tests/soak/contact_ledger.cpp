#include "contact_ledger.h"

#include <algorithm>

namespace p50x::soak {

namespace {
// Longer than any event takes from the host's send to the bridge's image, so
// a read asked that much later must show it.
constexpr std::chrono::seconds kInFlight{1};
}  // namespace

void ContactLedger::burstStarts(const std::vector<Change>& changes) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Change& c : changes) {
    pending_[c.contact] = c.occupied ? 1 : 0;
    seen_[c.contact] = false;
  }
  unseen_ = burstSize_ = static_cast<int>(changes.size());
  sent_ += static_cast<long>(changes.size());
  sending_ = true;
  burstStart_ = Clock::now();
}

void ContactLedger::notSent(const std::vector<Change>& changes) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Change& c : changes) {
    if (pending_[c.contact] < 0) continue;
    pending_[c.contact] = -1;
    if (!seen_[c.contact]) --unseen_;
    --sent_;
    --burstSize_;
  }
}

void ContactLedger::burstSent() {
  std::lock_guard<std::mutex> lock(mutex_);
  sending_ = false;
  burstSent_ = lastEventSent_ = Clock::now();
}

std::vector<ContactLedger::Change> ContactLedger::awaitBurstSeen(
    std::chrono::milliseconds settle, std::chrono::milliseconds deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, deadline,
                    [&] { return unseen_ == 0 || lastReadAsked_ >= burstSent_ + settle; });
  std::vector<Change> lost;
  for (int c = 0; c < Layout::kContacts; ++c) {
    if (pending_[c] < 0) continue;
    if (!seen_[c]) {
      lost.push_back({c, pending_[c] == 1});
      unsure_[c] = true;  // the next read says where it stands
    }
    known_[c] = pending_[c] == 1;
    pending_[c] = -1;
  }
  unseen_ = 0;
  return lost;
}

std::string ContactLedger::observe(int firstModule, const std::uint8_t* bytes, int modules,
                                   bool wholeImage, Clock::time_point asked) {
  std::string wrong;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const int first = 16 * (firstModule - 1);
    for (int c = first; c < first + 16 * modules && c < Layout::kContacts; ++c) {
      const int k = c % 16;
      const std::uint8_t byte = bytes[2 * (c / 16 - firstModule + 1) + (k < 8 ? 0 : 1)];
      const bool occupied = (byte & (0x80 >> (k % 8))) != 0;
      if (unsure_[c]) {
        unsure_[c] = false;
        known_[c] = occupied;
      } else if (pending_[c] >= 0 && occupied == (pending_[c] == 1)) {
        if (!seen_[c]) --unseen_;
        seen_[c] = true;
      } else if (occupied != known_[c] || (pending_[c] >= 0 && seen_[c])) {
        wrong += " " + Layout::contactName(c) + (occupied ? " occupied" : " free");
      }
    }
    if (wholeImage) {
      lastReadAsked_ = asked;
      lastReadAnswered_ = Clock::now();
    }
  }
  changed_.notify_all();
  return wrong;
}

int ContactLedger::feedbackEventBit(Clock::time_point asked) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (sending_) return 0;
  // Every event of the last burst reached the image after the last XEvtSen
  // cleared the flag, and they have had the time to arrive.
  if (burstStart_ > lastReadAnswered_ && asked > burstSent_ + kInFlight && burstSize_ > 0) {
    return 1;
  }
  // Every event was in the image before the last XEvtSen cleared the flag.
  if (lastEventSent_ + kInFlight < lastReadAsked_) return -1;
  return 0;
}

long ContactLedger::eventsSent() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sent_;
}

}  // namespace p50x::soak
