// A serial adapter that goes away and comes back: the engine, told to look for
// a lost device again, opens the same port name as soon as it is there again.
// The adapter is played by a pseudo-terminal behind a symbolic link, replaced
// by a new one as replugging does.
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "serial/serial_port.h"
#include "support/recording.h"

namespace p50x {
namespace {

using namespace std::chrono_literals;
using test::RecordingConsole;
using test::waitFor;

// One byte from fd, or -1 after five seconds.
int readByte(int fd) {
  pollfd p{fd, POLLIN, 0};
  std::uint8_t byte = 0;
  if (::poll(&p, 1, 5000) <= 0 || ::read(fd, &byte, 1) != 1) return -1;
  return byte;
}

// A pseudo-terminal whose far end only the engine opens, by a link's path.
struct Adapter {
  int master = -1;
  std::string name;
  // The far end starts cooked at 9600 baud, so the engine's settings show.
  bool plug() {
    int slave = -1;
    char buffer[128] = {};
    if (::openpty(&master, &slave, buffer, nullptr, nullptr) != 0) return false;
    termios mode{};
    ::tcgetattr(slave, &mode);
    mode.c_lflag |= ICANON;
    ::cfsetspeed(&mode, B9600);
    ::tcsetattr(slave, TCSANOW, &mode);
    ::close(slave);
    name = buffer;
    return true;
  }
  void unplug() {
    if (master >= 0) ::close(master);
    master = -1;
  }
};

class SerialReopenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/p50x-reopen-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    link_ = dir_ + "/ttyUSB";
  }
  void TearDown() override {
    adapter_.unplug();
    std::remove(link_.c_str());
    ::rmdir(dir_.c_str());
  }
  // Points the link at the adapter in one step, as udev does.
  void pointLinkAtAdapter() {
    const std::string next = link_ + ".next";
    ASSERT_EQ(::symlink(adapter_.name.c_str(), next.c_str()), 0);
    ASSERT_EQ(std::rename(next.c_str(), link_.c_str()), 0);
  }
  void install(SerialPort& port) {
    port.setCallback([this](SerialPort& p, int code) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++counts_[code];
      }
      if (code != kSerialDataReceived) return;
      const std::uint8_t answer = static_cast<std::uint8_t>(p.readBuffer()[0] + 1);
      p.write(&answer, 1);
      p.reArmRead();
    });
  }
  int count(int code) {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_[code];
  }

  std::string dir_;
  std::string link_;
  Adapter adapter_;
  RecordingConsole console_;
  std::mutex mutex_;
  int counts_[7] = {};
};

TEST_F(SerialReopenTest, LostDeviceIsOpenedAgainWithItsSettingsAndServes) {
  ASSERT_TRUE(adapter_.plug());
  pointLinkAtAdapter();
  SerialPort port(console_);
  install(port);
  port.setReopenInterval(20ms);
  ASSERT_EQ(port.open(link_.c_str(), 57600, 0, 8, 1), kOpenOk);
  const std::uint8_t a = 'a';
  ASSERT_EQ(::write(adapter_.master, &a, 1), 1);
  EXPECT_EQ(readByte(adapter_.master), 'b');

  adapter_.unplug();
  ASSERT_TRUE(waitFor([&] { return count(kSerialClosed) == 1; }));
  EXPECT_FALSE(port.running());
  ASSERT_TRUE(adapter_.plug());
  pointLinkAtAdapter();
  ASSERT_TRUE(waitFor([&] { return count(kSerialStarted) == 2; }, 3000ms));

  const std::uint8_t c = 'c';
  ASSERT_EQ(::write(adapter_.master, &c, 1), 1);
  EXPECT_EQ(readByte(adapter_.master), 'd');
  termios mode{};
  ASSERT_EQ(::tcgetattr(adapter_.master, &mode), 0);
  EXPECT_EQ(::cfgetospeed(&mode), static_cast<speed_t>(B57600));
  EXPECT_EQ(mode.c_lflag & ICANON, 0u);
  EXPECT_EQ(console_.outText(),
            "Serielle Verbindung verloren: Input/output error\n"
            "Serielle Verbindung wieder offen: " +
                link_ + "\n");
  port.stop();
  port.close();
  EXPECT_EQ(count(kSerialClosed), 2);
}

TEST_F(SerialReopenTest, StopEndsTheWaitForALostDeviceAtOnce) {
  ASSERT_TRUE(adapter_.plug());
  pointLinkAtAdapter();
  // On the heap: should stop not end the wait, the thread below keeps them.
  auto* console = new RecordingConsole;
  auto* port = new SerialPort(*console);
  install(*port);
  port->setReopenInterval(std::chrono::hours(1));
  ASSERT_EQ(port->open(link_.c_str(), 57600, 0, 8, 1), kOpenOk);
  adapter_.unplug();
  ASSERT_TRUE(waitFor([&] { return count(kSerialClosed) == 1; }));

  std::atomic<bool> ended{false};
  std::thread stopping([&] {
    port->stop();
    port->close();
    ended = true;
  });
  if (!waitFor([&] { return ended.load(); }, 3000ms)) {
    stopping.detach();
    FAIL() << "stop waits for the next attempt to reopen";
  }
  stopping.join();
  delete port;
  delete console;
}

}  // namespace
}  // namespace p50x
