// The waiting helper itself: it wakes for what the recording stand-ins record
// and sleeps in between, never spinning.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "support/recording.h"

namespace p50x::test {
namespace {

using namespace std::chrono_literals;

// A spinning wait evaluates its condition hundreds of thousands of times in
// the time these waits take; a sleeping one only a handful of times.
constexpr int kFewChecks = 40;

TEST(WaitFor, WakesForWhatAnotherThreadRecords) {
  RecordingConsole console;
  RecordingHostSender host;
  RecordingTrafficLog log;
  std::atomic<bool> flag{false};
  const std::uint8_t byte = 0x5A;
  struct Case {
    const char* what;
    std::function<void()> record;
    std::function<bool()> seen;
  };
  // RecordingSink is left out: it records for single-threaded tests only.
  const Case cases[] = {
      {"console", [&] { console.out("x"); }, [&] { return console.outText() == "x"; }},
      {"host sender", [&] { host.post("41;0\n"); },
       [&] { return host.messages().size() == 1; }},
      {"traffic log", [&] { log.logSent(1, &byte); }, [&] { return log.text() == "S 5a"; }},
      {"a test thread's flag",
       [&] {
         flag = true;
         notifyWaiters();
       },
       [&] { return flag.load(); }},
  };
  for (const Case& c : cases) {
    int checks = 0;
    std::thread recorder;
    // The recording starts only once the wait has begun.
    const bool seen = waitFor([&] {
      if (++checks == 1) recorder = std::thread(c.record);
      return c.seen();
    });
    recorder.join();
    EXPECT_TRUE(seen) << c.what;
    EXPECT_LE(checks, kFewChecks) << c.what;
  }
}

TEST(WaitFor, SleepsUntilTheDeadlineWhenNothingHappens) {
  int checks = 0;
  EXPECT_FALSE(waitFor(
      [&] {
        ++checks;
        return false;
      },
      300ms));
  EXPECT_GE(checks, 2);  // at the start and at the deadline
  EXPECT_LE(checks, kFewChecks);
}

}  // namespace
}  // namespace p50x::test
