// A step of start-up that may block for long (a file on a network path that
// hangs), run so that a stop request is still served while it does.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace p50x {

// How often a waiting step asks whether a stop request has come.
inline constexpr std::chrono::milliseconds kStopPoll{10};

// Runs `work` on a thread of its own and waits for its result, asking
// `stopRequested` every kStopPoll. True with `result` once the work is done;
// false when a stop request came first: the thread is then left to itself, so
// `work` must own everything it touches (copies of its inputs), and it ends
// with the process. Without a thread to be had the work runs here.
//
// Threads: called on the console thread; `work` runs on the new thread,
// `stopRequested` on the caller's.
template <typename Result>
bool runStoppable(std::function<Result()> work, const std::function<bool()>& stopRequested,
                  Result& result) {
  struct Shared {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<Result> value;  // guarded by mutex
  };
  auto shared = std::make_shared<Shared>();
  std::thread worker;
  try {
    worker = std::thread([shared, work] {
      Result value = work();
      std::lock_guard<std::mutex> lock(shared->mutex);
      shared->value.emplace(std::move(value));
      shared->done.notify_all();
    });
  } catch (const std::system_error&) {
    result = work();
    return true;
  }
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(shared->mutex);
      if (shared->done.wait_for(lock, kStopPoll, [&] { return shared->value.has_value(); })) break;
    }
    if (!stopRequested()) continue;
    worker.detach();
    return false;
  }
  worker.join();
  result = std::move(*shared->value);
  return true;
}

}  // namespace p50x
