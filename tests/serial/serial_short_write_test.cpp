// The serial engine on a device stand-in whose writes complete short, as a
// Windows driver may with other time-out settings: every reply still reaches
// the line whole and in order, and each write is reported done only once all
// of it has gone.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/serial_device.h"
#include "serial/serial_port.h"
#include "support/recording.h"

namespace p50x {
namespace {

using test::Bytes;

// Events under one mutex; a write moves at most `chunk` bytes and completes at
// once with that count. Reads and modem waits never complete.
class ShortWriteDevice final : public platform::SerialDevice {
 public:
  explicit ShortWriteDevice(int chunk) : chunk_(chunk) {}

  bool eventsUsable() const override { return true; }
  void releaseEvents() override {}
  void signal(int index) override {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_[static_cast<std::size_t>(index)] = true;
    wake_.notify_all();
  }
  void reset(int index) override {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_[static_cast<std::size_t>(index)] = false;
  }
  int waitForLowestSignalled(int&) override {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      for (int i = 0; i < platform::kSerialEventCount; ++i) {
        auto& event = signalled_[static_cast<std::size_t>(i)];
        if (!event) continue;
        // The start events and stop reset themselves, as on Windows.
        if (i % 2 == 0) event = false;
        return i;
      }
      wake_.wait(lock);
    }
  }

  int openDevice(const char*) override { return 0; }
  bool isOpen() const override { return true; }
  bool setModemEventMask(bool) override { return true; }
  bool setZeroTimeouts() override { return true; }
  bool setLineSettings(const platform::LineSettings&) override { return true; }
  void closeDevice() override {}

  int startRead(std::uint8_t*, int) override { return 0; }
  int startWrite(const std::uint8_t* bytes, int length) override {
    const int moved = std::min(length, chunk_);
    std::function<void()> hook;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      hook = std::exchange(onFirstWrite, nullptr);
    }
    // While the first write is under way, as a reply the worker makes then.
    if (hook) hook();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      asked_.push_back(length);
      line_.insert(line_.end(), bytes, bytes + moved);
      result_ = platform::RequestResult{true, moved, 0};
    }
    signal(platform::kWriteDoneEvent);
    return 0;
  }
  int startModemWait(std::uint32_t*) override { return 0; }
  platform::RequestResult readResult() override { return {}; }
  platform::RequestResult writeResult() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return result_;
  }
  platform::RequestResult modemWaitResult() override { return {}; }
  bool modemLines(std::uint32_t&) override { return false; }
  std::string errorText(int) const override { return "stand-in"; }

  std::function<void()> onFirstWrite;  // set before the worker starts

  Bytes line() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return line_;
  }
  std::vector<int> asked() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return asked_;
  }

 private:
  const int chunk_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::array<bool, platform::kSerialEventCount> signalled_{};
  platform::RequestResult result_;
  Bytes line_;
  std::vector<int> asked_;
};

TEST(SerialShortWrite, TheRestOfAShortWriteGoesOutAtOnceBeforeTheNextWrite) {
  test::RecordingConsole console;
  auto owned = std::make_unique<ShortWriteDevice>(3);
  ShortWriteDevice& device = *owned;
  SerialPort port(console, std::move(owned));
  std::mutex mutex;
  int writesDone = 0;
  port.setCallback([&](SerialPort&, int code) {
    if (code != kSerialWriteDone) return;
    std::lock_guard<std::mutex> lock(mutex);
    ++writesDone;
  });
  const Bytes first = test::bytes({0x00, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15});
  const Bytes second = test::bytes({0x00, 0x20, 0x21, 0x22});
  device.onFirstWrite = [&] { port.write(second.data(), static_cast<int>(second.size())); };
  port.write(first.data(), static_cast<int>(first.size()));
  ASSERT_EQ(port.open("stand-in", 57600, 0, 8, 0), kOpenOk);

  Bytes both = first;
  both.insert(both.end(), second.begin(), second.end());
  ASSERT_TRUE(test::waitFor([&] {
    std::lock_guard<std::mutex> lock(mutex);
    return writesDone == 2;
  }));
  port.stop();
  port.close();
  EXPECT_EQ(device.line(), both);
  // 7 bytes sent 3 at a time, and only then the 4 accepted meanwhile.
  EXPECT_EQ(device.asked(), (std::vector<int>{7, 4, 1, 4, 1}));
  EXPECT_EQ(console.outText(), "");
}

}  // namespace
}  // namespace p50x
