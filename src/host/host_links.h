// The bridge's two links to the host application as one: made in the start-up
// order, watched, and made again in the background whenever the host goes
// away, so a restarted host application needs no restart of the bridge.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "diag/console.h"
#include "host/host_connection.h"
#include "seams/host_sender.h"

namespace p50x {

// Threads: the owner (console thread) sets up, connects at start-up, starts
// healing and closes; both receivers of each link run the callback and report
// the end of their connection; the serial worker (and the console thread at
// start-up) send; the healer thread tears lost links down and makes new ones.
//
// Guards: mutex_ covers the live links, the attempt in progress and the state
// marks; it is held only for short steps, never across a connect, a send or a
// join. sendMutex_ serializes every send with its wait for the answer, and is
// the one lock held across a wait for the host: a request and its answer must
// not overlap with another on the same connection anyway, and holding it while
// the healer sends the start message and the latest state orders that catch-up
// against the serial side's own messages (see heal()). Lock order: sendMutex_
// before mutex_.
class HostLinks final : public HostSender {
 public:
  enum LinkIndex : int { kEventLink = 0, kCommandLink = 1 };

  // Fills in, on the healer thread, what a host that has just been connected
  // again must be sent: the start message, then the latest state of what the
  // serial side has commanded. Called while sends are held back (see heal()).
  using ReplaySource = std::function<void(std::vector<std::string>& messages)>;

  HostLinks(Console& console, std::string address, int eventPort, int commandPort);
  ~HostLinks() override;  // closes, then joins the healer and every receiver
  HostLinks(const HostLinks&) = delete;
  HostLinks& operator=(const HostLinks&) = delete;

  // Before the first connect: installed on every connection made, now and
  // after each reconnection.
  void setCallback(HostConnection::Callback callback);
  // Before startHealing.
  void setReplaySource(ReplaySource source);
  // The pause before the first attempt after a loss, doubled after every
  // failed attempt up to `longest`.
  void setBackoff(std::chrono::milliseconds first, std::chrono::milliseconds longest);
  // Applies to the command link's answer wait, now and after reconnections.
  void setAnswerTimeout(int milliseconds);

  // Start-up: each makes one link (read, then write connection) with the
  // console texts of a failed connect; 0, or the failure's code. The event
  // link first, the command link second.
  int connectEventLink();
  int connectCommandLink();
  // Why a start-up connect of that link failed, for the line naming the cause.
  HostConnection::ConnectFailure connectFailure(LinkIndex index) const;

  // From now on a lost link is made again in the background. Before this, a
  // loss is only noted (and said), so start-up keeps its written course.
  void startHealing();

  // Shutdown: no more healing; both links (and an attempt under way) are
  // closed, which cuts every wait for the host short. Returns at once;
  // idempotent.
  void close();

  // On the command link. While the links are down: 0 at once, nothing tried.
  int sendAndAwaitAnswer(const char* text) override;

  // Both links connected and not lost since.
  bool up() const { return up_.load(); }
  // Times the links have come back after a loss.
  int reconnections() const;

 private:
  // Passes the connections' own texts on, except during an attempt in the
  // background, whose failures the one line of the outage already covers.
  class Voice final : public Console {
   public:
    explicit Voice(Console& target) : target_(target) {}
    void setOn(bool on) { on_.store(on); }
    void out(std::string_view text) override {
      if (on_.load()) target_.out(text);
    }
    void err(std::string_view text) override {
      if (on_.load()) target_.err(text);
    }

   private:
    Console& target_;
    std::atomic<bool> on_{true};
  };

  std::unique_ptr<HostConnection> makeConnection(int index);
  int connectAtStartUp(int index, int port);
  void linkEnded(HostConnection& connection, int index, const std::string& reason);
  int sendOn(HostConnection& link, const char* text);
  void heal();
  void tearDown();
  bool attempt();

  Console& console_;
  Voice voice_;
  const std::string address_;
  const int ports_[2];
  HostConnection::Callback callback_;
  ReplaySource replaySource_;
  std::chrono::milliseconds firstPause_{500};
  std::chrono::milliseconds longestPause_{5000};
  std::atomic<int> answerTimeoutMs_{HostConnection::kAnswerTimeoutMs};

  std::mutex sendMutex_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::unique_ptr<HostConnection> live_[2];  // guarded by mutex_
  HostConnection* attempt_[2] = {};          // guarded by mutex_
  bool lost_ = false;                        // guarded by mutex_
  bool stopping_ = false;                    // guarded by mutex_
  int reconnections_ = 0;                    // guarded by mutex_
  std::atomic<bool> up_{false};              // written under mutex_
  std::thread healer_;                       // owner thread only
};

}  // namespace p50x
