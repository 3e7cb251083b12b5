#include "app/stoppable_step.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>

namespace p50x {
namespace {

using namespace std::chrono_literals;

TEST(StoppableStep, TheWorksResultComesBackWhenNoStopCame) {
  int asked = 0;
  std::string result;
  EXPECT_TRUE(runStoppable<std::string>([] { return std::string("read"); },
                                        [&] {
                                          ++asked;
                                          return false;
                                        },
                                        result));
  EXPECT_EQ(result, "read");
}

// Work that blocks (a file on a path that hangs) does not hold up a stop: the
// call returns, and the thread is left to end by itself with what it owns.
TEST(StoppableStep, AStopLeavesBlockedWorkBehind) {
  auto release = std::make_shared<std::promise<void>>();
  std::shared_future<void> released = release->get_future().share();
  auto finished = std::make_shared<std::atomic<bool>>(false);
  std::atomic<int> asked{0};
  int result = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(runStoppable<int>(
      [released, finished] {
        released.wait();
        finished->store(true);
        return 1;
      },
      [&] { return ++asked >= 3; }, result));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(asked.load(), 3);
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(finished->load());
  release->set_value();
  for (int i = 0; i < 500 && !finished->load(); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(finished->load());
}

}  // namespace
}  // namespace p50x
