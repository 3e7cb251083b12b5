#include "host/host_links.h"

#include <algorithm>
#include <memory>
#include <system_error>
#include <utility>

namespace p50x {

namespace {
const char* linkName(int index) {
  return index == HostLinks::kEventLink ? "event link" : "command link";
}
}  // namespace

HostLinks::HostLinks(Console& console, std::string address, int eventPort, int commandPort,
                     std::size_t outboxCapacity)
    : console_(console),
      voice_(console),
      address_(std::move(address)),
      ports_{eventPort, commandPort},
      outbox_(outboxCapacity) {}

HostLinks::~HostLinks() {
  close();
  if (healer_.joinable()) healer_.join();
  if (sender_.joinable()) sender_.join();
  std::shared_ptr<HostConnection> old[2];
  {
    std::lock_guard<std::mutex> lock(mutex_);
    old[0] = std::move(live_[0]);
    old[1] = std::move(live_[1]);
  }
  // Joins the receivers outside the lock: one may be reporting its end.
  old[0].reset();
  old[1].reset();
}

void HostLinks::setCallback(HostConnection::Callback callback) {
  callback_ = std::move(callback);
}

void HostLinks::setReplaySource(ReplaySource source) {
  replaySource_ = std::move(source);
}

void HostLinks::setBackoff(std::chrono::milliseconds first, std::chrono::milliseconds longest,
                           std::chrono::milliseconds stable) {
  firstPause_ = first;
  longestPause_ = longest;
  stableAfter_ = stable;
}

void HostLinks::setAnswerTimeout(int milliseconds) {
  answerTimeoutMs_.store(milliseconds);
  std::lock_guard<std::mutex> lock(mutex_);
  if (live_[kCommandLink]) live_[kCommandLink]->setAnswerTimeout(milliseconds);
}

int HostLinks::reconnections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reconnections_;
}

std::shared_ptr<HostConnection> HostLinks::makeConnection(int index) {
  auto connection = std::make_shared<HostConnection>(voice_);
  connection->setCallback(callback_);
  connection->setAnswerTimeout(answerTimeoutMs_.load());
  connection->setEndHandler([this, index](HostConnection& ended, HostConnection::Side side,
                                          int error) {
    if (side == HostConnection::Side::kRead) {
      linkEnded(ended, index,
                error == 0 ? std::string("closed by the host")
                           : "recv failed with error: " + std::to_string(error));
    } else if (index == kCommandLink) {
      // Every message goes on this connection: without it the host hears
      // nothing, so it ends the link as a lost read connection does. The
      // event link's write connection carries nothing, and a host may close
      // it as soon as it is made.
      linkEnded(ended, index,
                error == 0 ? std::string("write connection closed by the host")
                           : "write connection: recv failed with error: " + std::to_string(error));
    }
  });
  return connection;
}

int HostLinks::connectEventLink() {
  return connectAtStartUp(kEventLink, ports_[kEventLink]);
}

int HostLinks::connectCommandLink() {
  return connectAtStartUp(kCommandLink, ports_[kCommandLink]);
}

HostConnection::ConnectFailure HostLinks::connectFailure(LinkIndex index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return live_[index] ? live_[index]->connectFailure() : HostConnection::ConnectFailure{};
}

int HostLinks::connectAtStartUp(int index, int port) {
  HostConnection* connection = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || live_[index]) return -1;
    // Kept also when the connect fails: whatever it started is released with
    // the links, as a failed connect leaves it to its owner.
    live_[index] = makeConnection(index);
    connection = live_[index].get();
  }
  const int result = connection->connect(address_.c_str(), port);
  if (result == 0 && index == kCommandLink) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!lost_ && !stopping_ && live_[kEventLink] && !live_[kEventLink]->isClosed()) {
        up_.store(true);
        upSince_ = std::chrono::steady_clock::now();
      }
    }
    // From the moment the command link exists a sender serves it: the start
    // message is posted during start-up.
    startSender();
  }
  return result;
}

