// The feedback contacts between the host, which sets them, and the control
// program, which reads them: every event the host sent must show in an
// XEvtSen (or XSensor) reply before the next burst changes the contact again,
// and no reply may show a state the host never set.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "station_model.h"

namespace p50x::soak {

// Threads: the host player marks bursts and waits; the control program
// reports what it read. mutex_ guards everything.
class ContactLedger {
 public:
  using Clock = std::chrono::steady_clock;
  struct Change {
    int contact;  // 0-based
    bool occupied;
  };

  // Host side. Before a burst is sent: its contacts each change once.
  void burstStarts(const std::vector<Change>& changes);
  // Changes whose send failed (no connection): they never left.
  void notSent(const std::vector<Change>& changes);
  void burstSent();
  // Waits until every change of the burst has been read back, or until a
  // reply read at least `settle` after the burst was sent still lacks some;
  // those are lost (returned), and the contacts are taken as the host set them.
  std::vector<Change> awaitBurstSeen(std::chrono::milliseconds settle,
                                     std::chrono::milliseconds deadline);

  // Control side. The contact bytes of XEvtSen (module by module, 2 each) or
  // of one XSensor module, read from a command sent at `asked`. Returns the
  // contacts shown in a state the host never set ("" when all is well).
  // XEvtSen reads the whole image and clears the XEvent flag; XSensor does
  // neither.
  std::string observe(int firstModule, const std::uint8_t* bytes, int modules, bool wholeImage,
                      Clock::time_point asked);
  // Whether XEvent's feedback bit (04) must be set (+1), must be clear (-1)
  // or may be either (0) for an XEvent sent at `asked`.
  int feedbackEventBit(Clock::time_point asked) const;

  long eventsSent() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<bool> known_ = std::vector<bool>(Layout::kContacts, false);  // in the image
  std::vector<int> pending_ = std::vector<int>(Layout::kContacts, -1);     // -1 or the new state
  std::vector<bool> seen_ = std::vector<bool>(Layout::kContacts, false);
  std::vector<bool> unsure_ = std::vector<bool>(Layout::kContacts, false);  // after a loss
  int unseen_ = 0;
  int burstSize_ = 0;
  long sent_ = 0;
  bool sending_ = false;
  Clock::time_point burstStart_{};
  Clock::time_point burstSent_{};
  Clock::time_point lastEventSent_{};
  Clock::time_point lastReadAsked_{};  // the latest XEvtSen sent
  Clock::time_point lastReadAnswered_{};
};

}  // namespace p50x::soak
