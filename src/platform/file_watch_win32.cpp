#include <algorithm>
#include <thread>

#include "platform/file_watch.h"

namespace p50x::platform {

// Without a notice from the system: look again after a pause, twice a second
// at most. The follower compares sizes, so "Changed" only means "look".
struct FileWatch::State {};

FileWatch::FileWatch(const std::string&) : state_(std::make_unique<State>()) {}

FileWatch::~FileWatch() = default;

FileWatch::Event FileWatch::wait(std::chrono::milliseconds timeout) {
  std::this_thread::sleep_for(std::min(timeout, kPollInterval));
  return Event::Changed;
}

}  // namespace p50x::platform
