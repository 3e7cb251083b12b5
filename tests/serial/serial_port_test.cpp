// The serial port engine on real pseudo-terminals: the test holds the master
// side and plays the control software; the engine opens the slave by path.
#include "serial/serial_port.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/callbacks.h"
#include "serial_test_support.h"
#include "station/command_assembler.h"
#include "station/station_state.h"
#include "support/recording.h"

namespace p50x {
namespace {

using test::Bytes;
using test::Notes;
using test::readBytes;
using test::RecordingConsole;
using test::RecordingTrafficLog;
using test::waitFor;
using test::writeBytes;

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[128] = {};
    ASSERT_EQ(::openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    path_ = name;
    port_.setTrafficLog(&log_);
  }
  void TearDown() override {
    port_.stop();
    port_.close();
    if (master_ >= 0) ::close(master_);
    ::close(slave_);
  }
  int open(int baud = 57600) { return port_.open(path_.c_str(), baud, 0, 8, 1); }
  // Records every notification and does what the serial callback does, with
  // `onByte` in place of the command assembler.
  void install(std::function<void(SerialPort&)> onByte = {}) {
    port_.setCallback([this, onByte](SerialPort& port, int code) {
      notes_.add(port, code);
      if (code != kSerialDataReceived) return;
      log_.logReceived(port.bytesRead(), port.readBuffer());
      if (onByte) onByte(port);
      port.reArmRead();
    });
  }

