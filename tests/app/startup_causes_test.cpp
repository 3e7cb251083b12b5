#include "app/startup_causes.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "serial/serial_port.h"
#include "support/recording.h"

namespace p50x {
namespace {

class SerialCause : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/p50x-cause-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    ::chmod(dir_.c_str(), 0700);
    std::system(("rm -rf " + dir_).c_str());
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
  }
  std::string file(const std::string& name) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path) << "x";
    return path;
  }
  // A terminal device of our own, like a serial port without a line.
  std::string terminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    EXPECT_TRUE(master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0 &&
                ::ptsname_r(master_, name, sizeof name) == 0);
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(slave_, 0);
    return name;
  }
  std::string report(const std::string& port, int result) {
    test::RecordingConsole console;
    reportSerialFailure(console, port.c_str(), 57600, result);
    return console.outText();
  }

  std::string dir_;
  int master_ = -1;
  int slave_ = -1;
};

// What "ERROR : com->connect N" meant for the port, found on the device.
TEST_F(SerialCause, EachFailureIsNamedWithThePort) {
  const std::string folder = dir_ + "/sub";
  ::mkdir(folder.c_str(), 0700);
  const std::string tty = terminal();
  struct Case {
    std::string port;
    int result;
    std::string reason;
  };
  std::vector<Case> cases = {
      {dir_ + "/ttyUSB9", kOpenDeviceFailed, "Geraet nicht vorhanden"},
      {"NULL", kOpenDeviceFailed, "Geraet nicht vorhanden"},
      {"pty:" + dir_ + "/gone/tty", kOpenDeviceFailed,
       "Ordner \"" + dir_ + "/gone\" nicht vorhanden"},
      {"pty:" + file("taken"), kOpenDeviceFailed,
       "\"" + dir_ + "/taken\" ist schon vorhanden und kein symbolischer Link"},
      {file("plain"), kOpenSetCommStateFailed, "kein serielles Geraet"},
      {folder, kOpenDeviceFailed, "kein serielles Geraet"},
      {tty, kOpenSetCommStateFailed,
       "Baudrate 57600 (Einstellung 9) vom Geraet nicht unterstuetzt"},
  };
  // Permissions do not hold for root.
  if (::geteuid() != 0) {
    const std::string locked = file("locked");
    ::chmod(locked.c_str(), 0);
    ::chmod(folder.c_str(), 0500);
    cases.push_back({locked, kOpenDeviceFailed, "keine Berechtigung zum Lesen und Schreiben"});
    cases.push_back({"pty:" + folder + "/tty", kOpenDeviceFailed,
                     "keine Berechtigung zum Anlegen im Ordner \"" + folder + "\""});
  }
  for (const Case& c : cases) {
    EXPECT_EQ(report(c.port, c.result),
              "Serieller Anschluss \"" + c.port + "\" (Einstellung 4): " + c.reason + ".\n");
  }
  // Another bridge holds the port: its lock says so.
  ASSERT_EQ(::flock(slave_, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(report(tty, kOpenDeviceFailed),
            "Serieller Anschluss \"" + tty +
                "\" (Einstellung 4): belegt: von einem anderen Programm geoeffnet.\n");
  EXPECT_EQ(report(tty, kOpenEventsReleased), "Serieller Anschluss: interner Fehler 32.\n");
}

}  // namespace
}  // namespace p50x
