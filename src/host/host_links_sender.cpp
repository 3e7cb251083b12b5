// The sender thread of the host links: it alone sends on the command link's
// write connection, one message at a time, each followed by the wait for the
// host's answer, so the serial side only ever posts and never waits.
#include <string>
#include <system_error>
#include <vector>

#include "host/host_links.h"

namespace p50x {

void HostLinks::startSender() {
  if (sender_.joinable()) return;
  try {
    sender_ = std::thread([this] { serve(); });
  } catch (const std::system_error& error) {
    console_.print("Host messages cannot be sent: no thread (%s)\n", error.what());
  }
}

void HostLinks::serve() {
  std::string text;
  for (;;) {
    if (saidBehind_.load() && outbox_.size() == 0) {
      saidBehind_.store(false);
      console_.out("Host has caught up.\n");
    }
    const HostOutbox::Work work = outbox_.next(text);
    if (work == HostOutbox::Work::kFinished) break;
    bool catchUpDue = false;
    const std::shared_ptr<HostConnection> link = commandLinkIfUp(catchUpDue);
    // While the links are down what is taken is dropped: the catch-up after
    // the reconnection carries the state it would have told.
    if (!link) continue;
    // A message taken before the links came back is covered by the catch-up
    // too, and must not reach the new connection before its start message.
    if (catchUpDue) {
      catchUp(*link, CatchUp::kReconnected);
    } else if (work == HostOutbox::Work::kFellBehind) {
      catchUp(*link, CatchUp::kFellBehind);
    } else if (work == HostOutbox::Work::kMessage) {
      deliver(*link, text.c_str());
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    senderDone_ = true;
  }
  changed_.notify_all();
}

std::shared_ptr<HostConnection> HostLinks::commandLinkIfUp(bool& catchUpDue) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!up_.load() || !live_[kCommandLink]) return nullptr;
  catchUpDue = catchUpDue_;
  catchUpDue_ = false;
  return live_[kCommandLink];
}

// True when delivered: answered, or its answer's time ran out on a connection
// that is still open. Otherwise the link has ended (and is reported), and the
// catch-up after the reconnection covers the message.
bool HostLinks::deliver(HostConnection& link, const char* text) {
  if (link.sendAndAwaitAnswer(text) == 0) {
    if (link.lastSendError() != 0) {
      linkEnded(link, kCommandLink,
                "send failed with error: " + std::to_string(link.lastSendError()));
    }
    return false;
  }
  if (link.lastAnswerLength() == 0 && link.writeEnded()) return false;
  delivered_.fetch_add(1);
  return true;
}

void HostLinks::catchUp(HostConnection& link, CatchUp why) {
  // Cleared before the state is read: every message waiting was posted after
  // its change was made, so the state read below holds it. What is posted
  // from here on follows the catch-up.
  outbox_.clear();
  std::vector<std::string> messages;
  if (replaySource_) replaySource_(messages, why);
  for (const std::string& message : messages) {
    if (message.empty()) continue;
    // The link has ended: the next reconnection sends everything again.
    if (!deliver(link, message.c_str())) break;
  }
}

}  // namespace p50x