void HostLinks::startHealing() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (healer_.joinable() || stopping_) return;
  try {
    healer_ = std::thread([this] { heal(); });
  } catch (const std::system_error& error) {
    console_.print("Host links cannot be made again when lost: no thread (%s)\n", error.what());
  }
}

void HostLinks::finish(std::chrono::milliseconds budget) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  outbox_.finish();
  if (sender_.joinable()) {
    // A silent host would keep the sender at every message for the whole
    // answer time-out; the budget bounds the whole drain instead.
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, budget, [this] { return senderDone_; });
  }
  close();
  if (sender_.joinable()) sender_.join();
}

void HostLinks::close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    up_.store(false);
    for (auto& link : live_) {
      if (link) link->close();
    }
    for (HostConnection* link : attempt_) {
      if (link != nullptr) link->close();
    }
  }
  changed_.notify_all();
  outbox_.finish();
}

void HostLinks::post(const char* text) {
  if (text == nullptr || *text == '\0') return;
  if (outbox_.post(text) && !saidBehind_.exchange(true)) {
    console_.print(
        "Host is falling behind: %d messages wait for its answers. Older messages now give "
        "way to the latest state of their locomotive or turnout.\n",
        static_cast<int>(outbox_.capacity()));
  }
}

void HostLinks::linkEnded(HostConnection& connection, int index, const std::string& reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Only the first end of a live link counts: the other link, closed because
  // of it, and the connections of an attempt or of shutdown say nothing.
  if (stopping_ || lost_ || live_[index].get() != &connection) return;
  lost_ = true;
  up_.store(false);
  console_.print("Host link lost (%s): %s. Reconnecting in the background.\n", linkName(index),
                 reason.c_str());
  changed_.notify_all();
}

// The healer thread. While both links are up it sleeps without a time-out, so
// an idle bridge makes no wake-ups.
void HostLinks::heal() {
  std::chrono::milliseconds nextPause = firstPause_;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || lost_; });
    if (stopping_) return;
    // Judged when the links are lost, so no timer runs while they are up.
    if (std::chrono::steady_clock::now() - upSince_ >= stableAfter_) nextPause = firstPause_;
    lock.unlock();
    tearDown();
    voice_.setOn(false);
    std::chrono::milliseconds pause = nextPause;
    for (;;) {
      lock.lock();
      if (changed_.wait_for(lock, pause, [this] { return stopping_; })) return;
      lock.unlock();
      const bool made = attempt();
      nextPause = std::min(pause * 2, longestPause_);
      if (made) break;
      pause = nextPause;
    }
    lock.lock();
  }
}

void HostLinks::tearDown() {
  std::shared_ptr<HostConnection> old[2];
  {
    // Wakes both receivers and a send waiting for its answer; a send still
    // under way keeps its link until it returns.
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& link : live_) {
      if (link) link->close();
    }
    old[0] = std::move(live_[0]);
    old[1] = std::move(live_[1]);
  }
  old[0].reset();
  old[1].reset();
}

// One try at both links in the start-up order: event link read and write,
// command link read and write. True when they are up again.
bool HostLinks::attempt() {
  auto event = makeConnection(kEventLink);
  auto command = makeConnection(kCommandLink);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return false;
    attempt_[kEventLink] = event.get();
    attempt_[kCommandLink] = command.get();
  }
  const bool made = event->connect(address_.c_str(), ports_[kEventLink]) == 0 &&
                    command->connect(address_.c_str(), ports_[kCommandLink]) == 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    attempt_[kEventLink] = nullptr;
    attempt_[kCommandLink] = nullptr;
  }
  if (!made) return false;

  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || event->isClosed() || command->isClosed()) return false;
    live_[kEventLink] = std::move(event);
    live_[kCommandLink] = std::move(command);
    lost_ = false;
    up_.store(true);
    upSince_ = std::chrono::steady_clock::now();
    // Set with the links themselves, so the sender's first use of the new
    // command link is the catch-up (see commandLinkIfUp).
    catchUpDue_ = true;
    ++reconnections_;
  }
  voice_.setOn(true);
  console_.out("Host links connected again.\n");
  outbox_.wake();
  return true;
}

}  // namespace p50x
