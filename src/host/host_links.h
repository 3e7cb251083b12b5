// The bridge's two links to the host application as one: made in the start-up
// order, watched, and made again in the background whenever the host goes
// away, so a restarted host application needs no restart of the bridge.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "diag/console.h"
#include "host/host_connection.h"
#include "host/host_outbox.h"
#include "seams/host_sender.h"

namespace p50x {

// Threads: the owner (console thread) sets up, connects at start-up, starts
// healing and finishes; both receivers of each link run the callback and
// report the end of their connection, the command link's answer reader the
// end of its write connection; the serial worker (and the console thread at
// start-up) post; the sender thread alone sends, one message at a time, each
// followed by the wait for its answer; the healer thread tears lost links
// down and makes new ones.
//
// Guards: mutex_ covers the live links, the attempt in progress and the state
// marks; it is held only for short steps, never across a connect, a send, a
// wait for an answer or a join. The outbox has a lock of its own, as short.
// So posting, which is all the serial side does, never waits for the host.
class HostLinks final : public HostSender {
 public:
  enum LinkIndex : int { kEventLink = 0, kCommandLink = 1 };

  // Why the sender asks for the latest state instead of the messages it had.
  enum class CatchUp {
    kReconnected,  // the host was connected again: the start message first
    kFellBehind,   // the outbox gave way: the state covers what it dropped
  };
  // Fills in, on the sender thread, what the host must be sent: the latest
  // state of what the serial side has commanded (after the start message when
  // reconnected). Messages posted before the call are covered by it, so they
  // are dropped; later ones follow it.
  using ReplaySource = std::function<void(std::vector<std::string>& messages, CatchUp why)>;

  HostLinks(Console& console, std::string address, int eventPort, int commandPort,
            std::size_t outboxCapacity = HostOutbox::kCapacity);
  ~HostLinks() override;  // closes, then joins the healer and every receiver
  HostLinks(const HostLinks&) = delete;
  HostLinks& operator=(const HostLinks&) = delete;

  // Before the first connect: installed on every connection made, now and
  // after each reconnection.
  void setCallback(HostConnection::Callback callback);
  // Before startHealing.
  void setReplaySource(ReplaySource source);
  // The pause before the first attempt after a loss, doubled after every
  // failed attempt (and after every loss that follows a reconnection within
  // `stable`) up to `longest`; back to `first` once the links stayed up for
  // `stable`, so a host that drops every link at once is tried ever less often.
  void setBackoff(std::chrono::milliseconds first, std::chrono::milliseconds longest,
                  std::chrono::milliseconds stable = std::chrono::seconds(10));
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

  // Orderly shutdown: no more healing, no more posts; what is waiting is still
  // delivered while the links are up, for at most `budget` in all; then
  // close().
  void finish(std::chrono::milliseconds budget);
  // Shutdown at once: no more healing; both links (and an attempt under way)
  // are closed, which cuts every wait for the host short; what is waiting is
  // dropped. Returns at once; idempotent.
  void close();

  // Into the outbox, in order; delivered by the sender on the command link.
  // While the links are down the sender drops what it takes: the catch-up
  // after the reconnection carries the state.
  void post(const char* text) override;

  // Both links connected and not lost since.
  bool up() const { return up_.load(); }
  // Times the links have come back after a loss.
  int reconnections() const;
  // Messages waiting in the outbox.
  std::size_t waiting() const { return outbox_.size(); }
  // Messages handed to the host and answered (or whose answer's time ran out
  // on a connection still open).
  std::uint64_t delivered() const { return delivered_.load(); }

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

  std::shared_ptr<HostConnection> makeConnection(int index);
  int connectAtStartUp(int index, int port);
  void linkEnded(HostConnection& connection, int index, const std::string& reason);
  void heal();
  void tearDown();
  bool attempt();

  // host_links_sender.cpp: the sender thread.
  void startSender();
  void serve();
  std::shared_ptr<HostConnection> commandLinkIfUp(bool& catchUpDue);
  bool deliver(HostConnection& link, const char* text);
  void catchUp(HostConnection& link, CatchUp why);

  Console& console_;
  Voice voice_;
  const std::string address_;
  const int ports_[2];
  HostConnection::Callback callback_;
  ReplaySource replaySource_;
  std::chrono::milliseconds firstPause_{500};
  std::chrono::milliseconds longestPause_{5000};
  std::chrono::milliseconds stableAfter_{10000};
  std::atomic<int> answerTimeoutMs_{HostConnection::kAnswerTimeoutMs};

  HostOutbox outbox_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  // Shared with the sender while it sends on the command link, so a link torn
  // down under a send stays valid until the send has returned.
  std::shared_ptr<HostConnection> live_[2];          // guarded by mutex_
  HostConnection* attempt_[2] = {};                  // guarded by mutex_
  bool lost_ = false;                                // guarded by mutex_
  bool stopping_ = false;                            // guarded by mutex_: no more healing
  bool catchUpDue_ = false;                          // guarded by mutex_: links new
  bool senderDone_ = false;                          // guarded by mutex_
  int reconnections_ = 0;                            // guarded by mutex_
  std::chrono::steady_clock::time_point upSince_{};  // guarded by mutex_
  std::atomic<bool> up_{false};                      // written under mutex_
  std::atomic<bool> saidBehind_{false};
  std::atomic<std::uint64_t> delivered_{0};
  std::thread healer_;  // owner thread only
  std::thread sender_;  // owner thread only
};

}  // namespace p50x