  int master_ = -1;
  int slave_ = -1;
  std::string path_;
  RecordingConsole console_;
  RecordingTrafficLog log_;
  Notes notes_;
  SerialPort port_{console_};
};

TEST_F(SerialPortTest, EachByteIsOneDeliveryHandledBeforeTheNextIsRead) {
  std::mutex mutex;
  std::vector<int> stillQueued;  // bytes not yet read while each one is handled
  install([&](SerialPort&) {
    int queued = -1;
    ::ioctl(slave_, FIONREAD, &queued);
    std::lock_guard<std::mutex> lock(mutex);
    stillQueued.push_back(queued);
  });
  ASSERT_EQ(open(), kOpenOk);
  writeBytes(master_, {'a', 'b', 'c'});
  ASSERT_TRUE(waitFor([&] {
    std::lock_guard<std::mutex> lock(mutex);
    return stillQueued.size() == 3;
  }));
  EXPECT_EQ(notes_.deliveries(), (std::vector<Bytes>{{'a'}, {'b'}, {'c'}}));
  EXPECT_EQ(stillQueued, (std::vector<int>{2, 1, 0}));
  EXPECT_EQ(log_.text(), "R 61 R 62 R 63");
  EXPECT_EQ(notes_.count(kSerialStarted), 1);
}

// The read that waits for a byte says so; the bytes queued behind it are
// read at once, which tells the assembler it need not time them.
TEST_F(SerialPortTest, ADeliveryTellsWhetherItsReadWaited) {
  std::mutex mutex;
  std::vector<bool> waited;
  install([&](SerialPort& port) {
    std::lock_guard<std::mutex> lock(mutex);
    waited.push_back(port.readWaited());
  });
  ASSERT_EQ(open(), kOpenOk);
  ASSERT_TRUE(waitFor([&] { return port_.running(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the first read is waiting
  writeBytes(master_, {'a', 'b', 'c'});
  ASSERT_TRUE(waitFor([&] {
    std::lock_guard<std::mutex> lock(mutex);
    return waited.size() == 3;
  }));
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(waited, (std::vector<bool>{true, false, false}));
}

TEST_F(SerialPortTest, ReplyWrittenInsideTheCallbackLeavesOnlyAfterItReturns) {
  std::atomic<bool> lineQuietDuringCallback{false};
  install([&](SerialPort& port) {
    port.write(test::bytes({0x55}).data(), 1);
    pollfd p{master_, POLLIN, 0};
    lineQuietDuringCallback = ::poll(&p, 1, 20) == 0;
  });
  ASSERT_EQ(open(), kOpenOk);
  writeBytes(master_, {'a'});
  EXPECT_EQ(readBytes(master_, 1), test::bytes({0x55}));
  EXPECT_TRUE(lineQuietDuringCallback);
}

TEST_F(SerialPortTest, WritesMadeWhileOneIsPendingAreQueuedInOrderFromBothThreads) {
  // Two replies from one callback: the second used to be lost.
  install([](SerialPort& port) {
    const Bytes first = test::bytes({0xE0, 0xE1});
    const Bytes second = test::bytes({0xE2, 0xE3});
    port.write(first.data(), 2);
    port.write(second.data(), 2);
  });
  ASSERT_EQ(open(), kOpenOk);
  writeBytes(master_, {'a'});
  EXPECT_EQ(readBytes(master_, 4), test::bytes({0xE0, 0xE1, 0xE2, 0xE3}));
  EXPECT_EQ(log_.text(), "R 61 S e0 e1 S e2 e3");

  // Typed keys from this thread while the worker answers a burst of bytes.
  writeBytes(master_, Bytes(50, 'b'));
  for (std::uint8_t key = 0; key < 200; ++key) port_.write(&key, 1);
  const Bytes line = readBytes(master_, 200 + 50 * 4);
  Bytes keys;
  Bytes replies;
  for (std::uint8_t b : line) (b < 200 ? keys : replies).push_back(b);
  ASSERT_EQ(keys.size(), 200u);
  for (std::size_t i = 0; i < keys.size(); ++i) ASSERT_EQ(keys[i], i);
  ASSERT_EQ(replies.size(), 200u);
  for (std::size_t i = 0; i < replies.size(); ++i) ASSERT_EQ(replies[i], 0xE0 + i % 4);
}

TEST_F(SerialPortTest, FiftyPipelinedVersionQueriesGetFiftyReplies) {
  StationState station;
  CommandAssembler assembler(port_, console_);
  StationTargets targets;
  targets.station = &station;
  assembler.setTargets(targets);
  port_.setCallback(
      [&](SerialPort& port, int code) { serialCallback(port, code, &log_, &assembler); });
  ASSERT_EQ(open(), kOpenOk);
  Bytes burst;
  for (int i = 0; i < 50; ++i) burst.insert(burst.end(), {'X', 0xA0});
  writeBytes(master_, burst);
  const Bytes version = test::bytes({0x03, 0x01, 0x04, 0x06, 0x04, 0x00, 0x13, 0x07, 0x56, 0x00});
  Bytes expected;
  for (int i = 0; i < 50; ++i) expected.insert(expected.end(), version.begin(), version.end());
  EXPECT_EQ(readBytes(master_, expected.size()), expected);
  EXPECT_TRUE(log_.text().starts_with("R 58 R a0 S 03 01 04 06 04 00 13 07 56 00 R 58 "));
  port_.stop();
  port_.close();
}

TEST_F(SerialPortTest, WriteAcceptsUpTo255BytesAndLogsEvenWhatItDrops) {
  install();
  ASSERT_EQ(open(), kOpenOk);
  const Bytes longest(255, 0x11);
  port_.write(longest.data(), 255);
  EXPECT_EQ(readBytes(master_, 255), longest);
  ASSERT_TRUE(waitFor([&] { return notes_.count(kSerialWriteDone) == 1; }));
  port_.write(longest.data(), 0);  // accepted: completes with nothing sent
  ASSERT_TRUE(waitFor([&] { return notes_.count(kSerialWriteDone) == 2; }));

  const Bytes tooLong(256, 0x22);
  port_.write(tooLong.data(), 256);
  port_.write(nullptr, 1);
  port_.write(tooLong.data(), -1);
  port_.write(test::bytes({0x33}).data(), 1);
  EXPECT_EQ(readBytes(master_, 1), test::bytes({0x33}));

  std::string dropped = "S";
  for (int i = 0; i < 256; ++i) dropped += " 22";
  EXPECT_NE(log_.text().find(dropped + " S"), std::string::npos);
}

TEST_F(SerialPortTest, FullQueueDropsWholeWritesAndKeepsTheRestInOrder) {
  install();
  ASSERT_EQ(open(), kOpenOk);
  // Nobody reads the line: the pseudo-terminal fills, then the queue. Each
  // write carries its number in its first two bytes and in every other byte.
  constexpr int kChunks = 1000;
  const auto chunk = [](int k) {
    Bytes bytes(255, static_cast<std::uint8_t>(k));
    bytes[0] = static_cast<std::uint8_t>(k >> 8);
    return bytes;
  };
  for (int k = 0; k < kChunks; ++k) port_.write(chunk(k).data(), 255);
  // A marker write, repeated until the queue has room for it, shows where the
  // accepted writes end.
  const Bytes marker(255, 0xFF);
  Bytes line;
  std::size_t chunks = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < end) {
    while ((chunks + 1) * 255 <= line.size() && line[chunks * 255] != 0xFF) ++chunks;
    if ((chunks + 1) * 255 <= line.size()) break;
    port_.write(marker.data(), 255);
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    std::uint8_t buffer[4096];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n > 0) line.insert(line.end(), buffer, buffer + n);
  }
  ASSERT_LE((chunks + 1) * 255, line.size()) << "no marker: a write went out in part";
  EXPECT_LT(chunks, static_cast<std::size_t>(kChunks));
  EXPECT_GE(chunks, SerialPort::kWriteQueueSize / 255);
  int previous = -1;
  for (std::size_t c = 0; c < chunks; ++c) {
    const int k = line[c * 255] << 8 | line[c * 255 + 1];
    ASSERT_GT(k, previous) << "chunk " << c << " out of order";
    ASSERT_EQ(Bytes(line.begin() + c * 255, line.begin() + (c + 1) * 255), chunk(k));
    previous = k;
  }
}

TEST_F(SerialPortTest, OpenReportsOneResultCode) {
  EXPECT_EQ(port_.open(nullptr, 57600, 0, 8, 1), kOpenNoPortName);
  EXPECT_EQ(port_.open("NULL", 57600, 0, 8, 1), kOpenDeviceFailed);
  EXPECT_EQ(port_.open(path_.c_str(), 12345, 0, 8, 1), kOpenSetCommStateFailed);
  EXPECT_EQ(port_.open(path_.c_str(), 57600, 0, 9, 1), kOpenSetCommStateFailed);
  EXPECT_FALSE(port_.running());
  ASSERT_EQ(open(), kOpenOk);
  {
    SerialPort second(console_);
    EXPECT_EQ(second.open(path_.c_str(), 57600, 0, 8, 1), kOpenDeviceFailed);
  }
  port_.stop();
  port_.close();
  EXPECT_EQ(open(), kOpenEventsReleased);
}

TEST_F(SerialPortTest, ReadSizeIsKeptBetweenOneAnd256) {
  port_.setReadSize(-3);
  install([](SerialPort& port) {
    if (port.readBuffer()[0] == 'b') port.setReadSize(300);
  });
  ASSERT_EQ(open(), kOpenOk);
  writeBytes(master_, {'a', 'b'});
  ASSERT_TRUE(waitFor([&] { return notes_.deliveries().size() == 2; }));
  writeBytes(master_, Bytes(512, 'c'));
  ASSERT_TRUE(waitFor([&] { return notes_.deliveries().size() == 4; }));
  const auto deliveries = notes_.deliveries();
  EXPECT_EQ(deliveries[0].size(), 1u);
  EXPECT_EQ(deliveries[1].size(), 1u);
  EXPECT_EQ(deliveries[2].size(), 256u);
  EXPECT_EQ(deliveries[3].size(), 256u);
}

TEST_F(SerialPortTest, StopNotifiesClosedOnceAndReleasesTheDevice) {
  install();
  ASSERT_EQ(open(), kOpenOk);
  ASSERT_TRUE(waitFor([&] { return port_.running(); }));
  port_.stop();
  EXPECT_FALSE(port_.running());
  EXPECT_EQ(notes_.count(kSerialClosed), 1);
  SerialPort next(console_);
  EXPECT_EQ(next.open(path_.c_str(), 57600, 0, 8, 0), kOpenOk);
  next.stop();
  next.close();
  port_.close();
  EXPECT_EQ(notes_.count(kSerialClosed), 1);
  EXPECT_EQ(console_.outText(), "");
}

TEST_F(SerialPortTest, LineIsRawWithTheGivenRateAndParity) {
  // A pseudo-terminal keeps no parity, so "none" is all that can be seen here.
  for (const auto& [baud, speed] : {std::pair{57600, B57600}, std::pair{115200, B115200}}) {
    SerialPort port(console_);
    ASSERT_EQ(port.open(path_.c_str(), baud, 0, 8, 1), kOpenOk) << baud;
    termios mode{};
    ASSERT_EQ(::tcgetattr(slave_, &mode), 0);
    EXPECT_EQ(::cfgetospeed(&mode), speed);
    EXPECT_EQ(::cfgetispeed(&mode), speed);
    EXPECT_EQ(mode.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(mode.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(mode.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(mode.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(mode.c_oflag & OPOST, 0u);
    EXPECT_EQ(mode.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    port.stop();
    port.close();
  }
}

TEST_F(SerialPortTest, LostLineIsSaidOnceOnTheConsole) {
  install();
  ASSERT_EQ(open(), kOpenOk);
  ::close(master_);
  master_ = -1;
  ASSERT_TRUE(waitFor([&] { return notes_.count(kSerialClosed) == 1; }));
  EXPECT_EQ(console_.outText(), "Serielle Verbindung verloren: Input/output error\n");
  EXPECT_FALSE(port_.running());
  port_.write(test::bytes({0x01}).data(), 1);  // accepted and kept, never crashes
}

TEST_F(SerialPortTest, StopAndCloseAreSafeWhileACallbackWaitsForTheHost) {
  std::mutex mutex;
  std::condition_variable changed;
  bool inCallback = false;
  bool released = false;
  std::atomic<bool> callbackDone{false};
  install([&](SerialPort&) {
    std::unique_lock<std::mutex> lock(mutex);
    inCallback = true;
    changed.notify_all();
    changed.wait(lock, [&] { return released; });
    callbackDone = true;
  });
  ASSERT_EQ(open(), kOpenOk);
  writeBytes(master_, {'a'});
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(5), [&] { return inCallback; }));
  }
  port_.stop();  // gives up after its two seconds
  EXPECT_EQ(notes_.count(kSerialClosed), 0);

  std::atomic<bool> closeReturned{false};
  std::thread closer([&] {
    port_.close();
    closeReturned = true;
  });
  EXPECT_FALSE(waitFor([&] { return closeReturned.load(); }, std::chrono::milliseconds(100)));
  {
    std::lock_guard<std::mutex> lock(mutex);
    released = true;
  }
  changed.notify_all();
  closer.join();
  EXPECT_TRUE(callbackDone);
  EXPECT_EQ(notes_.count(kSerialClosed), 1);
  EXPECT_EQ(notes_.deliveries().size(), 1u);
}

// pty:PATH — the bridge makes the pseudo-terminal and links PATH to it.
class PtyModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/p50x-pty-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    ::unlink((dir_ + "/tty").c_str());
    ::unlink((dir_ + "/file").c_str());
    ::rmdir(dir_.c_str());
  }
  std::string dir_;
  RecordingConsole console_;
};

TEST_F(PtyModeTest, PeerMayCloseAndReopenTheLinkAndAStaleLinkIsReplaced) {
  const std::string link = dir_ + "/tty";
  ASSERT_EQ(::symlink("/nonexistent/earlier-run", link.c_str()), 0);
  SerialPort port(console_);
  port.setCallback([](SerialPort& p, int code) {
    if (code == kSerialDataReceived) {
      const std::uint8_t answer = static_cast<std::uint8_t>(p.readBuffer()[0] + 1);
      p.write(&answer, 1);
    }
    serialCallback(p, code, nullptr, nullptr);
  });
  ASSERT_EQ(port.open(("pty:" + link).c_str(), 57600, 0, 8, 1), kOpenOk);
  struct stat info {};
  ASSERT_EQ(::lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));

  for (std::uint8_t round = 0; round < 3; ++round) {
    const int peer = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(peer, 0);
    const std::uint8_t ask = static_cast<std::uint8_t>('a' + round);
    ASSERT_EQ(::write(peer, &ask, 1), 1);
    EXPECT_EQ(readBytes(peer, 1), test::bytes({ask + 1})) << "round " << int(round);
    ::close(peer);
  }
  EXPECT_TRUE(port.running());
  port.stop();
  port.close();
  EXPECT_NE(::lstat(link.c_str(), &info), 0) << "the link outlived the bridge";
  EXPECT_EQ(console_.outText(), "");
}

// Like a real serial device: the serial devices' group may read and write it.
TEST_F(PtyModeTest, TheTerminalBelongsToTheDialoutGroupWithMode0660) {
  const std::string link = dir_ + "/tty";
  SerialPort port(console_);
  ASSERT_EQ(port.open(("pty:" + link).c_str(), 57600, 0, 8, 1), kOpenOk);
  struct stat info {};
  ASSERT_EQ(::stat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));
  EXPECT_EQ(info.st_mode & 07777, 0660u);
  const group* dialout = ::getgrnam("dialout");
  // Only root or a member may give a file to a group.
  gid_t groups[256];
  const int count = ::getgroups(256, groups);
  const bool mayGive =
      dialout != nullptr && (::geteuid() == 0 || std::find(groups, groups + std::max(count, 0),
                                                           dialout->gr_gid) != groups + count);
  if (mayGive) {
    EXPECT_EQ(info.st_gid, dialout->gr_gid);
    EXPECT_EQ(console_.outText(), "");
  } else {
    std::cout << "[   NOTE   ] "
              << (dialout == nullptr ? "no group dialout on this machine"
                                     : "not root and not in group dialout")
              << ": the terminal's group is not checked\n";
  }
  port.stop();
  port.close();
}

TEST_F(PtyModeTest, AnythingButALinkAtThePathIsLeftAlone) {
  const std::string file = dir_ + "/file";
  std::ofstream(file) << "keep";
  SerialPort port(console_);
  EXPECT_EQ(port.open(("pty:" + file).c_str(), 57600, 0, 8, 1), kOpenDeviceFailed);
  EXPECT_NE(console_.outText().find(file), std::string::npos);
  std::ifstream in(file);
  std::string content;
  in >> content;
  EXPECT_EQ(content, "keep");
}

}  // namespace
}  // namespace p50x
