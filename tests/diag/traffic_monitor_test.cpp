#include "diag/traffic_monitor.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "support/recording.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

namespace p50x {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::bytes;

constexpr char kFailure[] =
    "Fehler beim \xC3\x96"
    "ffnen der Monitordateidatei.\n";
constexpr char kSeparator[] = "\n-------------\n";

// A monitor file path of its own per test, removed afterwards.
class TrafficMonitorTest : public ::testing::Test {
 protected:
  TrafficMonitorTest() {
    path_ = fs::temp_directory_path() /
            ("p50x-monitor-" + std::to_string(std::random_device{}()) + ".txt");
  }
  ~TrafficMonitorTest() override { fs::remove(path_); }

  // Read as the text file it is: on Windows its line ends are CR LF on disk.
  std::string contents() const {
    std::ifstream in(path_);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void received(const Bytes& b) { monitor_.logReceived(static_cast<int>(b.size()), b.data()); }
  void sent(const Bytes& b) { monitor_.logSent(static_cast<int>(b.size()), b.data()); }

  fs::path path_;
  test::RecordingConsole console_;
  TrafficMonitor monitor_{console_, kFailure};
};

TEST_F(TrafficMonitorTest, LinesAlternateByDirectionInTheExactFormat) {
  monitor_.open(path_.string().c_str());
  EXPECT_EQ(console_.outText(), "MonitorFlag=1\n");
  received(bytes({0x12}));
  received(bytes({0x34}));
  sent(bytes({0xA5, 0x5A}));
  received(bytes({0x0F}));
  sent(bytes({0x0A, 0xFF}));
  monitor_.close();
  EXPECT_EQ(contents(), std::string(kSeparator) + "\nR 12 34 \nS a5 5a \nR 0f \nS 0a ff ");
}

TEST_F(TrafficMonitorTest, CountOfZeroOrLessWritesOnlyTheHeaderOnAChange) {
  monitor_.open(path_.string().c_str());
  monitor_.logSent(0, nullptr);
  monitor_.logSent(-3, nullptr);
  monitor_.logReceived(-1, nullptr);
  received(Bytes(70, 0xAB));  // longer than one formatting chunk
  monitor_.close();
  std::string many;
  for (int i = 0; i < 70; ++i) many += "ab ";
  EXPECT_EQ(contents(), std::string(kSeparator) + "\nS \nR " + many);
}

TEST_F(TrafficMonitorTest, EachStartAppendsAfterWhatIsThere) {
  { std::ofstream(path_, std::ios::binary) << "old"; }
  monitor_.open(path_.string().c_str());
  sent(bytes({0x01}));
  monitor_.close();
  sent(bytes({0x02}));  // after close: not logged
  monitor_.open(path_.string().c_str());
  sent(bytes({0x03}));  // same direction as before, but a new start has a new header
  monitor_.close();
  EXPECT_EQ(contents(), "old" + std::string(kSeparator) + "\nS 01 " + kSeparator + "\nS 03 ");
}

TEST_F(TrafficMonitorTest, EmptyNameLeavesTheMonitorOffAndSilent) {
  monitor_.open("");
  received(bytes({0x12}));
  monitor_.close();
  EXPECT_FALSE(monitor_.enabled());
  EXPECT_EQ(console_.outText(), "");
  EXPECT_EQ(console_.errText(), "");
}

TEST_F(TrafficMonitorTest, FileThatWillNotOpenIsReportedAndLoggingStaysOff) {
  const fs::path missing = path_ / "no-such-dir" / "monitor.txt";
  monitor_.open(missing.string().c_str());
  EXPECT_EQ(console_.outText(), "MonitorFlag=1\n");
  EXPECT_EQ(console_.errText(), std::string(kFailure) + ": " + std::strerror(ENOENT) + "\n");
  EXPECT_FALSE(monitor_.enabled());
  received(bytes({0x12}));
  monitor_.close();
  EXPECT_FALSE(fs::exists(missing));
}

#ifndef _WIN32
// The file's size limit plays the full disk: writes beyond it fail (with
// "File too large"), and raising it lets them through again. Each change is
// said once; everything else goes on as before.
TEST_F(TrafficMonitorTest, WriteErrorsAreSaidOnceAndSoIsTheirEnd) {
  ::signal(SIGXFSZ, SIG_IGN);  // the limit is an error code, not the end of the test
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  monitor_.open(path_.string().c_str());
  rlimit small = saved;
  small.rlim_cur = 2000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const Bytes burst(100, 0x5A);
  for (int i = 0; i < 200; ++i) i % 2 ? sent(burst) : received(burst);
  const std::string failure =
      std::string("Fehler beim Schreiben der Monitordatei: ") + std::strerror(EFBIG) + "\n";
  EXPECT_EQ(console_.errText(), failure);

  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);
  sent(bytes({0x01}));
  sent(bytes({0x02}));
  EXPECT_EQ(console_.outText(), "MonitorFlag=1\nMonitordatei wird wieder geschrieben.\n");
  monitor_.close();
  EXPECT_EQ(console_.errText(), failure) << "said once";
  const std::string text = contents();
  EXPECT_EQ(text.substr(text.size() - 3), "02 ") << "logging goes on";
}
#endif

// A reply on the serial worker and a typed key on the console thread never
// share a line: every R line holds only received bytes, every S line only
// sent ones, each in whole calls.
TEST_F(TrafficMonitorTest, CallsFromTwoThreadsNeverInterleave) {
  monitor_.open(path_.string().c_str());
  constexpr int kCalls = 20000;
  // Both loggers start together. A mutex and a condition variable rather than
  // std::latch: the Windows build's library implements the latch's wait with
  // a pool that can miss a wake-up, and the test then hangs under Wine.
  std::mutex startMutex;
  std::condition_variable startCv;
  int arrived = 0;
  auto run = [&](bool send) {
    const Bytes b = send ? bytes({0xAA, 0xAA, 0xAA}) : bytes({0xBB, 0xBB, 0xBB});
    {
      std::unique_lock<std::mutex> lock(startMutex);
      if (++arrived == 2) startCv.notify_all();
      startCv.wait(lock, [&] { return arrived == 2; });
    }
    for (int i = 0; i < kCalls; ++i) send ? sent(b) : received(b);
  };
  std::thread a(run, true);
  std::thread b(run, false);
  a.join();
  b.join();
  monitor_.close();

  std::istringstream lines(contents());
  std::string line;
  std::size_t total = 0;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '-') continue;
    const std::string unit = line[0] == 'S' ? "aa " : "bb ";
    ASSERT_EQ((line.size() - 2) % 9, 0u) << line;
    for (std::size_t i = 2; i < line.size(); i += 3) ASSERT_EQ(line.substr(i, 3), unit) << line;
    total += (line.size() - 2) / 3;
  }
  EXPECT_EQ(total, 2u * kCalls * 3u);
}

}  // namespace
}  // namespace p50x
