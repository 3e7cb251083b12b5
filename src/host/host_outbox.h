// The messages on their way to the host application: an ordered, bounded queue
// between the threads that post them and the one sender that delivers them.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

namespace p50x {

// Filled by the layout tables (the console thread during start-up, then the
// serial worker), drained by the host links' sender thread, one message at a
// time. mutex_ guards everything; it is held only to add, take or drop a
// message, never while a message is sent or its answer awaited, so posting
// never waits for the host.
//
// When full: while the host keeps up it receives every message, in order.
// When it falls `capacity` messages behind, a new message takes the place of
// the latest waiting one about the same locomotive or turnout (same code,
// same name: the later one says all the earlier one did). A message about
// something not yet waiting empties the queue instead and asks the sender to
// send the latest state of everything (Work::kFellBehind): the tables hold it,
// and it covers every message dropped. Either way memory stays bounded and a
// host that catches up ends with exactly the station's state.
class HostOutbox {
 public:
  // A few hundred messages are about a minute of busy driving; a host further
  // behind than that needs the state, not the history.
  static constexpr std::size_t kCapacity = 256;

  enum class Work {
    kMessage,     // text holds the next message
    kFellBehind,  // send the latest state of everything instead
    kWoken,       // wake() was called; nothing was taken
    kFinished,    // finish() was called and nothing is left
  };

  explicit HostOutbox(std::size_t capacity = kCapacity);

  // Never blocks beyond the lock. Returns true when this post made the outbox
  // start giving way (the first time since it last ran empty), so the caller
  // can say once that the host is falling behind. Dropped after finish().
  bool post(std::string_view text);

  // Blocks until there is work. Without posts or wakes it waits without a
  // time-out: an idle bridge makes no wake-ups.
  Work next(std::string& text);

  // Makes a waiting (or the next) next() return kWoken.
  void wake();
  // Drops every waiting message and a pending kFellBehind: what follows (a
  // catch-up from the tables' state) covers them.
  void clear();
  // From now on posts are dropped; next() hands out what is left, then
  // kFinished.
  void finish();

  std::size_t size() const;
  std::size_t capacity() const { return capacity_; }
  // Messages that gave way to a later one, or were dropped for the state.
  std::uint64_t givenWay() const;
  // True from the first message that gave way until the sender next asks for
  // work with nothing left.
  bool behind() const;

 private:
  struct Item {
    std::string text;
    std::size_t subjectLength;  // text[0, subjectLength) names what it is about
    std::size_t subjectHash;
  };

  const std::size_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Item> items_;      // guarded by mutex_
  bool fellBehind_ = false;     // guarded by mutex_
  bool woken_ = false;          // guarded by mutex_
  bool finished_ = false;       // guarded by mutex_
  bool behind_ = false;         // guarded by mutex_
  std::uint64_t givenWay_ = 0;  // guarded by mutex_
};

}  // namespace p50x
