// Wakes a follower when the file it follows may have changed: on the kernel's
// notice where there is one, otherwise after a pause.
#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace p50x::platform {

// Threads: one owner; no guard.
class FileWatch {
 public:
  // Where nothing tells of changes, the file is looked at this often at most.
  static constexpr std::chrono::milliseconds kPollInterval{500};

  explicit FileWatch(const std::string& path);
  ~FileWatch();
  FileWatch(const FileWatch&) = delete;
  FileWatch& operator=(const FileWatch&) = delete;

  enum class Event {
    Changed,   // written to, or perhaps: look
    Replaced,  // created, moved or deleted: read it again from its start
    TimedOut,
  };
  Event wait(std::chrono::milliseconds timeout);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace p50x::platform
