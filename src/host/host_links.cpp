#include "host/host_links.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace p50x {

namespace {
const char* linkName(int index) {
  return index == HostLinks::kEventLink ? "event link" : "command link";
}
}  // namespace

HostLinks::HostLinks(Console& console, std::string address, int eventPort, int commandPort)
    : console_(console),
      voice_(console),
      address_(std::move(address)),
      ports_{eventPort, commandPort} {}

HostLinks::~HostLinks() {
  close();
  if (healer_.joinable()) healer_.join();
  std::unique_ptr<HostConnection> old[2];
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

void HostLinks::setBackoff(std::chrono::milliseconds first, std::chrono::milliseconds longest) {
  firstPause_ = first;
  longestPause_ = longest;
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

std::unique_ptr<HostConnection> HostLinks::makeConnection(int index) {
  auto connection = std::make_unique<HostConnection>(voice_);
  connection->setCallback(callback_);
  connection->setAnswerTimeout(answerTimeoutMs_.load());
  connection->setEndHandler([this, index](HostConnection& ended, int error) {
    linkEnded(ended, index,
              error == 0 ? std::string("closed by the host")
                         : "recv failed with error: " + std::to_string(error));
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
    std::lock_guard<std::mutex> lock(mutex_);
    if (!lost_ && !stopping_ && live_[kEventLink] && !live_[kEventLink]->isClosed()) {
      up_.store(true);
    }
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

void HostLinks::close() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopping_ = true;
  up_.store(false);
  for (auto& link : live_) {
    if (link) link->close();
  }
  for (HostConnection* link : attempt_) {
    if (link != nullptr) link->close();
  }
  changed_.notify_all();
}

int HostLinks::sendAndAwaitAnswer(const char* text) {
  // While the host is away nothing is tried: the serial side goes on at its
  // own pace and the catch-up after the reconnection carries the state.
  if (!up_.load()) return 0;
  std::lock_guard<std::mutex> sending(sendMutex_);
  HostConnection* link = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!up_.load()) return 0;
    link = live_[kCommandLink].get();
  }
  // The link stays while sendMutex_ is held: tearDown takes it first.
  return sendOn(*link, text);
}

int HostLinks::sendOn(HostConnection& link, const char* text) {
  const int sent = link.sendAndAwaitAnswer(text);
  if (sent == 0 && link.lastSendError() != 0) {
    linkEnded(link, kCommandLink,
              "send failed with error: " + std::to_string(link.lastSendError()));
  }
  return sent;
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
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || lost_; });
    if (stopping_) return;
    lock.unlock();
    tearDown();
    voice_.setOn(false);
    std::chrono::milliseconds pause = firstPause_;
    for (;;) {
      lock.lock();
      if (changed_.wait_for(lock, pause, [this] { return stopping_; })) return;
      lock.unlock();
      if (attempt()) break;
      pause = std::min(pause * 2, longestPause_);
    }
    lock.lock();
  }
}

void HostLinks::tearDown() {
  {
    // Wakes both receivers and a send waiting for its answer.
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& link : live_) {
      if (link) link->close();
    }
  }
  std::unique_ptr<HostConnection> old[2];
  {
    std::lock_guard<std::mutex> sending(sendMutex_);
    std::lock_guard<std::mutex> lock(mutex_);
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

  // Held from before the links go live until the catch-up has been sent. A
  // serial command changes its table and then sends; if its send found the
  // links still down, the change was made before they went live and so is in
  // the snapshot below; otherwise the send waits here and follows the
  // catch-up. Either way the host ends up with the latest state.
  std::lock_guard<std::mutex> sending(sendMutex_);
  HostConnection* link = command.get();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || event->isClosed() || command->isClosed()) return false;
    live_[kEventLink] = std::move(event);
    live_[kCommandLink] = std::move(command);
    lost_ = false;
    up_.store(true);
    ++reconnections_;
  }
  voice_.setOn(true);
  console_.out("Host links connected again.\n");

  std::vector<std::string> messages;
  if (replaySource_) replaySource_(messages);
  for (const std::string& message : messages) {
    if (message.empty()) continue;
    // A failure has been reported and marks the links lost: the next
    // reconnection sends everything again.
    if (sendOn(*link, message.c_str()) == 0) break;
  }
  return true;
}

}  // namespace p50x
