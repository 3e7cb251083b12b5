// The Windows realisations where they differ from POSIX in ways that bite:
// Winsock must be started and released in balance, error numbers are Winsock's
// own, and a port that is not a serial device fails where the line settings go.
// Winsock first: windows.h would otherwise bring in the old Winsock 1.
#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "host/host_connection.h"
#include "host/host_test_support.h"
#include "host_simulator.h"
#include "platform/socket.h"
#include "serial/serial_port.h"
#include "support/recording.h"

namespace p50x::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// True while somebody in this process holds a start of the socket library.
bool socketLibraryStarted() {
  const platform::SocketHandle s = platform::createStreamSocket();
  if (s == platform::kInvalidSocket) {
    EXPECT_EQ(platform::lastSocketError(), WSANOTINITIALISED);
    return false;
  }
  platform::closeSocket(s);
  return true;
}

hostsim::Options freePorts() {
  hostsim::Options options;
  options.eventPort = 0;
  options.commandPort = 0;
  return options;
}

// A link is closed up to three times (by its receiver when the host ends the
// read connection, at shutdown, and by its destructor); released more often
// than started, it would take the library from every other user.
TEST(WinsockLibrary, EachLinkReleasesExactlyWhatItStarted) {
  ASSERT_FALSE(socketLibraryStarted()) << "every test here leaves the library as it found it";
  ASSERT_EQ(platform::startSocketLibrary(), 0);  // this test's own start
  {
    RecordingConsole console;
    hostsim::HostSimulator host(freePorts());
    ASSERT_TRUE(host.start()) << host.error();
    HostConnection link(console);
    ASSERT_EQ(link.connect("127.0.0.1", host.eventPort()), 0);
    ASSERT_TRUE(host.waitForConnections(2, 5000ms));
    ASSERT_TRUE(host.closeConnection(hostsim::Link::kEvent, hostsim::Role::kRead));
    ASSERT_TRUE(host.waitForClosed(2, 5000ms));  // the receiver has closed both of its sockets
    EXPECT_EQ(link.close(), 0);

    const int deadPort = host.commandPort();
    host.stop();
    HostConnection refused(console);
    EXPECT_EQ(refused.connect("127.0.0.1", deadPort), -1);
    EXPECT_EQ(console.outText(), "Read Connect error\n");
  }
  EXPECT_TRUE(socketLibraryStarted()) << "released more often than started";
  platform::releaseSocketLibrary();
  EXPECT_FALSE(socketLibraryStarted()) << "a start was never released";
}

TEST(WinsockErrors, AreWinsockNumbersNotErrno) {
  SocketLibraryUse library;
  const platform::SocketHandle listener = platform::listenIpv4("127.0.0.1", 0, 1);
  ASSERT_NE(listener, platform::kInvalidSocket);
  const int port = platform::localPort(listener);
  platform::closeSocket(listener);

  const platform::SocketHandle s = platform::createStreamSocket();
  ASSERT_NE(s, platform::kInvalidSocket);
  EXPECT_EQ(platform::connectIpv4(s, "127.0.0.1", port), -1);
  EXPECT_EQ(platform::lastSocketError(), WSAECONNREFUSED);
  platform::closeSocket(s);
}

// Each failure keeps its own code; none leaves a worker behind.
TEST(Win32SerialPort, OpenFailuresAreReportedByTheirCodes) {
  RecordingConsole console;
  SerialPort port(console);
  EXPECT_EQ(port.open(nullptr, 57600, 0, 8, 1), kOpenNoPortName);
  // The default setting names no device that exists.
  EXPECT_EQ(port.open("NULL", 57600, 0, 8, 1), kOpenDeviceFailed);

  // A plain file opens but takes no line settings.
  const fs::path file = fs::temp_directory_path() / "p50x-not-a-port.txt";
  std::ofstream(file) << "x";
  EXPECT_EQ(port.open(file.string().c_str(), 57600, 0, 8, 1), kOpenSetCommStateFailed);
  EXPECT_FALSE(port.running());
  fs::remove(file);

  port.close();
  EXPECT_EQ(port.open("NULL", 57600, 0, 8, 1), kOpenEventsReleased);
  EXPECT_EQ(console.outText(), "");
}

}  // namespace
}  // namespace p50x::test
